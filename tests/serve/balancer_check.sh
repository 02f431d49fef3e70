#!/usr/bin/env bash
# Two `pdsi serve` behind HAProxy (deploy/haproxy.cfg) under load; one is
# killed with SIGKILL in the middle. Every GET must still be answered 200:
# the balancer retries what the killed server had in flight elsewhere.
#   balancer_check.sh PDSI MAKEGRID CONFIG
# Exit 0 when none failed, 1 otherwise, 77 without haproxy or wrk.
set -euo pipefail
pdsi=$1 makegrid=$2 config=$3
for tool in haproxy wrk curl python3; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
done
dir=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
"$makegrid" --out "$dir/grid.txt" >/dev/null

start_server() { # name: sets the pid and port of one server
  "$pdsi" serve --grid "$dir/grid.txt" --listen 127.0.0.1:0 --quiet --cache 0 --max-per-client 1000 >"$dir/$1.out" &
  pids+=($!)
  eval "pid_$1=$!"
  for _ in $(seq 300); do
    grep -q listening "$dir/$1.out" 2>/dev/null && break
    sleep 0.1
  done
  local line
  line=$(cat "$dir/$1.out")
  [ -n "$line" ] || { echo "server $1 did not start"; exit 1; }
  line=${line##*:}
  eval "port_$1=${line%/}"
}
start_server a
start_server b
front=$(free_port)
sed -e "s/bind 127.0.0.1:8080/bind 127.0.0.1:$front/" -e "s/127.0.0.1:8081/127.0.0.1:$port_a/" \
    -e "s/127.0.0.1:8082/127.0.0.1:$port_b/" "$config" >"$dir/haproxy.cfg"
haproxy -db -f "$dir/haproxy.cfg" >"$dir/haproxy.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  curl -sf "http://127.0.0.1:$front/health" >/dev/null && break
  sleep 0.1
done

cat >"$dir/mix.lua" <<'LUA'
local paths, reqs, i = {
  "/extract/MonthlyPDSI.tsf?years=1990:1990&lat=36.25:36.25&lon=-98.75:-98.75&max_missing=0.5",
  "/extract/MonthlyPDSI.tsf?years=1901:2010&lat=30:40&lon=-100:-90&max_missing=0.5",
  "/extract/MonthlyPDSI.xy?years=1850:2010&lat=-20:20&lon=0:40&max_missing=0.5",
  "/extract?years=1950:2000&lat=40:60&lon=0:30&max_missing=0.5",
  "/health",
}, {}, 0
init = function() for k, p in ipairs(paths) do reqs[k] = wrk.format("GET", p) end end
request = function() i = i % #reqs + 1; return reqs[i] end
done = function(summary)
  local e = summary.errors
  io.write(string.format("requests %d, failed: status %d, connect %d, read %d, write %d, timeout %d\n",
    summary.requests, e.status, e.connect, e.read, e.write, e.timeout))
end
LUA
wrk -t2 -c16 -d8s --timeout 10s -s "$dir/mix.lua" "http://127.0.0.1:$front" >"$dir/wrk.out" 2>&1 &
wrk_pid=$!
sleep 3
kill -9 "$pid_a"
wait "$pid_a" 2>/dev/null || true
wait "$wrk_pid" || true
summary=$(grep '^requests' "$dir/wrk.out" || true)
echo "one of two servers killed under load: $summary"
case $summary in
  *"status 0, connect 0, read 0, write 0, timeout 0"*) exit 0 ;;
  *) cat "$dir/wrk.out" "$dir/haproxy.log"; exit 1 ;;
esac
