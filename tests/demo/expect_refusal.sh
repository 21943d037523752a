#!/bin/sh
# vrserver --demo with a package whose driver has no simulated radio must exit 2 and say why.
# usage: expect_refusal.sh <vrserver> <package root>
out=$("$1" --demo --plain --root "$2" 2>&1)
code=$?
echo "$out"
[ "$code" -eq 2 ] || { echo "expected exit code 2, got $code"; exit 1; }
echo "$out" | grep -q "demo cannot start: .*has no simulated radio" || { echo "no reason given"; exit 1; }
