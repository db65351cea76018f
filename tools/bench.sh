#!/usr/bin/env bash
# Benchmarks: the station's bench programs and the peer slicers on the same insole, in one table.
#
# Usage: tools/bench.sh [BUILD_DIR [JOBS]]        (what `make bench` runs; BUILD_DIR default build-release)
#   BENCH_RUNS=5          timed runs per figure, after one warm-up (at least 5)
#   BENCH_SPACINGS=0.1,0.3 layer heights in mm; the first is the start value of va_spacing
#   BENCH_NOZZLE=0.4      nozzle width in mm = the peers' line spacing (fully dense)
#   BENCH_IDLE_SECONDS=12 length of each window in which the idle Hostlet's CPU is taken
#   BENCH_PEER_IMAGES=foot_left_large_flat.bmp  sample feet whose insole models (built as a load
#                         builds them, written by the program's STL writer: bench_export_insole_stl)
#                         the peers slice besides insole_50k.stl
# It builds BUILD_DIR in Release with target `benchmarks`, installs prusa-slicer and cura-engine
# from Debian when missing, takes CuraEngine's fdmprinter.def.json and fdmextruder.def.json from the
# `cura` package without installing it, runs every program in BUILD_DIR/bench under one Xvfb, slices
# the insole with both peers, runs the built Hostlet idle in a fresh station root (its web service
# not answering) and reads its CPU and peak memory from /proc, checks every G-code file and prints
# the table (also saved in BUILD_DIR/bench-out/bench-table.txt). A benchmark prints; it never
# fails: the exit status is 0.
#
# Output convention of the bench programs (bench/<name>.cpp -> BUILD_DIR/bench/bench_<name>):
#   Each figure is one line on stdout:   BENCH <name> <metric> <value> <unit>
#   four fields without blanks; <value> a plain number ("%.3f"), or a file path for the file lines
#   below. Anything else printed is ignored. Exit status 0 when the figures are good, else non-zero
#   (the table then says "n/a" and shows the last lines printed; never print a made-up figure).
#   Each program is run with no arguments in a fresh scratch directory, DISPLAY set to the virtual
#   display and BENCH_RUNS in the environment, once as a warm-up and then BENCH_RUNS times; the
#   table shows the median of each figure over those runs with min and max. Keep one run short
#   (under ~20 s). Figures the table knows (others are listed as printed):
#     BENCH engine_layers p50 <ms> ms             per-layer time of the engine, median over layers
#     BENCH engine_layers p99 <ms> ms             99th percentile over layers (target <= 8.3 ms)
#     BENCH engine_layers layers_per_s <n> 1/s
#     BENCH fitmire_rebuild median <ms> ms        (also min, max) one rebuild (target <= 20 ms)
#     BENCH hostlet_idle cpu_per_min <s> s        CPU seconds per minute while idle (target <= 0.6)
#     BENCH hostlet_idle peak_mem <MB> MB
#   bench_strandel_batch is the whole job and is run differently: once per layer height and run,
#   interleaved with the peers, with BENCH_SPACING_MM (the va_spacing to use, e.g. 0.1 or 0.3) and
#   BENCH_OUT_DIR (a directory for files to keep; also its working directory) in the environment.
#   Per job image <image> (its name without extension) it prints:
#     BENCH strandel_batch spacing <mm> mm             the va_spacing it really used
#     BENCH strandel_batch/<image> layers <n> count    layers written
#     BENCH strandel_batch/<image> wall <s> s          Strandel's wall time for that image's job
#     BENCH strandel_batch/<image> cpu <s> s           user+system, children included
#     BENCH strandel_batch/<image> peak_mem <MB> MB    peak resident memory
#     BENCH strandel_batch/<image> gcode <path> file   the G-code it wrote (checked by the table)
#     BENCH strandel_batch/<image> stl <path> file     the insole mesh saved by 儲存STL ("123.stl",
#                                                      copied per image); the peers slice these
#   Without wall/cpu/peak_mem lines the whole process is measured (getrusage of the child) as one job.
#   The table repeats it 1 + BENCH_RUNS times per layer height: a run of a few images is enough.
#   Programs that print no BENCH lines are read from their own tables where the table knows them:
#   bench_engine_layers, bench_fitmire_rebuild and bench_hostlet_idle, and any
#   "<what>: median <x> ms" line (tools/bench_run.py, parse_*).
#   G-code files of ours go through bench_gcode_check (bench/gcode_check.cpp, the project's checker).
#   bench_gcode_check and bench_export_insole_stl are tools the table uses, not benchmarks.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/.." && pwd)
build=${1:-$src/build-release}
jobs=${2:-3}
case "$build" in /*) ;; *) build=$src/$build ;; esac
runs=${BENCH_RUNS:-5}
spacings=${BENCH_SPACINGS:-0.1,0.3}
nozzle=${BENCH_NOZZLE:-0.4}
out=$build/bench-out
sudo_=$([ "$(id -u)" = 0 ] || echo sudo)
mkdir -p "$out"
notes=()
say() { echo "bench: $*" >&2; }
note() { say "$*"; notes+=(--notes "note: $*"); }

# --- release build, the benchmark programs included
say "release build in $build"
if cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release >"$out/build.log" 2>&1; then
  cmake --build "$build" -j "$jobs" >>"$out/build.log" 2>&1 ||
    note "the release build has errors (see $out/build.log); what did build is measured"
  targets=$(cmake --build "$build" --target help 2>/dev/null | grep -o 'bench_[A-Za-z0-9_]*' | sort -u)
  if [ -n "$targets" ] && ! cmake --build "$build" -j "$jobs" --target benchmarks >>"$out/build.log" 2>&1; then
    # One program that does not build must not take the others with it.
    for t in $targets; do
      cmake --build "$build" -j "$jobs" --target "$t" >>"$out/build.log" 2>&1 || note "$t does not build (see $out/build.log)"
    done
  fi
else
  note "the release build could not be configured (see $out/build.log); only the peers are measured"
  tail -n 20 "$out/build.log" >&2
fi

# --- the peers, from Debian
need=()
command -v prusa-slicer >/dev/null || need+=(prusa-slicer)
command -v CuraEngine >/dev/null || need+=(cura-engine)
if [ ${#need[@]} -gt 0 ]; then
  say "installing ${need[*]}"
  { $sudo_ apt-get update -q && DEBIAN_FRONTEND=noninteractive $sudo_ apt-get install -y -q "${need[@]}"; } \
    >"$out/apt.log" 2>&1 || note "could not install ${need[*]} (see $out/apt.log)"
fi
defs=$build/bench-peers/cura
if command -v CuraEngine >/dev/null && [ ! -f "$defs/fdmprinter.def.json" ]; then
  say "taking CuraEngine's setting definitions from the cura package"
  tmp=$(mktemp -d)
  ( cd "$tmp" && { apt-get download cura || { $sudo_ apt-get update -q && apt-get download cura; }; } ) \
    >"$out/apt-cura.log" 2>&1
  deb=$(ls "$tmp"/cura_*.deb 2>/dev/null | head -n 1)
  if [ -n "$deb" ] && dpkg-deb -x "$deb" "$tmp/x"; then
    mkdir -p "$defs"
    cp "$tmp"/x/usr/share/cura/resources/definitions/fdm{printer,extruder}.def.json "$defs/" ||
      note "the cura package holds no fdmprinter.def.json"
  else
    note "could not download the cura package (see $out/apt-cura.log); CuraEngine left out"
  fi
  rm -rf "$tmp"
fi

# --- the insole the peers slice when our program cannot export its own yet
stl=$build/sample/insole_50k.stl
if [ ! -f "$stl" ]; then
  stl=$out/standin_insole.stl
  [ -f "$stl" ] || python3 "$here/bench_insole_stl.py" "$stl" >&2
  note "no generated insole_50k.stl: the peers slice a stand-in insole ($stl)"
fi

# --- one virtual display for all of our programs
display=""
xvfb_pid=""
stop_display() { [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null; }
trap stop_display EXIT
if command -v Xvfb >/dev/null; then
  numfile=$(mktemp)
  Xvfb -displayfd 9 -screen 0 1600x900x24 -nolisten tcp 9>"$numfile" >"$out/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$numfile" ] && break; sleep 0.1; done
  [ -s "$numfile" ] && display=":$(tr -d '[:space:]' <"$numfile")" || note "Xvfb did not start (see $out/xvfb.log)"
  rm -f "$numfile"
fi

PYTHONDONTWRITEBYTECODE=1 python3 "$here/bench_run.py" --build "$build" --out "$out" --runs "$runs" --spacings "$spacings" \
  --nozzle "$nozzle" --stl "$stl" --cura-defs "$defs" --display "$display" --display-pid "${xvfb_pid:-0}" \
  "${notes[@]}" | tee "$out/bench-table.txt"
exit 0
