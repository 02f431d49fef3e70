#!/usr/bin/env bash
# What clients can make `pdsi serve` hold, over a generated full-size grid:
#   leak   N requests of a thousand query arguments each: resident memory
#          before and after, the in-flight gauge after, and how long a
#          SIGTERM then takes;
#   dap    40 clients ask for the whole field by OPeNDAP and read 100 bytes
#          a second: resident memory idle and at its peak over 20 s, and a
#          /health meanwhile;
#   csv    12 clients ask for whole-grid CSVs spelled differently, read
#          alike.
# Run by hand: bench/serve-memory.sh [pdsi [scratch-dir [requests]]]
# A second binary may be given as PDSI_PEER to measure it in the same run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
pdsi=${1:-$root/build/default/cli/pdsi}
dir=${2:-$root/build/bench-data}
requests=${3:-3000}
pdsi=$(realpath "$pdsi")
peer=${PDSI_PEER:+$(realpath "$PDSI_PEER")}
mkdir -p "$dir" && cd "$dir"
[ -f pdsisc1850-2010.txt ] || "$root/build/default/tools/makegrid" --out pdsisc1850-2010.txt

server_pid=
start() { # binary options...: sets server_pid and port
  local bin=$1
  shift
  "$bin" serve --listen 127.0.0.1:0 --quiet "$@" >"$dir/memory.out" 2>/dev/null &
  server_pid=$!
  for _ in $(seq 100); do grep -q listening "$dir/memory.out" && break; sleep 0.2; done
  port=$(sed -n 's/.*127.0.0.1:\([0-9]*\)\/.*/\1/p' "$dir/memory.out")
  sleep 1
}
rss() { awk '/VmRSS/ {print $2}' "/proc/$server_pid/status"; }
trap '[ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null' EXIT

leak() {
  start "$1" --timeout 5
  local before after in_flight t0 t1
  before=$(rss)
  python3 - "$port" "$requests" <<'PY'
import concurrent.futures, socket, sys
port, n = int(sys.argv[1]), int(sys.argv[2])
request = b"GET /health?" + b"a=1&" * 1000 + b" HTTP/1.1\r\nHost: x\r\n\r\n"
def one(_):
    s = socket.create_connection(("127.0.0.1", port))
    s.settimeout(0.5)
    s.sendall(request)
    try:
        s.recv(100)
    except OSError:
        pass
    s.close()
with concurrent.futures.ThreadPoolExecutor(32) as pool:
    list(pool.map(one, range(n)))
PY
  sleep 2
  after=$(rss)
  in_flight=$(curl -s --max-time 10 "http://127.0.0.1:$port/metrics" | sed -n 's/^pdsi_http_requests_in_flight //p')
  t0=$(date +%s.%N)
  kill -TERM "$server_pid"
  wait "$server_pid" || true
  t1=$(date +%s.%N)
  server_pid=
  printf 'leak  %s: %d requests: resident %d kB before, %d kB after; in flight after %s (this /metrics too); SIGTERM took %.2f s\n' \
    "$1" "$requests" "$before" "$after" "$in_flight" "$(echo "$t1 - $t0" | bc)"
}

slow() { # name binary path...: clients that read 100 bytes a second
  local name=$1 bin=$2
  shift 2
  start "$bin" --timeout 60 --queue 64 --max-per-client 1000
  local idle peak=0 r health
  idle=$(rss)
  python3 - "$port" "$@" <<'PY' &
import socket, sys, time
port, paths = int(sys.argv[1]), sys.argv[2:]
count = 40 if len(paths) == 1 else len(paths)
clients = []
for k in range(count):
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    s.connect(("127.0.0.1", port))
    s.sendall(("GET %s HTTP/1.1\r\nHost: x\r\n\r\n" % paths[k % len(paths)]).encode())
    clients.append(s)
end = time.time() + 25
while time.time() < end:
    for s in clients:
        try:
            s.recv(100, socket.MSG_DONTWAIT)
        except OSError:
            pass
    time.sleep(1)
PY
  local readers=$!
  for _ in $(seq 20); do
    sleep 1
    r=$(rss)
    [ "$r" -gt "$peak" ] && peak=$r
  done
  health=$(curl -s -o /dev/null -w '%{http_code} in %{time_total} s' --max-time 10 "http://127.0.0.1:$port/health")
  local busy
  busy=$(curl -s --max-time 10 "http://127.0.0.1:$port/metrics" | sed -n 's/^pdsi_http_busy_refusals_total //p')
  kill "$readers" 2>/dev/null || true
  wait "$readers" 2>/dev/null || true
  kill -TERM "$server_pid"
  wait "$server_pid" || true
  server_pid=
  printf '%-5s %s: resident %d kB idle, %d kB at the peak over 20 s; /health meanwhile %s; 503s for memory or queue: %s\n' \
    "$name" "$bin" "$idle" "$peak" "$health" "$busy"
}

csv=()
for k in $(seq 0 11); do csv+=("/extract/MonthlyPDSI.csv?years=1850:2010&lat=-$((90 - k)):90&max_missing=1.01"); done
for bin in ${peer:-} "$pdsi"; do
  leak "$bin"
  slow dap "$bin" "/dap/pdsi.dods?pdsi.pdsi"
  slow csv "$bin" "${csv[@]}"
done
