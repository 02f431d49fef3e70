#!/usr/bin/env bash
# The area file served against its peers, measured in one run: the whole
# grid 1850-2010 with every cell (max_missing=1.01), cache off, beside
# MonthlyPDSI.tsf of the same request and beside xarray computing the same
# weighted mean and 11 shares from the local NetCDF copy of that request;
# then the gap-filled area file of that request beside the gap filling
# alone (MonthlyPDSI_QC.tsf of the same request). Wall times suffer from a
# loaded machine; the server's CPU seconds a request less so.
# Run by hand: bench/area.sh [scratch-dir [build-dir]]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$(realpath -m "${1:-$root/build/bench-data}")
build=$(realpath -m "${2:-$root/build/default}")
reps=${PDSI_BENCH_REPS:-7}
"$root/scripts/packages.sh" build test
command -v curl >/dev/null || { echo "bench/area.sh needs curl (apt-get install curl)" >&2; exit 1; }
cmake --build "$build" --target pdsi makegrid >/dev/null
mkdir -p "$dir" && cd "$dir"
[ -f pdsisc1850-2010.txt ] || "$build/tools/makegrid" --out pdsisc1850-2010.txt
python=/usr/bin/python3
# The local copy of the same request, and the command's area file of it.
[ -f out-area/MonthlyPDSI.nc ] && [ -f out-area/MonthlyPDSI_area.csv ] ||
  "$build/cli/pdsi" extract --quiet --out out-area --years 1850:2010 --max-missing 1.01 --format netcdf --area

coproc SRV { exec "$build/cli/pdsi" serve --listen 127.0.0.1:0 --quiet --cache 0; }
server_pid=$SRV_PID
trap 'kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null || true' EXIT
read -r line <&"${SRV[0]}"
port=${line##*:}
port=${port%/}
base=http://127.0.0.1:$port/extract

# The server's CPU seconds so far, its threads' user and system time
# (those of ended threads included), from /proc.
ticks=$(getconf CLK_TCK)
cpu() { awk -v hz="$ticks" '{sub(/.*\) /, ""); printf "%.2f", ($12 + $13) / hz}' "/proc/$server_pid/stat"; }
declare -A times cpus
fetch() { # key url: the request's seconds as curl counts them, and the server's CPU seconds
  local t c0
  c0=$(cpu)
  t=$(curl -s -o /dev/null -w '%{http_code} %{time_total}' "$2")
  [ "${t%% *}" = 200 ] || { echo "bench/area.sh: $2 answered ${t%% *}" >&2; exit 1; }
  times[$1]="${times[$1]:-} ${t#* }"
  cpus[$1]="${cpus[$1]:-} $(awk -v a="$c0" -v b="$(cpu)" 'BEGIN {printf "%.2f", b - a}')"
}
median() { printf '%s\n' ${times[$1]} | sort -n | awk '{w[NR]=$1} END {printf "%.4f", w[int((NR+1)/2)]}'; }
best() { printf '%s\n' ${times[$1]} | sort -n | head -1; }
cpu_mean() { printf '%s\n' ${cpus[$1]} | awk '{s+=$1} END {printf "%.3f", s / NR}'; }

echo "== load: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores; $reps runs each, interleaved"
whole='years=1850:2010&max_missing=1.01'
curl -s "$base/MonthlyPDSI_area.csv?$whole" | cmp - out-area/MonthlyPDSI_area.csv ||
  { echo "bench/area.sh: the served area file is not the command's" >&2; exit 1; }
for _ in $(seq "$reps"); do
  fetch area "$base/MonthlyPDSI_area.csv?$whole"
  fetch tsf "$base/MonthlyPDSI.tsf?$whole"
done
echo "== the whole grid 1850-2010, max_missing=1.01, cache off (curl's time_total, s)"
printf '  %-34s best %s, median %s; server CPU %s s a request\n' "MonthlyPDSI_area.csv" "$(best area)" \
  "$(median area)" "$(cpu_mean area)"
printf '  %-34s best %s, median %s; server CPU %s s a request\n' "MonthlyPDSI.tsf" "$(best tsf)" "$(median tsf)" \
  "$(cpu_mean tsf)"
awk -v a="$(median area)" -v t="$(median tsf)" \
  'BEGIN {printf "  area - tsf, medians: %+.1f ms (target: at most +30 ms)\n", (a - t) * 1000}'

# xarray on the local copy: open, weigh, sum; checked against the file.
xr_median=$("$python" - out-area/MonthlyPDSI.nc out-area/MonthlyPDSI_area.csv "$reps" <<'PY'
import csv, sys, time
import numpy as np
import xarray as xr
path, served, reps = sys.argv[1], sys.argv[2], int(sys.argv[3])
bounds = [lambda x: x <= -4, lambda x: (x > -4) & (x <= -3), lambda x: (x > -3) & (x <= -2),
          lambda x: (x > -2) & (x <= -1), lambda x: (x > -1) & (x <= -0.5), lambda x: (x > -0.5) & (x < 0.5),
          lambda x: (x >= 0.5) & (x < 1), lambda x: (x >= 1) & (x < 2), lambda x: (x >= 2) & (x < 3),
          lambda x: (x >= 3) & (x < 4), lambda x: x >= 4]
walls = []
for _ in range(reps):
    t = time.perf_counter()
    with xr.open_dataset(path) as ds:
        x = ds["pdsi"].load()
        w = np.cos(np.deg2rad(ds["lat"].astype("float64"))).broadcast_like(x).where(x.notnull())
        total = w.sum(("lat", "lon"))
        mean = ((x * w).sum(("lat", "lon")) / total).values
        shares = [(100 * w.where(b(x)).sum(("lat", "lon")) / total).values for b in bounds]
    walls.append(time.perf_counter() - t)
with open(served, newline="") as f:
    rows = list(csv.reader(f))[1:]
for k, r in enumerate(rows):
    if r[3] and (abs(float(r[3]) - mean[k]) > 0.0005 + 1e-9 or
                 any(abs(float(v) - s[k]) > 0.005 + 1e-9 for v, s in zip(r[4:], shares))):
        sys.exit(f"xarray disagrees with the area file in {r[0]}-{r[1]}")
walls.sort()
print(f"{walls[0]:.4f} {walls[len(walls) // 2]:.4f}")
PY
)
printf '  %-34s best %s, median %s\n' "xarray on MonthlyPDSI.nc" ${xr_median}
awk -v a="$(median area)" -v x="${xr_median#* }" \
  'BEGIN {printf "  xarray / area, medians: %.1fx (target: at least 10x)\n", x / a}'

# The same request gap-filled: seconds a request, so fewer runs.
filled="$whole&fill=1951:2010"
for _ in $(seq "${PDSI_BENCH_FILL_REPS:-3}"); do
  fetch filled-area "$base/MonthlyPDSI_area.csv?$filled"
  fetch filled-alone "$base/MonthlyPDSI_QC.tsf?$filled"
done
echo "== gap filled, the whole grid 1850-2010, max_missing=1.01, fill=1951:2010, cache off"
printf '  %-34s best %s, median %s; server CPU %s s a request\n' "MonthlyPDSI_area.csv" "$(best filled-area)" \
  "$(median filled-area)" "$(cpu_mean filled-area)"
printf '  %-34s best %s, median %s; server CPU %s s a request\n' "MonthlyPDSI_QC.tsf (filling alone)" \
  "$(best filled-alone)" "$(median filled-alone)" "$(cpu_mean filled-alone)"
awk -v a="$(median filled-area)" -v f="$(median filled-alone)" -v ca="$(cpu_mean filled-area)" \
  -v cf="$(cpu_mean filled-alone)" 'BEGIN {printf "  area over the filling alone: wall medians %+.1f %%, server CPU %+.1f %% (target: at most +5 %%)\n",
                                          (a / f - 1) * 100, (ca / cf - 1) * 100}'
