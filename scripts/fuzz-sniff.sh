#!/usr/bin/env bash
# Builds the libFuzzer target of the media format readers (src/media/sniff, plain
# C++) with clang (address and undefined-behaviour sanitizers) in build-fuzz/, seeds
# it with small real files made here by ImageMagick, sox and ffmpeg, and runs it.
#   scripts/fuzz-sniff.sh [SECONDS]     (default 60)
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
[ -n "$cxx" ] || { echo "fuzz-sniff.sh: clang++ is needed" >&2; exit 1; }

mkdir -p "$out/sniff-corpus"
"$cxx" -std=c++17 -g -O1 -fno-omit-frame-pointer \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I "$root/src" "$root/tests/media/fuzz/sniff_fuzzer.cpp" "$root"/src/media/sniff/*.cpp \
    -o "$out/sniff_fuzzer"

# Seeds: one small real file of each format (kept when a tool is missing).
c="$out/sniff-corpus"
im=/usr/bin/convert-im6.q16
if [ -x "$im" ]; then
    "$im" -size 8x6 gradient: -depth 8 -interlace PNG "$c/adam7.png"
    "$im" -size 8x6 gradient: -depth 8 -interlace Plane "$c/progressive.jpg"
    "$im" -size 8x6 xc:blue -colorspace CMYK "$c/cmyk.jpg"
    "$im" -delay 5 -size 4x4 xc:red xc:blue "$c/anim.gif"
    "$im" -size 8x6 xc:white "$c/mono.wbmp"
    "$im" -size 4x4 xc:white "$c/win.bmp"
fi
if command -v sox >/dev/null; then
    sox -n -r 8000 -c 1 -b 16 "$c/voice.wav" synth 0.05 sine 440
fi
if command -v ffmpeg >/dev/null; then
    q=(-hide_banner -loglevel error -y)
    ffmpeg "${q[@]}" -f lavfi -i sine=d=0.05 -c:a libmp3lame "$c/a.mp3" || true
    ffmpeg "${q[@]}" -f lavfi -i sine=d=0.05 -c:a aac "$c/a.m4a" || true
fi
printf 'MThd\0\0\0\6\0\1\0\1\1\340MTrk\0\0\0\14\0\220\74\144\203\140\74\0\0\377\57\0' > "$c/tune.mid"
qlcm='RIFF\x9e\x00\x00\x00QLCMfmt \x96\x00\x00\x00\x01\x00\x41\x6d\x7f\x5e\x15\xb1\xd0\x11\xba\x91\x00\x80\x5f\xb4\xb9\x7e'
printf "$qlcm" > "$c/voice.qcp"
head -c 114 /dev/zero | tr '\0' ' ' >> "$c/voice.qcp"
printf '<?xml version="1.0"?><!DOCTYPE wml><wml></wml>' > "$c/page.wml"

echo "fuzz-sniff.sh: running for ${seconds}s"
"$out/sniff_fuzzer" -max_total_time="$seconds" -max_len=8192 -print_final_stats=1 \
    -dict="$root/tests/media/fuzz/sniff.dict" -artifact_prefix="$out/sniff-" "$c"
