#!/usr/bin/env bash
# Quality, size and speed benchmark of pvconv. Makes its own clips (espeak-ng
# speech, sox tones), encodes them at full and at variable rate, decodes them
# with ffmpeg and prints size, segmental SNR, log-spectral distance and speed
# per clip, then pvconv's peak memory on a 30-minute input.
#   bench/pvconv/run-bench.sh [BUILD_DIR [BENCH OPTIONS...]]   (default: build)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build}"
shift $(( $# > 0 ? 1 : 0 ))
BENCH_OPTIONS=("$@") # passed on to pvconv_bench, e.g. --gamma2=0.5
for tool in ffmpeg sox espeak-ng; do
    command -v "$tool" >/dev/null || { echo "run-bench.sh: $tool is needed" >&2; exit 1; }
done
if [ ! -x "$build/bin/pvconv_bench" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target pvconv_bench pvconv >/dev/null

clips="$(mktemp -d)"
trap 'rm -rf "$clips"' EXIT

speak() { # name voice text...
    local name="$1" voice="$2"
    shift 2
    espeak-ng -v "$voice" -w "$clips/$name.22k.wav" "$*"
    sox "$clips/$name.22k.wav" -r 8000 -c 1 -b 16 "$clips/$name.wav"
    rm "$clips/$name.22k.wav"
}
speak speech_en_us en-us "The quick brown fox jumps over the lazy dog. \
Speech coding squeezes a voice into a few kilobits per second, and a good \
coder keeps it clear enough to recognise the speaker."
speak speech_en_gb en-gb "She sells sea shells by the sea shore. The birch canoe \
slid on the smooth planks. Glue the sheet to the dark blue background."
speak speech_female en-us+f3 "It is easy to tell the depth of a well. These days \
a chicken leg is a rare dish. Rice is often served in round bowls."
speak speech_slow en "Please call Stella. Ask her to bring these things with \
her from the store: six spoons of fresh snow peas, five thick slabs of blue cheese."

# A talker with natural pauses between phrases, over a quiet room noise
# (about -60 dBFS) as a real recording has, so the pauses are not digital silence.
espeak-ng -v en-gb -s 150 -g 12 -w "$clips/pauses.22k.wav" "Well, let me think. \
The train leaves at ten, I believe. Then again, it may be late. \
We shall see, shall we not? Anyway, bring a coat; it is cold out there."
sox "$clips/pauses.22k.wav" -r 8000 -c 1 -b 16 "$clips/pauses.wav"
sox -n -r 8000 -c 1 -b 16 "$clips/room.wav" synth "$(soxi -D "$clips/pauses.wav")" \
    pinknoise vol 0.002
sox -m "$clips/pauses.wav" "$clips/room.wav" -b 16 "$clips/speech_pauses.wav"
rm "$clips/pauses.22k.wav" "$clips/pauses.wav" "$clips/room.wav"
# The en-us clip with a DC offset of 10 % of full scale; scored against the clean clip.
sox "$clips/speech_en_us.wav" "$clips/speech_en_us_dc10.wav" dcshift 0.1

sox -n -r 8000 -c 1 -b 16 "$clips/tone_440.wav" synth 3 sine 440 vol 0.5
sox -n -r 8000 -c 1 -b 16 "$clips/chord_c_major.wav" synth 3 sine 261.63 sine 329.63 \
    sine 392 remix - vol 0.5
sox -n -r 8000 -c 1 -b 16 "$clips/sweep.wav" synth 3 sine 100-3500 vol 0.4

"$build/bin/pvconv_bench" --memory="$build/bin/pvconv" "${BENCH_OPTIONS[@]}" "$clips"/*.wav
if [ -n "${KEEP_CLIPS:-}" ]; then mkdir -p "$KEEP_CLIPS"; cp "$clips"/*.wav "$KEEP_CLIPS"/; fi
