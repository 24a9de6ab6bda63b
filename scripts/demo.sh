#!/usr/bin/env bash
# Build and start the window on the built-in simulated scale.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh build
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARLO_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target varlo-manager
exec build/app/varlo-manager --demo "$@"
