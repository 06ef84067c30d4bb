#!/usr/bin/env bash
# Any-sound-to-ringtone benchmark: a 4-minute 44.1 kHz stereo MP3 (espeak-ng speech
# over a quiet sox music bed) to QCP, end to end with tessavane-cli convert, against
#   - pvconv alone on the same audio as a ready 8 kHz mono WAV (sox, very high quality),
#   - the pipeline a user would script: ffmpeg -i IN -ar 8000 -ac 1 OUT.wav && pvconv OUT.wav,
# RUNS times each (median, min-max of wall and of CPU time); then quality
# (segSNR, LSD against the sox WAV) and peak memory for 4 and 16 minutes of input.
#   bench/sound/run-bench.sh [BUILD_DIR] [RUNS]     (default: build/rel, 5)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build/rel}"
runs="${2:-5}"
for tool in ffmpeg sox espeak-ng bc /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "run-bench.sh: $tool is needed" >&2; exit 1; }
done
if [ ! -x "$build/bin/sound_quality" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESS_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target pvconv tessavane-cli sound_quality >/dev/null
cli="$build/bin/tessavane-cli"
pvconv="$build/bin/pvconv"
quality="$build/bin/sound_quality"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"

# About 4 minutes of speech: a few paragraphs, said by several voices, in turn.
text="The quick brown fox jumps over the lazy dog. Speech coding squeezes a voice into a few \
kilobits per second, and a good coder keeps it clear enough to recognise the speaker. She sells \
sea shells by the sea shore. The birch canoe slid on the smooth planks. Glue the sheet to the \
dark blue background. It is easy to tell the depth of a well. These days a chicken leg is a rare \
dish. Rice is often served in round bowls."
parts=()
for i in $(seq 1 12); do
    voice=$(echo en-us en-gb en-us+f3 en | cut -d' ' -f$(( (i - 1) % 4 + 1 )))
    espeak-ng -v "$voice" -w "$work/p$i.wav" "$text"
    parts+=("$work/p$i.wav")
done
sox "${parts[@]}" -r 44100 -c 2 "$work/speech.wav"
secs=$(soxi -D "$work/speech.wav")
sox -n -r 44100 -c 2 "$work/bed.wav" synth "$secs" sine 220 sine 330 tremolo 0.5 30 vol 0.05
sox -m "$work/speech.wav" "$work/bed.wav" "$work/mix.wav" trim 0 240
ffmpeg -v error -i "$work/mix.wav" -c:a libmp3lame -b:a 192k "$work/in.mp3"
ffmpeg -v error -i "$work/in.mp3" -f wav -c:a pcm_f32le "$work/decoded.wav"
# The reference: the MP3 as decoded, made 8 kHz mono by sox's very high quality.
sox "$work/decoded.wav" -r 8000 -c 1 -b 16 "$work/ready.wav" rate -v
seconds=$(soxi -D "$work/ready.wav")
printf 'input: %.1f s of 44.1 kHz stereo MP3 (%d bytes); %s runs each\n' "$seconds" \
    "$(stat -c %s "$work/in.mp3")" "$runs"

# Runs a command RUNS times; prints median, min and max of the wall seconds, then of
# the CPU seconds (user + system, children included: pvconv under convert). On a busy
# machine the CPU time is the steadier figure: it is what one idle core would take.
timeit() {
    local w=() c=()
    for _ in $(seq 1 "$runs"); do
        local out
        out=$(/usr/bin/time -f "%e %U %S" "$@" 2>&1 >/dev/null | tail -1)
        w+=("$(echo "$out" | awk '{print $1}')")
        c+=("$(echo "$out" | awk '{print $2 + $3}')")
    done
    stats() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {printf "%.3f %.3f %.3f ", a[int((NR+1)/2)], a[1], a[NR]}'; }
    stats "${w[@]}"
    stats "${c[@]}"
}
pipeline() {
    ffmpeg -v error -y -i "$work/in.mp3" -ar 8000 -ac 1 "$work/script.wav" && "$pvconv" "$work/script.wav"
}
export -f pipeline
export work pvconv
row() { # label, then wall median min max, cpu median min max
    printf '%-40s wall %6.3f s (%.3f-%.3f)  cpu %6.3f s (%.3f-%.3f)  %5.0fx real time on one core\n' \
        "$1" "$2" "$3" "$4" "$5" "$6" "$7" "$(echo "$seconds / $5" | bc -l)"
}
cp "$work/ready.wav" "$work/alone.wav"
echo "-- load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
read -r w1 w2 w3 c1 c2 c3 <<<"$(timeit "$pvconv" "$work/alone.wav")"
row "pvconv alone, ready 8 kHz WAV" "$w1" "$w2" "$w3" "$c1" "$c2" "$c3"
alone_w=$w1 alone_c=$c1
for mode in --no-normalize --normalize; do
    read -r w1 w2 w3 c1 c2 c3 <<<"$(timeit "$cli" convert --max-seconds 0 "$mode" \
        "$work/in.mp3" -o "$work/plain$mode.qcp")"
    row "convert MP3 $mode" "$w1" "$w2" "$w3" "$c1" "$c2" "$c3"
    # Two cores: pvconv's encoding is the critical path; decoding runs beside it.
    printf '%-40s wall/pvconv %.2f   decoding cpu %.3f s (%.0f %% of pvconv)\n' "" \
        "$(echo "$w1 / $alone_w" | bc -l)" "$(echo "$c1 - $alone_c" | bc -l)" \
        "$(echo "100 * ($c1 - $alone_c) / $alone_c" | bc -l)"
done
read -r w1 w2 w3 c1 c2 c3 <<<"$(timeit bash -c pipeline)"
row "script: ffmpeg -ar 8000 -ac 1 && pvconv" "$w1" "$w2" "$w3" "$c1" "$c2" "$c3"
printf '%-40s wall/pvconv %.2f\n' "" "$(echo "$w1 / $alone_w" | bc -l)"
echo "-- load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"

echo "-- quality against the sox very-high-quality 8 kHz WAV (segSNR dB, LSD dB)"
sox "$work/ready.wav" -t raw "$work/ref.s16"
for q in alone.qcp plain--no-normalize.qcp script.qcp; do
    ffmpeg -v error -i "$work/$q" -f s16le "$work/$q.s16"
    printf '%-44s %s\n' "$q" "$("$quality" "$work/ref.s16" "$work/$q.s16")"
done

echo "-- peak memory (max RSS) of convert"
ffmpeg -v error -stream_loop 3 -i "$work/in.mp3" -c copy "$work/long.mp3"
for f in in.mp3 long.mp3; do
    rss=$(/usr/bin/time -f %M "$cli" convert --max-seconds 0 "$work/$f" -o "$work/m.qcp" 2>&1 >/dev/null | tail -1)
    printf '%-44s %6d KB\n' "$f ($(soxi -D "$work/$f" 2>/dev/null || ffprobe -v error -show_entries format=duration -of csv=p=0 "$work/$f") s)" "$rss"
done
