#!/usr/bin/env bash
# `pdsi serve` against its peers in one run: the start beside a global
# `pdsi extract`, requests beside the command and beside nginx serving the
# same bytes as static files, and the idle server's memory.
# Run by hand: bench/serve.sh [scratch-dir [build-dir]]
# Needs wrk and nginx (Debian packages wrk, nginx-light).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build/bench-data}
build=${2:-$root/build/default}
reps=${PDSI_BENCH_REPS:-5}
secs=${PDSI_BENCH_SECONDS:-5}
"$root/scripts/packages.sh" build bench
cmake --build "$build" --target pdsi makegrid >/dev/null
mkdir -p "$dir" && cd "$dir"
[ -f pdsisc1850-2010.txt ] || "$build/tools/makegrid" --out pdsisc1850-2010.txt
source "$root/bench/timing.sh"
pdsi=$build/cli/pdsi
static=$(mktemp -d /tmp/pdsi-bench-static.XXXXXX)
server_pid=
nginx_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null
  rm -rf "$static"
}
trap cleanup EXIT

# Starts the server (cache in MB as $1); sets port, server_pid and the
# seconds from exec to the listening line.
start_server() {
  local t0 t1 line
  t0=$(date +%s%N)
  coproc SRV { exec "$pdsi" serve --listen 127.0.0.1:0 --quiet --cache "$1"; }
  server_pid=$SRV_PID
  read -r line <&"${SRV[0]}"
  t1=$(date +%s%N)
  port=${line##*:}
  port=${port%/}
  started=$(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.3f", (b - a) / 1e9}')
}
stop_server() {
  kill "$server_pid"
  wait "$server_pid" 2>/dev/null || true
  server_pid=
}

box10='years=1850:2010&lat=31.25:53.75&lon=-98.75:-76.25&max_missing=0.5'
cell='years=1990:1990&lat=36.25:36.25&lon=-98.75:-98.75&max_missing=0.5'
global='years=1850:2010&max_missing=0.5'
filled='years=1981:2010&lat=-38.75:76.25&max_missing=0.5&fill=1981:2010'

echo "== start: the whole grid loaded, to the listening line"
for _ in $(seq "$reps"); do
  one global "$pdsi" extract --quiet --out out-global --years 1850:2010 --max-missing 0.5
  start_server 0
  walls[start]="${walls[start]:-} $started"
  stop_server
done
echo "  pdsi extract global 1850-2010: $(stats global)"
echo "  pdsi serve start:              $(stats start)"

start_server 0
peak_idle=$(awk '/VmRSS/ {print $2}' "/proc/$server_pid/status")
echo "== resident memory, idle after start: $((peak_idle / 1024)) MB"

echo "== 10x10 box 1850-2010, MonthlyPDSI.tsf, cache off"
for _ in $(seq "$reps"); do
  one box10 "$pdsi" extract --quiet --out out-box --years 1850:2010 --lat=31.25:53.75 --lon=-98.75:-76.25 --max-missing 0.5
done
echo "  pdsi extract: $(stats box10)"
wrk -t1 -c1 -d"${secs}s" --latency "http://127.0.0.1:$port/extract/MonthlyPDSI.tsf?$box10" |
  awk '/Latency/ && !/Distribution/ {print "  pdsi serve, one keep-alive client: latency avg " $2 ", max " $4} / 50%| 99%/ {print "    " $0}'

echo "== global 1850-2010, .5, MonthlyPDSI.tsf (28 MB), cache off"
for _ in $(seq "$reps"); do
  one serve-global curl -s -o /dev/null "http://127.0.0.1:$port/extract/MonthlyPDSI.tsf?$global"
done
echo "  pdsi extract: $(stats global)"
echo "  pdsi serve:   $(stats serve-global)"

echo "== 2217 cells 1981-2010 filled, MonthlyPDSI_QC.tsf, cache off"
for _ in $(seq "$reps"); do
  one cmd-filled "$pdsi" extract --quiet --out out-filled --years 1981:2010 --lat=-38.75:76.25 --max-missing 0.5 --fill 1981:2010
  one serve-filled curl -s -o /dev/null "http://127.0.0.1:$port/extract/MonthlyPDSI_QC.tsf?$filled"
done
echo "  cells: $(($(wc -l < out-filled/MonthlyPDSI.xy) - 3))"
echo "  pdsi extract --fill: $(stats cmd-filled)"
echo "  pdsi serve:          $(stats serve-filled)"

# nginx on the same bytes, as static files.
curl -s -o "$static/cell.tsf" "http://127.0.0.1:$port/extract/MonthlyPDSI.tsf?$cell"
curl -s -o "$static/box10.tsf" "http://127.0.0.1:$port/extract/MonthlyPDSI.tsf?$box10"
chmod -R a+rX "$static"
nport=$((port + 1))
cat > "$static/nginx.conf" <<CONF
daemon off;
worker_processes 2;
pid $static/nginx.pid;
error_log $static/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  default_type text/plain;
  server { listen 127.0.0.1:$nport; root $static; }
}
CONF
nginx -c "$static/nginx.conf" -p "$static" &
nginx_pid=$!
sleep 0.5
rps() { wrk "$@" | awk '/Requests\/sec/ {print $2}'; }
echo "== one cell, one year, MonthlyPDSI.tsf, cache off, wrk -t2 -c32 (requests/s)"
echo "  nginx:      $(rps -t2 -c32 -d"${secs}s" "http://127.0.0.1:$nport/cell.tsf")"
echo "  pdsi serve: $(rps -t2 -c32 -d"${secs}s" "http://127.0.0.1:$port/extract/MonthlyPDSI.tsf?$cell")"
stop_server
start_server 256
curl -s -o /dev/null "http://127.0.0.1:$port/extract/MonthlyPDSI.tsf?$box10"
echo "== the 10x10 box from the cache, wrk -t2 -c8 (requests/s)"
echo "  nginx:      $(rps -t2 -c8 -d"${secs}s" "http://127.0.0.1:$nport/box10.tsf")"
echo "  pdsi serve: $(rps -t2 -c8 -d"${secs}s" "http://127.0.0.1:$port/extract/MonthlyPDSI.tsf?$box10")"
