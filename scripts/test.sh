#!/usr/bin/env bash
# Build everything and run every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh test
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARLO_TESTS=ON >/dev/null
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)"
