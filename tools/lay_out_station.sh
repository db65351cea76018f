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
