#!/usr/bin/env bash
# Sets up, builds with warnings as errors and AddressSanitizer + UBSan, runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -G Ninja -S . -B build/test -DCMAKE_BUILD_TYPE=Debug -DTESS_WERROR=ON -DTESS_SANITIZE=ON
cmake --build build/test --parallel "$(nproc)"
export QT_QPA_PLATFORM=offscreen
# LeakSanitizer on: the suite is leak-free. A leak inside Qt or a font library that is
# not ours goes into tests/lsan.supp by name, with a comment saying why.
# intercept_tls_get_addr=0: GCC 12's runtime takes some blocks of dynamic TLS (the media
# module is loaded with dlopen, and its libraries keep thread-local state) for an old
# glibc header and reads a bogus range, so the leak check's tracer crashed now and then
# after a test had passed; fixed in later runtimes.
export ASAN_OPTIONS=detect_leaks=1:intercept_tls_get_addr=0
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
ctest --test-dir build/test --output-on-failure -j"$(nproc)"
