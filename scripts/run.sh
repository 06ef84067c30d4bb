#!/usr/bin/env bash
# Sets up, builds and starts Tessavane.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -G Ninja -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DTESS_BUILD_TESTS=OFF \
      -DTESS_BUILD_BENCH=OFF
cmake --build build/release --parallel "$(nproc)"
scripts/need-display.sh build/release/bin/tessavane-cli
exec build/release/bin/tessavane
