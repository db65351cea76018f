#!/usr/bin/env bash
# The station soak: the whole station for SOAK_SECONDS (default 600) against
# the stand-in service with faults injected; prints a table of its figures.
# Usage: soak.sh BUILD_DIR   (SOAK_SECONDS, SOAK_DOWN_SECONDS in the environment)
set -euo pipefail
build=$(cd "${1:?build directory}" && pwd)
export SOAK_SECONDS=${SOAK_SECONDS:-600}
test=$build/standin/station_soak_test
[ -x "$test" ] || { echo "soak: $test is not built"; exit 1; }
echo "soak: the whole station for $SOAK_SECONDS s (its own virtual display)"
# The test brings up its own Xvfb; the log of the long-running Hostlet is kept.
SOAK_KEEP_LOG="$build/soak-hostlet.log" "$test" --gtest_color=no 2>&1 | \
  grep -v -E '^(no_s|size|type|timestamp) ' | tee "$build/soak-report.txt" | \
  sed -n '/^station soak:/,/^$/p;/Failure\|FAILED\|PASSED/p'
status=${PIPESTATUS[0]}
echo "soak: full output in $build/soak-report.txt, the long-running Hostlet's log in $build/soak-hostlet.log"
exit "$status"
