#!/usr/bin/env bash
# The largest runs of pdsi with 1 and 2 threads (and PDSI_BENCH_THREADS
# more counts), beside cat of the grid: best and median wall time of
# several runs and the peak memory (of one run more), on a full-size
# generated grid.
# Run by hand: bench/threads.sh [scratch-dir [build-dir]]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build/bench-data}
build=${2:-$root/build/default}
reps=${PDSI_BENCH_REPS:-5}
counts=${PDSI_BENCH_THREADS:-1 2}
cmake --build "$build" --target pdsi makegrid >/dev/null
mkdir -p "$dir" && cd "$dir"
[ -f pdsisc1850-2010.txt ] || "$build/tools/makegrid" --out pdsisc1850-2010.txt
source "$root/bench/timing.sh"
peakfile=$(mktemp)
trap 'rm -f "$peakfile"' EXIT
declare -A peaks
bench() { # name pdsi-args...
  local name=$1
  shift
  # The previous run's files written back first: the kernel's writing of
  # them would compete with this run for the cores.
  sync
  for n in $counts; do
    /usr/bin/time -f %M -o "$peakfile" "$build/cli/pdsi" extract --quiet --threads "$n" --out "out-$n" "$@"
    peaks[$name/$n]=$(tail -1 "$peakfile")
  done
  for _ in $(seq "$reps"); do
    for n in $counts; do
      one "$name/$n" "$build/cli/pdsi" extract --quiet --threads "$n" --out "out-$n" "$@"
    done
  done
  echo "$name"
  for n in $counts; do printf '  %2s threads: %s, %d KB peak\n' "$n" "$(stats "$name/$n")" "${peaks[$name/$n]}"; done
}
for _ in $(seq "$reps"); do one cat cat pdsisc1850-2010.txt; done
echo "cat of the grid: $(stats cat)"
bench "global 1850-2010, fraction .5" --years 1850:2010 --max-missing 0.5
bench "whole grid 1850-2010 (1.01), filled 1951-2010" --years 1850:2010 --max-missing 1.01 --fill 1951:2010
bench "76.25 to -38.75, fraction .5, 1981-2010, filled" --years 1981:2010 --lat=-38.75:76.25 --max-missing 0.5 \
  --fill 1981:2010
echo "  cells: $(($(wc -l < out-1/MonthlyPDSI.xy) - 3))"
bench "10x10 box 1850-2010" --years 1850:2010 --lat=36.25:58.75 --lon=-108.75:-86.25 --max-missing 0.5
