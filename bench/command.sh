#!/usr/bin/env bash
# pdsi beside pdsiserver on the same requests, on a full-size generated
# grid: the command must add nothing measurable (target: within 5 %).
# Best and median wall time of several runs, alternating the programs.
# Run by hand: bench/command.sh [scratch-dir [build-dir]]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build/bench-data}
build=${2:-$root/build/default}
reps=${PDSI_BENCH_REPS:-7}
cmake --build "$build" --target pdsiserver pdsi makegrid >/dev/null
mkdir -p "$dir" && cd "$dir"
[ -f pdsisc1850-2010.txt ] || "$build/tools/makegrid" --out pdsisc1850-2010.txt
source "$root/bench/timing.sh"
bench() { # name answers pdsi-args...
  local name=$1 answers=$2
  shift 2
  for _ in $(seq "$reps"); do
    one "$name/server" sh -c "printf '$answers' | '$build/app/pdsiserver'"
    one "$name/pdsi" "$build/cli/pdsi" extract --quiet "$@"
  done
  printf '%s\n  pdsiserver: %s\n  pdsi:       %s\n' "$name" "$(stats "$name/server")" "$(stats "$name/pdsi")"
}
bench "whole grid 1850-2010" '\n\n1850\n2010\n80.0\n-60.0\n-180.0\n180.0\nT\n2.0\nF\n\n\n' \
  --years 1850:2010 --max-missing 2
bench "filled 1981-2010, fraction 0.5, 76.25 to -38.75" \
  '\n\n1981\n2010\n76.25\n-38.75\n-180.0\n180.0\nT\n0.5\nT\n\n1981\n2010\n\n\n\n' \
  --years 1981:2010 --lat=-38.75:76.25 --max-missing 0.5 --fill 1981:2010
echo "cells of the filled run: $(($(wc -l < MonthlyPDSI.xy) - 3))"
