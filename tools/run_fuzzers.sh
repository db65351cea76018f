#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a bounded time, side by side,
# seeded from testdata/fuzz/<target>/ and the generated sample data.
# Usage: run_fuzzers.sh BUILD_DIR SECONDS
set -uo pipefail
build=${1:?fuzz build directory}
seconds=${2:-60}
src=$(cd "$(dirname "$0")/.." && pwd)
targets=$(find "$build/fuzz" -maxdepth 1 -type f -name '*_fuzz' -perm -u+x 2>/dev/null | sort)
if [ -z "$targets" ]; then
  echo "fuzz: no targets built in $build/fuzz"
  exit 0
fi
# intercept_tls_get_addr=0: see the sanitize-test target in the Makefile.
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1:intercept_tls_get_addr=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=suppressions=$src/tests/lsan.supp
# Seeds from the generated sample data, in the form each target reads its
# input (the image target takes a leading byte choosing the reader).
sample_seeds() {
  local name=$1 sample=$2 corpus=$3 f
  [ -d "$sample" ] || return 0
  case $name in
    stl_fuzz)
      for f in "$sample"/*.stl; do
        [ -f "$f" ] && [ "$(stat -c %s "$f")" -le 300000 ] && cp -n "$f" "$corpus/sample_$(basename "$f")"
      done ;;
    image_load_fuzz)
      for f in "$sample"/*.bmp "$sample"/batch/*.bmp; do
        [ -f "$f" ] && { printf '\0'; cat "$f"; } > "$corpus/sample_$(basename "$f" | tr ' ' _)"
      done
      for f in "$sample"/batch/*.txt; do
        [ -f "$f" ] && { printf '\2'; cat "$f"; } > "$corpus/sample_$(basename "$f")"
      done ;;
    bmp_list_fuzz)
      [ -f "$sample/batch/Bmp_List.txt" ] && cp -n "$sample/batch/Bmp_List.txt" "$corpus/sample_Bmp_List.txt" ;;
  esac
  return 0
}
export -f sample_seeds
run_one() {
  local bin=$1 seconds=$2 build=$3 src=$4
  local name; name=$(basename "$bin")
  local corpus="$build/fuzz-corpus/$name" art="$build/fuzz-artifacts/$name/"
  mkdir -p "$corpus" "$art"
  [ -d "$src/testdata/fuzz/$name" ] && cp -n "$src/testdata/fuzz/$name"/* "$corpus/" 2>/dev/null
  sample_seeds "$name" "$build/sample" "$corpus"
  "$bin" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=300000 \
    -print_final_stats=1 -artifact_prefix="$art" > "$build/fuzz-$name.log" 2>&1
  local rc=$?
  local log="$build/fuzz-$name.log"
  stat_of() { grep -a -o "stat::$1: *[0-9]*" "$log" | grep -o '[0-9]*$'; }
  local execs; execs=$(stat_of number_of_executed_units)
  [ -z "$execs" ] && execs=$(grep -a -oE '^#[0-9]+' "$log" | tail -1 | tr -d '#')
  if [ $rc -eq 0 ]; then
    printf '%-28s ok %11s runs %8s/s %6s inputs  slowest %ss  peak %s MB\n' "$name" "${execs:-?}" \
      "$(stat_of average_exec_per_sec)" "$(ls "$corpus" | wc -l)" "$(stat_of slowest_unit_time_sec)" \
      "$(stat_of peak_rss_mb)"
  else
    printf '%-28s FAILED after %s runs (log: %s; input: %s)\n' "$name" "${execs:-?}" "$log" \
      "$(ls "$art" | head -1)"
    grep -a -m 5 -E 'ERROR|SUMMARY|runtime error' "$log"
  fi
  return $rc
}
export -f run_one
echo "fuzz: $(echo "$targets" | wc -l) targets, ${seconds}s each"
echo "$targets" | xargs -P "$(nproc)" -I{} bash -c 'run_one "$@"' _ {} "$seconds" "$build" "$src"
rc=$?
[ $rc -eq 0 ] && echo "fuzz: no crash found" || echo "fuzz: crashes found (inputs under $build/fuzz-artifacts)"
exit $rc
