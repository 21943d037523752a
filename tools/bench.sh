#!/usr/bin/env bash
# Runs the benchmarks of an optimised build (make bench) and writes their table as Markdown,
# beside the figures of the baseline run kept in baseline.tsv next to the results file.
#   tools/bench.sh <build dir> <results file> [<Windows build dir>]
# Every figure comes from a program of the build that prints "ROW<tab>label<tab>value" lines;
# end-to-end figures each run in a process of their own (one load of the driver per process).
# With a Windows build, vistrel.exe is also measured under Wine.
set -euo pipefail
build=${1:?build directory}
out=${2:?results file}
windows=${3:+$(cd "$3" && pwd)}
baseline=$(dirname "$out")/baseline.tsv
here=$(cd "$(dirname "$0")" && pwd)
loads=()  # 1-minute load averages, before and after each measurement
note_load() { loads+=("$(awk '{ print $1 }' /proc/loadavg)"); }
note_load
bin=$build/bin
work=$build/bench-run
rm -rf "$work"
mkdir -p "$work"
rows=$work/rows.tsv
: >"$rows"

# Runs a program, shows what it prints and keeps its table rows.
collect() {
  note_load
  "$@" >"$work/output" 2>&1 || { cat "$work/output" >&2; echo "bench: failed: $*" >&2; exit 1; }
  grep -v '^ROW	' "$work/output" || true
  grep '^ROW	' "$work/output" | cut -f2- >>"$rows" || true
  note_load
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
count_instructions frame_clock "Frame clock stamp in UpdateFrame: clock read and stamp (instructions/call, Callgrind)"
count_instructions convert_pose "ConvertPose (instructions/call, Callgrind)"

echo "== End to end in the simulated host"
for measurement in notify notify_bluez reconnect reconnect_bluez; do
  collect "$bin/e2e_bench" "$measurement"
done
# The pose path, vistrel's earlier fixed pace beside the frame pace: <pace> <rate> <frames> <seconds>.
# The frame pace's own runs are longer, so that its margin has time to settle.
pose_runs=("fixed 90 steady 15" "frames 90 steady 45" "fixed 144 steady 15" "frames 144 steady 30"
           "frames 90 paused 12" "frames 90 irregular 10")
for run in "${pose_runs[@]}"; do
  # shellcheck disable=SC2086 # the run is four words
  collect "$bin/e2e_bench" pose_age $run
done
for measurement in lock_waits lock_waits_fixed lock_stress deactivate quit; do
  collect "$bin/e2e_bench" "$measurement"
done
collect "$build/bench-restart/vrserver"
echo "== The link's way back to the rifle where real radios make it hard (simulated radio)"
for case in connected_hold connected_holder drop_hold drop_holder unreachable silent_watcher; do
  collect "$bin/link_bench" "$case"
done
echo "== Through BlueZ as bluetoothd really is (fake bluetoothd, private bus)"
for measurement in found notify deactivate; do
  collect "$bin/bluez_bench" "$measurement"
done
if [ -n "$windows" ]; then
  echo "== vistrel.exe under Wine"
  for run in "fixed 90 steady 15" "frames 90 steady 30"; do
    # shellcheck disable=SC2086
    collect "$here/wine-session.sh" "$windows" "$bin/e2e_bench" wine_relay "$windows" $run
  done
  collect "$here/wine-session.sh" "$windows" "$windows/wine-run.sh" "$windows/bench-restart/vrserver.exe" --wine
fi
load_range=$(printf '%s\n' "${loads[@]}" | sort -g | sed -n '1p;$p' | paste -sd' ')

cpu=$(awk -F': *' '/^model name/ { print $2; exit }' /proc/cpuinfo)
memory=$(awk '/^MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)
compiler=$(c++ --version | head -n 1)
wine=$([ -n "$windows" ] && /usr/lib/wine/wine64 --version 2>/dev/null || true)
# The baseline's value of a figure, by its label; "-" when the baseline did not measure it.
declare -A before=()
baseline_note=""
if [ -f "$baseline" ]; then
  while IFS=$'\t' read -r label value; do
    if [[ $label == "#"* ]]; then baseline_note=${label#"# "}; else before[$label]=$value; fi
  done <"$baseline"
fi
{
  echo "# Benchmark results"
  echo
  echo "Run of \`make bench\` on $(date -u +%Y-%m-%d): ${cpu:-unknown CPU}, $(nproc) cores, $memory," \
       "$(uname -sr); $compiler, preset linux-release (-O2)${wine:+; vistrel.exe of the windows preset under $wine}."
  echo "Load average (1 minute) during the run between ${load_range% *} and ${load_range#* } on $(nproc) cores:" \
       "the machine is shared, and figures taken under load are higher than those of an idle machine."
  echo
  echo "Baseline: ${baseline_note:-none}."
  echo
  echo "| Figure | Baseline | This run |"
  echo "|---|---|---|"
  while IFS=$'\t' read -r label value; do
    echo "| $label | ${before[$label]:--} | $value |"
  done <"$rows"
} >"$out"
echo
cat "$out"
