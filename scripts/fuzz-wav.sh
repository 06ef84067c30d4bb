#!/usr/bin/env bash
# Builds the libFuzzer target of pvconv's WAV reader with clang (address and
# undefined-behaviour sanitizers) in build-fuzz/, and runs it.
#   scripts/fuzz-wav.sh [SECONDS]     (default 60)
# Needs clang and libclang-rt-14-dev (Debian 12); no Qt, no CMake.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
out="$root/build-fuzz"
cxx="${CXX_FUZZ:-}"
if [ -z "$cxx" ]; then
    for c in clang++ clang++-14 clang++-15 clang++-16; do
        if command -v "$c" >/dev/null; then cxx="$c"; break; fi
    done
fi
[ -n "$cxx" ] || { echo "fuzz-wav.sh: clang++ is needed" >&2; exit 1; }

mkdir -p "$out/corpus"
"$cxx" -std=c++17 -g -O1 -fno-omit-frame-pointer \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I "$root/src/pvconv" \
    "$root/tests/pvconv/fuzz/wav_fuzzer.cpp" "$root/src/pvconv/wav_reader.cpp" \
    -o "$out/wav_fuzzer"

# Seeds: a tiny valid 16-bit file, an 8-bit one and an extensible one.
seed() { printf "$2" > "$out/corpus/$1"; }
fmt16='fmt \x10\x00\x00\x00\x01\x00\x01\x00\x40\x1f\x00\x00\x80\x3e\x00\x00\x02\x00\x10\x00'
fmt8='fmt \x10\x00\x00\x00\x01\x00\x01\x00\x40\x1f\x00\x00\x40\x1f\x00\x00\x01\x00\x08\x00'
ext='fmt \x28\x00\x00\x00\xfe\xff\x01\x00\x40\x1f\x00\x00\x80\x3e\x00\x00\x02\x00\x10\x00\x16\x00\x10\x00\x04\x00\x00\x00\x01\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71'
seed pcm16.wav "RIFF\x2c\x00\x00\x00WAVE${fmt16}data\x08\x00\x00\x00\x01\x00\xff\xff\x00\x10\x00\xf0"
seed pcm8.wav "RIFF\x29\x00\x00\x00WAVE${fmt8}data\x05\x00\x00\x00\x80\x00\xff\x81\x7f\x00"
seed ext.wav "RIFF\x44\x00\x00\x00WAVE${ext}data\x04\x00\x00\x00\x01\x00\xff\xff"
seed list.wav "RIFF\x38\x00\x00\x00WAVELIST\x03\x00\x00\x00abc\x00${fmt16}data\x04\x00\x00\x00\x01\x00\x02\x00"

echo "fuzz-wav.sh: running for ${seconds}s"
"$out/wav_fuzzer" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
    -dict="$root/tests/pvconv/fuzz/wav.dict" -artifact_prefix="$out/" "$out/corpus"
