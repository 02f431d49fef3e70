#!/usr/bin/env bash
# The Zarr stores against OPeNDAP from the same server: the whole field read
# with xarray (.load()) through /zarr/pdsi/ and through /dap/pdsi, one cell's
# series through /zarr/pdsi-series/ (xarray, warm), and a cached chunk over
# keep-alive (wrk).
# Run by hand: bench/zarr.sh [scratch-dir [build-dir]]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$(realpath -m "${1:-$root/build/bench-data}")
build=$(realpath -m "${2:-$root/build/default}")
reps=${PDSI_BENCH_REPS:-5}
secs=${PDSI_BENCH_SECONDS:-5}
"$root/scripts/packages.sh" build test
command -v wrk >/dev/null || { echo "bench/zarr.sh needs wrk (apt-get install wrk)" >&2; exit 1; }
cmake --build "$build" --target pdsi makegrid >/dev/null
mkdir -p "$dir" && cd "$dir"
[ -f pdsisc1850-2010.txt ] || "$build/tools/makegrid" --out pdsisc1850-2010.txt
python=/usr/bin/python3

coproc SRV { exec "$build/cli/pdsi" serve --listen 127.0.0.1:0 --quiet; }
server_pid=$SRV_PID
trap 'kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null || true' EXIT
read -r line <&"${SRV[0]}"
port=${line##*:}
port=${port%/}
base=http://127.0.0.1:$port

echo "== load: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
"$python" - "$base" "$reps" <<'PY'
import sys, time
import fsspec
import xarray as xr
base, reps = sys.argv[1], int(sys.argv[2])

def timed(f, n):
    walls = []
    for _ in range(n):
        t = time.perf_counter()
        f()
        walls.append(time.perf_counter() - t)
    walls.sort()
    return walls[0], walls[len(walls) // 2]

def zarr_field():
    xr.open_zarr(fsspec.get_mapper(base + "/zarr/pdsi"), consolidated=True).pdsi.load()

def dap_field():
    with xr.open_dataset(base + "/dap/pdsi", engine="netcdf4") as ds:
        ds.pdsi.load()

zarr_field()  # the chunks made and cached: the later reads are warm
print("== the whole field, xarray open + .load() (wall, in the process)")
z, d = timed(zarr_field, reps), timed(dap_field, reps)
print(f"  /zarr/pdsi/:  best {z[0]:.3f} s, median {z[1]:.3f} s")
print(f"  /dap/pdsi:    best {d[0]:.3f} s, median {d[1]:.3f} s  (zarr / dap = {z[1] / d[1]:.2f})")

ds = xr.open_zarr(fsspec.get_mapper(base + "/zarr/pdsi-series"), consolidated=True)
cell = lambda: ds.pdsi.sel(lat=36.25, lon=-98.75).values  # noqa: E731
cell()
s = timed(cell, 50)
print("== one cell's series, /zarr/pdsi-series/ opened once, warm (xarray with dask)")
print(f"  best {s[0] * 1000:.1f} ms, median {s[1] * 1000:.1f} ms")
PY

echo "== a cached chunk, keep-alive, one client (wrk -t1 -c1 ${secs}s)"
for key in pdsi/pdsi/100.0.0 pdsi-series/pdsi/0.3.3; do
  curl -s -o /dev/null "$base/zarr/$key"
  wrk -t1 -c1 -d"${secs}s" --latency "$base/zarr/$key" |
    awk -v n="$key" '/ 50%/ {m=$2} / 99%/ {p=$2} /Requests\/sec/ {r=$2} /Transfer\/sec/ {b=$2} /Non-2xx/ {e=$NF}
                     END {printf "  %-24s median %s, 99%% %s, %s requests/s, %s/s%s\n", n, m, p, r, b, e ? ", " e " not 2xx" : ""}'
done
