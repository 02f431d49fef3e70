#!/usr/bin/env bash
# The home page's month maps from memory: median latency of
# /page/month with one keep-alive client, beside /health (the server's
# floor) and the page's styles (a cached asset) in the same run.
# Run by hand: bench/page-month.sh [scratch-dir [build-dir]]
# Needs wrk (Debian package wrk).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build/bench-data}
build=${2:-$root/build/default}
secs=${PDSI_BENCH_SECONDS:-5}
"$root/scripts/packages.sh" build bench
cmake --build "$build" --target pdsi makegrid >/dev/null
mkdir -p "$dir" && cd "$dir"
[ -f pdsisc1850-2010.txt ] || "$build/tools/makegrid" --out pdsisc1850-2010.txt
coproc SRV { exec "$build/cli/pdsi" serve --listen 127.0.0.1:0 --quiet; }
server_pid=$SRV_PID
trap 'kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null' EXIT
read -r line <&"${SRV[0]}"
port=${line##*:}
port=${port%/}
base=http://127.0.0.1:$port

# wrk's median and 99th percentile of one keep-alive client.
median() { # label url [header]
  local label=$1 url=$2
  shift 2
  wrk -t1 -c1 -d"${secs}s" --latency "$@" "$url" |
    awk -v l="$label" '/ 50%/ {p50 = $2} / 99%/ {p99 = $2} /Requests\/sec/ {r = $2}
                       END {printf "  %-34s median %s, 99%% %s, %s requests/s\n", l, p50, p99, r}'
}
css=$(curl -s "$base/" | grep -o '/page/home.css?v=[0-9a-f]*')
echo "== one keep-alive client, ${secs} s each"
median "/health" "$base/health"
median "/page/home.css (cached asset)" "$base$css"
median "/page/month, plain" "$base/page/month?month=1934-07"
median "/page/month, gzip" "$base/page/month?month=1934-07" -H "Accept-Encoding: gzip"
median "/page/series, plain" "$base/page/series?cell=-98.75,36.25"
