#!/usr/bin/env bash
# The whole station on the generated sample data: a fresh station root, the
# stand-in web service on 127.0.0.1 handing out one insole job and its insole
# data, Hostlet fetching it, Fitmire saving both insole images, Strandel
# turning them into G-code, a production record uploaded; pictures of the
# three windows. Runs under its own virtual display when there is none.
# Usage: demo.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?build directory}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1600x1000x24" "$0" "$build"
fi

for prog in standin/standin_service standin/window_shot station/Hostlet scaler/Fitmire pathapp/Strandel; do
  [ -x "$build/$prog" ] || { echo "demo: $build/$prog is not built"; exit 1; }
done

root=$(mktemp -d /tmp/station-demo-XXXXXX)
"$here/lay_out_station.sh" "$root" "$build" >/dev/null
export STATION_INSOLE_DIR="$root/insole"
export STATION_FILES_DIR="$root/VerdanelFiles"
server="$STATION_FILES_DIR/Hostlet"
shots="$root/screenshots"
service="$root/service"
mkdir -p "$shots" "$service"
echo "demo: station root $root"

pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

mobile=0912345678
cat > "$service/script" <<EOF
# One insole job, then its insole data; no further work.
push /Mirel/getPrintToken.php 200 body={"resultCode":200,"token":"demo","sdate":"2026-12-01","edate":"2026-12-31","sleep":3,"printid":1001,"type":"A001","bmpfile":"orders/${mobile}_7.bmp","bmpfile2":"","mobile":"$mobile","btoken":"","left":"0.25 245 0 0 0 0 0 0","right":"0.3 250 0 0 0 0 0 0"}
default /Mirel/getPrintToken.php 200 body={"resultCode":200,"sleep":3,"printid":0}
push /Mirel/servlet/getOrbaneInsole.php 200 body={"resultCode":"200","mobile":"$mobile","mtime":"20261209","timestamp":"1765260000","pressureleftside":"12","pressurerightside":"14","rdata":"0","ldata":"0"}
default /Mirel/servlet/getOrbaneInsole.php 200 body={"resultCode":"204"}
default /Mirel/servlet/braceRecord.php 200 body={"resultCode":200}
EOF
"$build/standin/standin_service" "$service" "$service/script" --seconds 400 > "$service/standin.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$service/port" ] && break; sleep 0.1; done
[ -s "$service/port" ] || { echo "demo: the stand-in service did not start"; cat "$service/standin.log"; exit 1; }
url="https://127.0.0.1:$(cat "$service/port")"
cat > "$server/station.conf" <<EOF
# Station settings read by Hostlet at start: the stand-in service on loopback.
key_number = 4242
service_url = $url
check_url = $url/
ca_file = $service/cert.pem
tls_verify = 1
EOF
echo "demo: stand-in web service at $url"
# A production record waiting to be reported.
: > "$STATION_FILES_DIR/output/A12_36-L.gcode.t1"

# The pictures are taken from each window's own frames: Fitmire's is the last
# frame it shows before it closes (the left insole it made), Strandel's the
# last of its first four seconds.
"$build/standin/window_shot" Fitmire "$shots/fitmire.png" 120 20000 > "$shots/fitmire.log" 2>&1 &
fitmire_shot=$!
"$build/standin/window_shot" Strandel "$shots/strandel.png" 150 4000 > "$shots/strandel.log" 2>&1 &
strandel_shot=$!

echo "demo: starting Hostlet"
( cd "$server" && exec ./Hostlet ) > "$root/station.log" 2>&1 &
hostlet=$!
pids+=($hostlet)

gl="$STATION_FILES_DIR/${mobile}_iLeft.gcode"
gr="$STATION_FILES_DIR/${mobile}_iRight.gcode"
deadline=$((SECONDS + 180))
until [ -f "$gl" ] && [ -f "$gr" ]; do
  if [ $SECONDS -ge $deadline ]; then echo "demo: no G-code within 180 s (log: $root/station.log)"; break; fi
  if ! kill -0 $hostlet 2>/dev/null; then echo "demo: Hostlet ended early (log: $root/station.log)"; break; fi
  sleep 1
done
# Strandel ends by itself when its list is done; the record goes up on a file cycle.
deadline=$((SECONDS + 60))
while { pgrep -f "$server/Strandel" >/dev/null || ! grep -q braceRecord "$service/requests.log" 2>/dev/null; } &&
      [ $SECONDS -lt $deadline ]; do sleep 1; done
wait $fitmire_shot $strandel_shot 2>/dev/null || true
"$build/standin/window_shot" "鞋墊下載系統" "$shots/hostlet.png" 5 200 > "$shots/hostlet.log" 2>&1 || true
kill -TERM $hostlet 2>/dev/null || true
wait $hostlet 2>/dev/null || true

echo
echo "demo: what the station did"
count() { grep -c " $1 " "$service/requests.log" 2>/dev/null || true; }
echo "  job endpoint asked:        $(count /Mirel/getPrintToken.php) time(s)"
echo "  insole-data endpoint asked: $(count /Mirel/servlet/getOrbaneInsole.php) time(s)"
echo "  records uploaded:          $(grep ' /Mirel/servlet/braceRecord.php ' "$service/requests.log" 2>/dev/null | cut -d' ' -f3- || true)"
echo "  Fitmire saved:             $(grep -c 'FOUND RIGHT' "$root/station.log" || true) job(s)"
echo "demo: G-code files in $STATION_FILES_DIR:"
found=0
for g in "$STATION_FILES_DIR"/*.gcode; do
  [ -f "$g" ] || continue
  found=1
  first=$(head -n 1 "$g")
  last=$(tail -c 40 "$g" | tr -d '\r' | sed '/^$/d' | tail -n 1)
  echo "  $g: $(wc -c < "$g") bytes, $(grep -c '^G1' "$g") moves, $(grep -c 'G92 E0' "$g") resets," \
    "$(grep -cE 'F0([^0-9.]|$)' "$g" || true) zero feeds; opens \"$first\", ends \"$last\""
done
[ $found = 1 ] || echo "  none (log: $root/station.log)"
echo "demo: window pictures:"
for s in hostlet fitmire strandel; do
  if [ -f "$shots/$s.png" ]; then echo "  $shots/$s.png"; else echo "  $s: none ($(cat "$shots/$s.log" 2>/dev/null))"; fi
done
echo "demo: logs: $root/station.log (all three programs), $service/requests.log (what the service heard)"
[ $found = 1 ]
