#!/usr/bin/env bash
# /dap/pdsi against the local NetCDF copy: a cell's series and a month's
# map over keep-alive (wrk), the whole field (curl) beside netCDF-C reading
# it from MonthlyPDSI.nc, and xarray opening each and taking a cell's series.
# Run by hand: bench/dap.sh [scratch-dir [build-dir]]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$(realpath -m "${1:-$root/build/bench-data}")
build=$(realpath -m "${2:-$root/build/default}")
reps=${PDSI_BENCH_REPS:-5}
secs=${PDSI_BENCH_SECONDS:-5}
"$root/scripts/packages.sh" build test
for tool in wrk curl; do
  command -v "$tool" >/dev/null || { echo "bench/dap.sh needs $tool (apt-get install $tool)" >&2; exit 1; }
done
cmake --build "$build" --target pdsi makegrid >/dev/null
mkdir -p "$dir" && cd "$dir"
[ -f pdsisc1850-2010.txt ] || "$build/tools/makegrid" --out pdsisc1850-2010.txt
[ -f out-nc/MonthlyPDSI.nc ] ||
  "$build/cli/pdsi" extract --quiet --out out-nc --years 1850:2010 --max-missing 0.5 --format netcdf
source "$root/bench/timing.sh"
python=/usr/bin/python3

coproc SRV { exec "$build/cli/pdsi" serve --listen 127.0.0.1:0 --quiet; }
server_pid=$SRV_PID
trap 'kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null || true' EXIT
read -r line <&"${SRV[0]}"
port=${line##*:}
port=${port%/}
url=http://127.0.0.1:$port/dap/pdsi

echo "== load: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
latency() { # name url
  wrk -t1 -c1 -d"${secs}s" --latency "$2" |
    awk -v n="$1" '/ 50%/ {m=$2} / 99%/ {p=$2} /Requests\/sec/ {r=$2} /Non-2xx/ {e=$NF}
                   END {printf "  %-26s median %s, 99%% %s, %s requests/s%s\n", n, m, p, r, e ? ", " e " not 2xx" : ""}'
}
echo "== keep-alive, one client (wrk -t1 -c1 ${secs}s)"
latency "a cell's series" "$url.dods?pdsi.pdsi%5B0:1:1931%5D%5B38%5D%5B32%5D"
latency "a month's map" "$url.dods?pdsi%5B1920%5D%5B0:1:54%5D%5B0:1:143%5D"

echo "== the whole field (61 MB)"
for _ in $(seq "$reps"); do
  one dap-whole curl -s -o /dev/null "$url.dods?pdsi.pdsi"
done
echo "  /dap/pdsi.dods?pdsi.pdsi, curl:         $(stats dap-whole)"
"$python" - out-nc/MonthlyPDSI.nc "$reps" <<'PY'
import sys, time
import netCDF4
path, reps = sys.argv[1], int(sys.argv[2])
walls = []
for _ in range(reps):
    t = time.perf_counter()
    with netCDF4.Dataset(path) as ds:
        ds.set_auto_mask(False)
        ds["pdsi"][:]
    walls.append(time.perf_counter() - t)
walls.sort()
print(f"  MonthlyPDSI.nc pdsi, netCDF-C (python): best {walls[0]:.3f} s, median {walls[len(walls) // 2]:.3f} s")
PY

echo "== xarray open_dataset + one cell's series (wall, in the process)"
"$python" - "$url" out-nc/MonthlyPDSI.nc "$reps" <<'PY'
import sys, time
import xarray as xr
url, path, reps = sys.argv[1], sys.argv[2], int(sys.argv[3])
def run(source):
    walls = []
    for _ in range(reps):
        t = time.perf_counter()
        with xr.open_dataset(source, engine="netcdf4") as ds:
            ds.pdsi.sel(lat=36.25, lon=-98.75).values
        walls.append(time.perf_counter() - t)
    walls.sort()
    return walls[len(walls) // 2]
served, local = run(url), run(path)
print(f"  /dap/pdsi:      median {served:.3f} s")
print(f"  MonthlyPDSI.nc: median {local:.3f} s  (served / local = {served / local:.2f})")
PY
