#!/usr/bin/env bash
# Installs what is missing, builds the program folder and sends the sample
# invoice requests through the print-data library, showing each answer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
echo "== build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLENWICK_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)"
