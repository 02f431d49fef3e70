#!/usr/bin/env bash
# The GeoTIFF copy of a large box beside the NetCDF copy of the same
# request: by the server (cache off, curl, one request at a time) and by
# `pdsi convert` from the same run's files.
# Run by hand: bench/geotiff.sh [scratch-dir [build-dir]]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$(realpath -m "${1:-$root/build/bench-data}")
build=$(realpath -m "${2:-$root/build/default}")
reps=${PDSI_BENCH_REPS:-5}
years=${PDSI_BENCH_YEARS:-1850:2010}
"$root/scripts/packages.sh" build test
command -v curl >/dev/null || { echo "bench/geotiff.sh needs curl (apt-get install curl)" >&2; exit 1; }
cmake --build "$build" --target pdsi makegrid >/dev/null
mkdir -p "$dir" && cd "$dir"
[ -f pdsisc1850-2010.txt ] || "$build/tools/makegrid" --out pdsisc1850-2010.txt
source "$root/bench/timing.sh"

coproc SRV { exec "$build/cli/pdsi" serve --listen 127.0.0.1:0 --cache 0 --quiet; }
server_pid=$SRV_PID
trap 'kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null || true' EXIT
read -r line <&"${SRV[0]}"
port=${line##*:}
port=${port%/}
query="years=$years&max_missing=0.5"

echo "== load: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores; the whole grid, $years, max_missing 0.5"
for file in MonthlyPDSI.tif MonthlyPDSI.nc; do
  url="http://127.0.0.1:$port/extract/$file?$query"
  bytes=$(curl -s -o /dev/null -w '%{size_download}' "$url")
  for _ in $(seq "$reps"); do one "serve-$file" curl -s -o /dev/null "$url"; done
  printf '  pdsi serve /extract/%-16s %10s bytes  %s\n' "$file" "$bytes" "$(stats "serve-$file")"
done

"$build/cli/pdsi" extract --quiet --out out-geotiff --years "$years" --max-missing 0.5
for format in geotiff netcdf; do
  for _ in $(seq "$reps"); do one "convert-$format" "$build/cli/pdsi" convert out-geotiff --format "$format" -q; done
  printf '  pdsi convert --format %-8s %25s\n' "$format" "$(stats "convert-$format")"
done
