#!/usr/bin/env bash
# Lays out a station root: the two directory trees the programs work in, the
# three programs and their data files in the server directory.
# Usage: lay_out_station.sh ROOT BUILD_DIR
set -euo pipefail
root=${1:?station root}
build=${2:?build directory}
mkdir -p "$root"
root=$(cd "$root" && pwd)
insole="$root/insole"
files="$root/VerdanelFiles"
server="$files/Hostlet"
mkdir -p "$insole" "$files/temp" "$files/output" "$files/output_tmp" "$server"

for prog in pathapp/Strandel scaler/Fitmire station/Hostlet; do
  if [ -x "$build/$prog" ]; then
    cp -f "$build/$prog" "$server/"
  else
    echo "warning: $build/$prog is not built" >&2
  fi
done
sample="$build/sample"
for data in "255mm narrow 20220606 backmove 5mm.bmp" drop.png lut_ancestor.txt; do
  if [ -f "$sample/$data" ]; then
    cp -f "$sample/$data" "$server/"
  else
    echo "warning: sample data file \"$data\" is missing" >&2
  fi
done
# A starting print set for a common bed-slinger (0.4 mm nozzle, 1.75 mm
# filament, a 300 x 300 mm bed with X0 Y0 at its front-left corner), as the
# path program's one-value files ("%f" or "%d", no line end). Files already
# there are the operator's tuning and are left as they are. The README's
# "Print parameters" section gives the reasons for each value.
param() {
  [ -e "$server/$1" ] || printf '%s' "$2" > "$server/$1"
}
param va_spacing.txt 0.250000
# One factor for every layer: 0.4 x 0.25 / 2.405 = 0.0416 filament per mm of
# path above the first layer, 0.4 x 0.3 / 2.405 = 0.0499 on the 0.3 mm first.
param va_extrusion.txt 0.045000
param va_back_extrusion.txt 3.000000
param va_pre_extrusion.txt 3.000000
# The outline extrudes 0.6 times the fill's factor: too thin a line.
param bt_contour.txt 0
# The heel point 150 mm in from the bed's left edge, so that left and right
# insoles lie on the middle of the bed; y keeps its start value, which puts
# the heel some 20 mm in from the front edge.
[ -e "$server/origin_point.txt" ] || printf '%d\n%d\n%d\n%d\n' 150 30 1 1 > "$server/origin_point.txt"
param va_first_speed.txt 1200
param va_other_speed.txt 1800
param va_empty_speed.txt 3000
param va_back_speed.txt 1800
param va_no_cross_speed.txt 1800
# Home, heat bed and nozzle and wait, absolute extrusion; after the print:
# heaters off, nozzle lifted, head parked at the front, motors off.
param tx_begin_area.txt "$(printf '%s\n' '; insole start' 'G21' 'G90' 'M82' 'M140 S50' 'M104 S220' 'G28' \
  'M190 S50' 'M109 S220' 'G92 E0')"
param tx_end_area.txt "$(printf '%s\n' '; insole end' 'M104 S0' 'M140 S0' 'G91' 'G1 Z10 F600' 'G90' \
  'G28 X0 Y0' 'M84')"$'\n'
if [ ! -f "$server/station.conf" ]; then
  cat > "$server/station.conf" <<CONF
# Station settings read by Hostlet at start.
key_number = 0
service_url = https://127.0.0.1:8443
check_url = https://127.0.0.1:8443/
ca_file =
tls_verify = 1
CONF
fi
echo "Station root laid out in $root"
echo "Point the programs at it with:"
echo "  export STATION_INSOLE_DIR=\"$insole\""
echo "  export STATION_FILES_DIR=\"$files\""
