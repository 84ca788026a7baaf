#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
# Also builds the platform layer and the server core with AddressSanitizer
# and runs their tests there.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

bash scripts/install-deps.sh

echo "== build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"

echo "== tests"
(cd build && ctest --output-on-failure -j"$jobs" --timeout 600)

if [ -d platform ] && [ "${PLENWICK_SKIP_SANITIZER:-0}" != 1 ]; then
  echo "== sanitizer build (platform and core)"
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DPLENWICK_SANITIZE=address \
        -DPLENWICK_AREAS="platform;core" >/dev/null
  cmake --build build-asan -j"$jobs"
  (cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j"$jobs" -L unit --timeout 600)
fi
