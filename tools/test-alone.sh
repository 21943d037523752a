#!/usr/bin/env bash
# Runs one test in a PID and mount namespace of its own, with its own /dev/shm: the driver's pose
# block and vistrel's search for the server by process name are system-wide, so tests that bring a
# device up would meet each other's block and processes if they ran side by side. Alone, they can.
# A non-root user gets the namespaces through a user namespace where the kernel allows it.
# `test-alone.sh --check` tells whether this machine allows it at all.
set -u
user=()
[ "$(id -u)" -eq 0 ] || user=(--map-root-user)
if [ "${1:-}" = --check ]; then
  exec unshare "${user[@]}" --mount --pid --kill-child --mount-proc --propagation private \
    bash -c 'mount -t tmpfs tmpfs /dev/shm' >/dev/null 2>&1
fi
# bash stays the namespace's first process (not exec'd over), so that it reaps what the test leaves
# orphaned, as init would; ctest's timeout kills unshare, and --kill-child takes the namespace with it.
exec unshare "${user[@]}" --mount --pid --kill-child --mount-proc --propagation private \
  bash -c 'mount -t tmpfs tmpfs /dev/shm || exit 125; "$@"; exit $?' test-alone "$@"
