#!/usr/bin/env bash
# Runs the benchmarks of an optimised build (make bench) and writes their table as Markdown.
#   tools/bench.sh <build dir> <results file>
# Every figure comes from a program of the build that prints "ROW<tab>label<tab>value" lines;
# end-to-end figures each run in a process of their own (one load of the driver per process).
set -euo pipefail
build=${1:?build directory}
out=${2:?results file}
bin=$build/bin
work=$build/bench-run
rm -rf "$work"
mkdir -p "$work"
rows=$work/rows.tsv
: >"$rows"

# Runs a program, shows what it prints and keeps its table rows.
collect() {
  "$@" >"$work/output" 2>&1 || { cat "$work/output" >&2; echo "bench: failed: $*" >&2; exit 1; }
  grep -v '^ROW	' "$work/output" || true
  grep '^ROW	' "$work/output" | cut -f2- >>"$rows" || true
}

echo "== Micro-benchmarks (median of 5 repetitions)"
collect "$bin/micro_bench" --benchmark_repetitions=5 --benchmark_min_time=0.2 \
  --benchmark_report_aggregates_only=true

echo "== Instruction counts under Callgrind"
calls=1000
count_instructions() {  # case label
  valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file="$work/callgrind.$1" \
    "$bin/instruction_probe" "$1" "$calls" >"$work/output" 2>&1 || { cat "$work/output" >&2; exit 1; }
  local total
  total=$(awk '/^totals:/ { print $2 }' "$work/callgrind.$1")
  printf '%s\t%s\n' "$2" "$(( (total + calls / 2) / calls ))" | tee -a "$rows"
}
count_instructions update_frame "UpdateFrame, no pending events (instructions/call, Callgrind)"
count_instructions convert_pose "ConvertPose (instructions/call, Callgrind)"

echo "== End to end in the simulated host"
for measurement in notify notify_bluez reconnect reconnect_bluez pose_age lock_waits deactivate quit; do
  collect "$bin/e2e_bench" "$measurement"
done

cpu=$(awk -F': *' '/^model name/ { print $2; exit }' /proc/cpuinfo)
memory=$(awk '/^MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)
compiler=$(c++ --version | head -n 1)
{
  echo "# Benchmark results"
  echo
  echo "Run of \`make bench\` on $(date -u +%Y-%m-%d): ${cpu:-unknown CPU}, $(nproc) cores, $memory," \
       "$(uname -sr); $compiler, preset linux-release (-O2)."
  echo
  echo "| Figure | Value |"
  echo "|---|---|"
  while IFS=$'\t' read -r label value; do
    echo "| $label | $value |"
  done <"$rows"
} >"$out"
echo
cat "$out"
