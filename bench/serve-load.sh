#!/usr/bin/env bash
# A mixed load on `pdsi serve` over a generated full-size grid: one wrk per
# kind of request, all at once, sharing the connections given. Prints per
# kind the requests per second, latency percentiles and answers other than
# 200 by status, and the server's memory (resident at minute 1 and at the
# end, and the peak), and the latency percentiles of every request but the
# gap fillings together.
# Run by hand: bench/serve-load.sh [connections [seconds [scratch-dir [build-dir]]]]
# PDSI_SLOW_CLIENTS=N adds N clients that send their request a byte a
# second and start again when closed; PDSI_SERVE_OPTIONS adds server options.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
conns=${1:-64}
secs=${2:-60}
dir=${3:-$root/build/bench-data}
build=${4:-$root/build/default}
"$root/scripts/packages.sh" build test
cmake --build "$build" --target pdsi makegrid >/dev/null
mkdir -p "$dir" && cd "$dir"
[ -f pdsisc1850-2010.txt ] || "$build/tools/makegrid" --out pdsisc1850-2010.txt
work=$(mktemp -d)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

pids=()
coproc SRV { exec "$build/cli/pdsi" serve --listen 127.0.0.1:0 --quiet --max-per-client 100000 ${PDSI_SERVE_OPTIONS:-}; }
server_pid=$SRV_PID
read -r line <&"${SRV[0]}"
port=${line##*:}
port=${port%/}
base=http://127.0.0.1:$port

# kind weight lua-expression-for-a-path: random boxes the cache has not
# seen; span(lo, hi, w) is "a:a+w" degrees for a random a in lo..hi x 2.5.
kinds=(
  "small 30 '/extract/MonthlyPDSI.tsf?years=' .. math.random(1850,2000) .. ':2010&lat=' .. span(-20,20,10) .. '&lon=' .. span(-60,60,10) .. '&max_missing=0.5'"
  "large 5 '/extract/MonthlyPDSI.tsf?years=' .. math.random(1850,1900) .. ':2010&lat=-40:60&lon=' .. span(-70,0,90) .. '&max_missing=0.5'"
  "summary 20 '/extract?years=' .. math.random(1850,2000) .. ':2010&lat=' .. span(-20,0,30) .. '&lon=' .. span(-60,0,40) .. '&max_missing=0.5'"
  "dap 20 '/dap/pdsi.dods?pdsi.pdsi[0:1:1931][' .. math.random(0,54) .. '][' .. math.random(0,143) .. ']'"
  "filling 5 '/extract/MonthlyPDSI_QC.tsf?years=1981:2010&lat=' .. span(12,16,10) .. '&lon=' .. span(-40,-36,10) .. '&max_missing=0.5&fill=1981:2010'"
  "cached 20 '/extract/MonthlyPDSI.tsf?years=1850:2010&lat=31.25:53.75&lon=-98.75:-76.25&max_missing=0.5'"
)
total_weight=0
for k in "${kinds[@]}"; do set -- $k; total_weight=$((total_weight + $2)); done

if [ "${PDSI_SLOW_CLIENTS:-0}" -gt 0 ]; then
  python3 - "$port" "$PDSI_SLOW_CLIENTS" "$secs" <<'PY' &
import socket, sys, time
port, count, secs = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
request = b"GET /health HTTP/1.1\r\nHost: x\r\nX-Slow: " + b"a" * 4096 + b"\r\n\r\n"
clients = []
def opened():
    c = socket.create_connection(("127.0.0.1", port))
    c.setblocking(False)
    return [c, 0]
clients = [opened() for _ in range(count)]
end = time.time() + secs
reopened = 0
while time.time() < end:
    for k, (c, at) in enumerate(clients):
        try:
            c.send(request[at:at + 1])
            clients[k][1] = (at + 1) % len(request)
        except OSError:
            c.close()
            clients[k] = opened()
            reopened += 1
    time.sleep(1)
print(f"slow clients: {count} held for {secs:.0f} s, {reopened} closed by the server and opened again")
PY
  pids+=($!)
fi
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for k in "${kinds[@]}"; do
  name=${k%% *}; rest=${k#* }; weight=${rest%% *}; expr=${rest#* }
  c=$(( conns * weight / total_weight )); (( c >= 1 )) || c=1
  cat >"$work/$name.lua" <<LUA
codes = {}
local function span(lo, hi, w) local a = math.random(lo, hi) * 2.5 + 1.25; return a .. ":" .. (a + w) end
request = function() return wrk.format("GET", $expr) end
response = function(status) if status ~= 200 then codes[status] = (codes[status] or 0) + 1 end end
local threads = {}
setup = function(t) table.insert(threads, t) end
done = function(summary, latency)
  -- Its quantiles, for the percentiles of the kinds together.
  local q = io.open("$work/$name.q", "w")
  q:write(summary.requests, "\n")
  for i = 1, 1000 do q:write(latency:percentile(i / 10), "\n") end
  q:close()
  local out = {}
  for _, t in ipairs(threads) do
    local c = t:get("codes")
    for s, n in pairs(c) do out[s] = (out[s] or 0) + n end
  end
  local text = ""
  for s, n in pairs(out) do text = text .. " " .. s .. ":" .. n end
  io.write(string.format("%-8s %4d conns %8.1f req/s  p50 %7.1f  p90 %7.1f  p99 %7.1f  max %7.1f ms  other:%s%s\n",
    "$name", $c, summary.requests / (summary.duration / 1e6),
    latency:percentile(50) / 1000, latency:percentile(90) / 1000, latency:percentile(99) / 1000,
    latency.max / 1000, text == "" and " none" or text,
    (summary.errors.connect + summary.errors.read + summary.errors.write + summary.errors.timeout) > 0
      and string.format(" socket errors %d/%d/%d/%d", summary.errors.connect, summary.errors.read,
        summary.errors.write, summary.errors.timeout) or ""))
end
LUA
  wrk -t1 -c"$c" -d"${secs}s" --timeout 30s -s "$work/$name.lua" "$base" >"$work/$name.out" 2>&1 &
  pids+=($!)
done
# Memory at minute 1 (or half way, for shorter runs) and at the end.
early=$(( secs < 120 ? secs / 2 : 60 ))
sleep "$early"
rss_early=$(awk '/VmRSS/ {print $2}' "/proc/$server_pid/status")
peak_early=$(awk '/VmHWM/ {print $2}' "/proc/$server_pid/status")
for p in "${pids[@]}"; do wait "$p" || true; done
rss_end=$(awk '/VmRSS/ {print $2}' "/proc/$server_pid/status")
peak=$(awk '/VmHWM/ {print $2}' "/proc/$server_pid/status")
echo "mixed load, $conns connections, ${secs} s, cores: $(nproc), load average before: $load_before, after: $(cut -d' ' -f1-3 /proc/loadavg)"
for k in "${kinds[@]}"; do grep -h -v '^Running\|^  \|^Requests\|^Transfer\|requests in' "$work/${k%% *}.out" || true; done
# Each kind's share of the requests weighs its quantiles.
python3 - "$work" "$secs" small large summary dap cached <<'PY'
import bisect, sys
work, secs, names = sys.argv[1], float(sys.argv[2]), sys.argv[3:]
kinds = []
for name in names:
    try:
        values = [float(v) for v in open(f"{work}/{name}.q").read().split()]
    except OSError:
        continue
    kinds.append((values[0], sorted(values[1:])))
total = sum(n for n, _ in kinds)
if total:
    points = sorted({x for _, q in kinds for x in q})
    def share_at_most(x):
        return sum(n * bisect.bisect_right(q, x) / len(q) for n, q in kinds) / total
    shown, k = [], 0
    for p in (0.50, 0.90, 0.99):
        while k < len(points) - 1 and share_at_most(points[k]) < p:
            k += 1
        shown.append(points[k] / 1000)
    print("all but gap fillings: %.1f req/s  p50 %7.1f  p90 %7.1f  p99 %7.1f  max %7.1f ms" %
          (total / secs, *shown, points[-1] / 1000))
PY
echo "server memory: resident $((rss_early / 1024)) MB at ${early} s, $((rss_end / 1024)) MB at the end;" \
     "peak $((peak_early / 1024)) MB at ${early} s, $((peak / 1024)) MB at the end"
