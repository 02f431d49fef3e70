#!/usr/bin/env bash
# The map service's GetMap of the whole grid at 1024x512 (one keep-alive
# client, cache off, median latency) beside GDAL making the same map from
# the NetCDF copy in the same run: the month's band resampled to 1024x512
# and coloured by the class table into a PNG.
# Run by hand: bench/wms.sh [scratch-dir [build-dir]]
# Needs wrk and gdal-bin.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build/bench-data}
build=${2:-$root/build/default}
reps=${PDSI_BENCH_REPS:-11}
secs=${PDSI_BENCH_SECONDS:-10}
"$root/scripts/packages.sh" build bench test
cmake --build "$build" --target pdsi makegrid >/dev/null
mkdir -p "$dir" && cd "$dir"
[ -f pdsisc1850-2010.txt ] || "$build/tools/makegrid" --out pdsisc1850-2010.txt
source "$root/bench/timing.sh"
pdsi=$build/cli/pdsi
server_pid=
cleanup() { [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null; }
trap cleanup EXIT

coproc SRV { exec "$pdsi" serve --listen 127.0.0.1:0 --quiet --cache 0; }
server_pid=$SRV_PID
read -r line <&"${SRV[0]}"
port=${line##*:}
port=${port%/}
map="/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=pdsi&STYLES=&CRS=EPSG:4326&BBOX=-60,-180,77.5,180"
map+="&WIDTH=1024&HEIGHT=512&FORMAT=image/png&TRANSPARENT=TRUE&TIME=2010-12"
curl -s -o wms-map.png "http://127.0.0.1:$port$map"
echo "== GetMap, the whole grid at 1024x512, 2010-12, cache off ($(stat -c %s wms-map.png) bytes)"
wrk -t1 -c1 -d"${secs}s" --latency "http://127.0.0.1:$port$map" |
  awk '/ 50%| 90%| 99%/ {print "  pdsi serve, one keep-alive client: " $0} /Requests\/sec/ {print "  requests/s " $2}'

# The peer: the NetCDF copy of 2010, its December band, the classes as
# steps of a colour relief (each bound and a hundredth past it).
[ -f nc-2010/MonthlyPDSI.nc ] ||
  "$pdsi" extract --grid pdsisc1850-2010.txt --quiet --out nc-2010 --years 2010:2010 --max-missing 1.01 --format netcdf
cat > classes.txt <<'EOF'
nv 0 0 0 0
-99 84 48 5
-4 84 48 5
-3.995 140 81 10
-3 140 81 10
-2.995 191 129 45
-2 191 129 45
-1.995 223 194 125
-1 223 194 125
-0.995 246 232 195
-0.5 246 232 195
-0.495 245 245 245
0.495 245 245 245
0.5 199 234 229
0.995 199 234 229
1 128 205 193
1.995 128 205 193
2 53 151 143
2.995 53 151 143
3 1 102 94
3.995 1 102 94
4 0 60 48
99 0 60 48
EOF
gdal_map() {
  gdal_translate -q -of VRT -b 12 -outsize 1024 512 -r near NETCDF:"nc-2010/MonthlyPDSI.nc":pdsi gdal-map.vrt &&
    gdaldem color-relief -q -of PNG -alpha gdal-map.vrt classes.txt gdal-map.png
}
for _ in $(seq "$reps"); do one gdal gdal_map; done
echo "== GDAL, the same map from the NetCDF copy ($(stat -c %s gdal-map.png) bytes)"
echo "  gdal_translate + gdaldem color-relief: $(stats gdal)"
