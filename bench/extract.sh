#!/usr/bin/env bash
# Extraction and QC timings on a full-size generated grid, beside cat of
# the same file. Run by hand: bench/extract.sh [scratch-dir [build-dir]]
# Without a build dir it builds the default preset in the tree.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build/bench-data}
build=${2:-}
if [ -z "$build" ]; then
  build=$root/build/default
  cmake --preset default >/dev/null && cmake --build --preset default --target pdsiserver makegrid >/dev/null
else
  cmake --build "$build" --target pdsiserver makegrid >/dev/null
fi
mkdir -p "$dir" && cd "$dir"
[ -f pdsisc1850-2010.txt ] || "$build/tools/makegrid" --out pdsisc1850-2010.txt
bin=$build/app/pdsiserver
run() { # name answers
  for _ in 1 2 3; do printf "$2" | /usr/bin/time -f "$1: %e s wall, %M KB peak" "$bin" >/dev/null; done
}
for _ in 1 2 3; do /usr/bin/time -f "cat: %e s wall" sh -c 'cat pdsisc1850-2010.txt >/dev/null'; done
run "(a) whole grid 1850-2010" '\n\n1850\n2010\n80.0\n-60.0\n-180.0\n180.0\nT\n2.0\nF\n\n\n'
run "(b) 10x10 box 1850-2010" '\n\n1850\n2010\n58.75\n36.25\n-108.75\n-86.25\nT\n0.5\nF\n\n\n'
run "(c) one cell 2010" '\n\n2010\n2010\n46.25\n46.25\n-98.75\n-98.75\nT\n0.5\nF\n\n\n'
[ "${PDSI_BENCH_QC:-1}" = 0 ] && exit 0
run "QC (a) >2000 cells 1901-2010" '\n\n1901\n2010\n76.25\n-38.75\n-180.0\n180.0\nT\n0.9\nT\n\n1951\n2010\n\n\n\n'
run "QC (b) 10x10 1850-2010" '\n\n1850\n2010\n63.75\n41.25\n78.75\n101.25\nT\n0.9\nT\n\n1951\n2010\n\n\n\n'
