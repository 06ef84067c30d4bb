#!/usr/bin/env bash
# Sets up, builds and starts Tessavane.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -G Ninja -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DTESS_BUILD_TESTS=OFF \
      -DTESS_BUILD_BENCH=OFF
cmake --build build/release
exec build/release/bin/tessavane
