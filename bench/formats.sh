#!/usr/bin/env bash
# The NetCDF and CSV copies on a full-size generated grid: the global
# whole-span extraction with and without --format netcdf,csv (target: the
# NetCDF adds at most the time of the text extraction itself), the two
# usual reads of the NetCDF file through xarray (one cell's whole series,
# one month's map), and CDO cutting the same box and years out of it.
# Best and median wall time of several runs.
# Run by hand: bench/formats.sh [scratch-dir [build-dir]]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build/bench-data}
build=${2:-$root/build/default}
reps=${PDSI_BENCH_REPS:-5}
py=/usr/bin/python3
cmake --build "$build" --target pdsi makegrid >/dev/null
mkdir -p "$dir" && cd "$dir"
[ -f pdsisc1850-2010.txt ] || "$build/tools/makegrid" --out pdsisc1850-2010.txt
source "$root/bench/timing.sh"
show() { printf '  %-44s %s\n' "$1" "$(stats "$1")"; }

pdsi="$build/cli/pdsi"
whole=(extract --quiet --years 1850:2010 --max-missing 2)
for _ in $(seq "$reps"); do
  one "extract, text only" "$pdsi" "${whole[@]}" --out text
  one "extract --format netcdf,csv" "$pdsi" "${whole[@]}" --out both --format netcdf,csv
  one "extract --format netcdf" "$pdsi" "${whole[@]}" --out nc --format netcdf
  one "convert --format netcdf" "$pdsi" convert text --format netcdf --quiet
  one "convert --format csv" "$pdsi" convert text --format csv --quiet
done
echo "global whole-span run ($(($(wc -l < text/MonthlyPDSI.xy) - 3)) cells, 1932 months)"
for k in "extract, text only" "extract --format netcdf,csv" "extract --format netcdf" \
         "convert --format netcdf" "convert --format csv"; do show "$k"; done
ls -l text/MonthlyPDSI.tsf text/MonthlyPDSI.nc text/MonthlyPDSI.csv | awk '{printf "  %-44s %d bytes\n", $9, $5}'

nc=$dir/text/MonthlyPDSI.nc
if $py -c 'import xarray, netCDF4' 2>/dev/null; then
  # Each read in its own process, the import timed apart.
  for _ in $(seq "$reps"); do
    one "python3: import xarray" $py -c 'import xarray'
    one "xarray: one cell's series (36.25, -98.75)" $py -c "import xarray as x; \
x.open_dataset('$nc').pdsi.sel(lat=36.25, lon=-98.75).values"
    one "xarray: one month's map (July 1990)" $py -c "import xarray as x; \
x.open_dataset('$nc').pdsi.sel(time='1990-07').values"
  done
  for k in "python3: import xarray" "xarray: one cell's series (36.25, -98.75)" \
           "xarray: one month's map (July 1990)"; do show "$k"; done
else
  echo "  xarray: not installed, skipped"
fi
if command -v cdo >/dev/null; then
  for _ in $(seq "$reps"); do
    one "cdo sellonlatbox,-100,-90,30,40 -selyear,1901/2010" \
      cdo -s -O sellonlatbox,-100,-90,30,40 -selyear,1901/2010 "$nc" box.nc
    one "cdo: one cell's series (remapnn)" cdo -s -O remapnn,lon=-98.75_lat=36.25 "$nc" cell.nc
  done
  show "cdo sellonlatbox,-100,-90,30,40 -selyear,1901/2010"
  show "cdo: one cell's series (remapnn)"
else
  echo "  cdo: not installed, skipped"
fi
