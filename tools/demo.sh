#!/usr/bin/env bash
# The station's main job on the bundled sample data: a fresh station root in a
# temporary directory, sample foot images listed for the path program, and the
# path program writing one G-code file per image.
# Usage: demo.sh BUILD_DIR
set -euo pipefail
build=${1:?build directory}
here=$(cd "$(dirname "$0")" && pwd)
root=$(mktemp -d /tmp/station-demo-XXXXXX)
"$here/lay_out_station.sh" "$root" "$build" >/dev/null
export STATION_INSOLE_DIR="$root/insole"
export STATION_FILES_DIR="$root/VerdanelFiles"
server="$STATION_FILES_DIR/Hostlet"
echo "demo: station root $root"

feet=(foot_left_large_flat.bmp foot_right_small_higharch.bmp)
list=""
for f in "${feet[@]}"; do
  if [ -f "$build/sample/$f" ]; then
    cp "$build/sample/$f" "$STATION_INSOLE_DIR/"
    list+="${list:+$'\r\n'}$f"
  fi
done
if [ -z "$list" ]; then
  echo "demo: no sample foot images were generated; nothing to do"
  exit 0
fi
printf '%s' "$list" > "$STATION_INSOLE_DIR/Bmp_List.txt"
echo "demo: listed ${#feet[@]} foot images in $STATION_INSOLE_DIR/Bmp_List.txt"

run=()
[ -n "${DISPLAY:-}" ] || run=(xvfb-run -a -s "-screen 0 1600x900x24")
echo "demo: running Strandel in batch mode"
( cd "$server" && timeout 600 "${run[@]}" ./Strandel > "$root/strandel.log" 2>&1 ) || \
  echo "demo: Strandel ended with status $? (log: $root/strandel.log)"
found=$(find "$STATION_FILES_DIR" -maxdepth 1 -name '*.gcode' | sort)
if [ -n "$found" ]; then
  echo "demo: G-code files written:"
  for g in $found; do echo "  $g ($(grep -c '^G1' "$g") moves)"; done
else
  echo "demo: no G-code file was written (log: $root/strandel.log)"
fi
