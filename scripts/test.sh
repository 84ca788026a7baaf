#!/usr/bin/env bash
# Installs what is missing, builds everything with its tests and runs every
# test: unit, process and end-to-end (CTest labels unit, process, integration,
# e2e). Then builds the platform layer and the server core with
# AddressSanitizer and runs their tests there, replays the fuzz targets'
# earlier findings in the fuzz build, and runs each libFuzzer target for 30 s
# (scripts/fuzz.sh; one pass/fail step in the counts). Ends with one
# line of counts.
#
# Tests that start the programs or use the fixed port, names and /dev/shm run
# in namespaces of their own (tests/support/isolated.sh), so this passes while
# a Kelvorn and Pallowen of this checkout (scripts/run.sh) or the installed
# service run, and never touches them.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

bash scripts/install-deps.sh

total_run=0 total_failed=0 total_skipped=0
# ctest_counted <dir> <ctest args...>: runs ctest, fails when it finds no test,
# and adds its counts to the totals.
ctest_counted() {
  local dir=$1; shift
  local log rc=0
  log=$(mktemp)
  (cd "$dir" && ctest --output-on-failure --no-tests=error -j"$jobs" --timeout 600 "$@") 2>&1 | tee "$log" || rc=$?
  local line run failed skipped
  line=$(grep -E "tests passed, [0-9]+ tests failed out of [0-9]+" "$log" | tail -n 1 || true)
  run=$(sed -nE 's/.* out of ([0-9]+).*/\1/p' <<<"$line")
  failed=$(sed -nE 's/.* ([0-9]+) tests failed out of.*/\1/p' <<<"$line")
  skipped=$(grep -cE "\*\*\*Skipped|Not Run.*Disabled" "$log" || true)
  rm -f "$log"
  total_run=$((total_run + ${run:-0}))
  total_failed=$((total_failed + ${failed:-0}))
  total_skipped=$((total_skipped + ${skipped:-0}))
  if [ "$rc" -ne 0 ] && [ -z "$line" ]; then total_failed=$((total_failed + 1)); fi
  return "$rc"
}

status=0
echo "== build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLENWICK_TESTS=ON >/dev/null
cmake --build build -j"$jobs"

echo "== tests"
ctest_counted build || status=1

if [ -d platform ] && [ "${PLENWICK_SKIP_SANITIZER:-0}" != 1 ]; then
  echo "== sanitizer build (platform and core)"
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DPLENWICK_SANITIZE=address \
        -DPLENWICK_TESTS=ON -DPLENWICK_AREAS="platform;core" >/dev/null
  cmake --build build-asan -j"$jobs"
  ASAN_OPTIONS=detect_leaks=1 ctest_counted build-asan -L unit || status=1
fi

if [ "${PLENWICK_SKIP_FUZZ:-0}" != 1 ]; then
  echo "== earlier fuzz findings, replayed in the fuzz build (clang, ASan, UBSan)"
  if bash scripts/fuzz.sh --build-only; then
    ctest_counted build-fuzz -L fuzz || status=1
  else
    status=1; total_run=$((total_run + 1)); total_failed=$((total_failed + 1))
  fi
  echo "== fuzz (30 s a target)"
  total_run=$((total_run + 1))
  bash scripts/fuzz.sh 30 || { status=1; total_failed=$((total_failed + 1)); }
fi

echo "test: $total_run tests run, $((total_run - total_failed - total_skipped)) passed," \
     "$total_failed failed, $total_skipped skipped"
exit "$status"
