#!/usr/bin/env bash
# Extraction and QC timings on a full-size generated grid, beside cat of
# the same file: best and median wall time of several runs, and the peak
# memory. Run by hand: bench/extract.sh [scratch-dir [build-dir]]
# Without a build dir it builds the default preset in the tree.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build/bench-data}
build=${2:-}
reps=${PDSI_BENCH_REPS:-7}
if [ -z "$build" ]; then
  build=$root/build/default
  cmake --preset default >/dev/null && cmake --build --preset default --target pdsiserver makegrid >/dev/null
else
  cmake --build "$build" --target pdsiserver makegrid >/dev/null
fi
mkdir -p "$dir" && cd "$dir"
[ -f pdsisc1850-2010.txt ] || "$build/tools/makegrid" --out pdsisc1850-2010.txt
bin=$build/app/pdsiserver
peakfile=$(mktemp)
trap 'rm -f "$peakfile"' EXIT
TIMEFORMAT=%3R
measure() { # name answers command...
  local name=$1 answers=$2 walls=() peak=0 t m
  shift 2
  for _ in $(seq "$reps"); do
    t=$( { time (printf "$answers" | /usr/bin/time -f %M -o "$peakfile" "$@" >/dev/null); } 2>&1 )
    walls+=("$t")
    m=$(tail -1 "$peakfile")
    if [ "$m" -gt "$peak" ]; then peak=$m; fi
  done
  printf '%s\n' "${walls[@]}" | sort -n | awk -v n="$name" -v p="$peak" \
    '{w[NR]=$1} END {printf "%s: best %.3f s, median %.3f s wall, %d KB peak\n", n, w[1], w[int((NR+1)/2)], p}'
}
run() { measure "$1" "$2" "$bin"; }
measure "cat" "" cat pdsisc1850-2010.txt
run "(a) whole grid 1850-2010" '\n\n1850\n2010\n80.0\n-60.0\n-180.0\n180.0\nT\n2.0\nF\n\n\n'
run "(b) 10x10 box 1850-2010" '\n\n1850\n2010\n58.75\n36.25\n-108.75\n-86.25\nT\n0.5\nF\n\n\n'
run "(c) one cell 2010" '\n\n2010\n2010\n46.25\n46.25\n-98.75\n-98.75\nT\n0.5\nF\n\n\n'
[ "${PDSI_BENCH_QC:-1}" = 0 ] && exit 0
run "QC (a) >2000 cells 1901-2010" '\n\n1901\n2010\n76.25\n-38.75\n-180.0\n180.0\nT\n0.9\nT\n\n1951\n2010\n\n\n\n'
run "QC (b) 10x10 1850-2010" '\n\n1850\n2010\n63.75\n41.25\n78.75\n101.25\nT\n0.9\nT\n\n1951\n2010\n\n\n\n'
