#!/usr/bin/env bash
# Any-sound-to-ringtone benchmark: a 4-minute 44.1 kHz stereo MP3 (espeak-ng speech
# over a quiet sox music bed) to QCP, end to end with tessavane-cli convert, against
#   - pvconv alone on the same audio as a ready 8 kHz mono WAV (sox, very high quality),
#   - the pipeline a user would script: ffmpeg -i IN -ar 8000 -ac 1 OUT.wav && pvconv OUT.wav,
# on two cores and on one (taskset), RUNS times each (median, min-max); then quality
# (segSNR, LSD against the sox WAV) and peak memory for 4 and 16 minutes of input.
#   bench/sound/run-bench.sh [BUILD_DIR] [RUNS]     (default: build/rel, 5)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build/rel}"
runs="${2:-5}"
for tool in ffmpeg sox espeak-ng taskset /usr/bin/time; do
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

# Runs a command RUNS times; prints median, min and max wall seconds.
timeit() {
    local t=()
    for _ in $(seq 1 "$runs"); do
        local s e
        s=$(date +%s.%N)
        "$@" >/dev/null 2>&1
        e=$(date +%s.%N)
        t+=("$(echo "$e - $s" | bc -l)")
    done
    printf '%s\n' "${t[@]}" | sort -g | awk '{a[NR]=$1} END {printf "%.3f %.3f %.3f", a[int((NR+1)/2)], a[1], a[NR]}'
}
pipeline() {
    ffmpeg -v error -y -i "$work/in.mp3" -ar 8000 -ac 1 "$work/script.wav" && "$pvconv" "$work/script.wav"
}
row() { # label median min max
    printf '%-44s %7.3f s  (%.3f-%.3f)  %6.0fx real time\n' "$1" "$2" "$3" "$4" \
        "$(echo "$seconds / $2" | bc -l)"
}
cp "$work/ready.wav" "$work/alone.wav"
for cores in "0,1" "0"; do
    echo "-- on cores $cores"
    read -r m a b <<<"$(timeit taskset -c "$cores" "$pvconv" "$work/alone.wav")"
    row "pvconv alone, ready 8 kHz WAV" "$m" "$a" "$b"
    alone=$m
    read -r m a b <<<"$(timeit taskset -c "$cores" "$cli" convert --max-seconds 0 --no-normalize \
        "$work/in.mp3" -o "$work/plain.qcp")"
    row "convert MP3 --no-normalize" "$m" "$a" "$b"
    printf '%-44s %7.2f\n' "  ratio to pvconv alone" "$(echo "$m / $alone" | bc -l)"
    read -r m a b <<<"$(timeit taskset -c "$cores" "$cli" convert --max-seconds 0 \
        "$work/in.mp3" -o "$work/loud.qcp")"
    row "convert MP3 (normalising: two passes)" "$m" "$a" "$b"
    printf '%-44s %7.2f\n' "  ratio to pvconv alone" "$(echo "$m / $alone" | bc -l)"
    export -f pipeline
    export work pvconv
    read -r m a b <<<"$(timeit taskset -c "$cores" bash -c pipeline)"
    row "script: ffmpeg -ar 8000 -ac 1 && pvconv" "$m" "$a" "$b"
done

echo "-- quality against the sox very-high-quality 8 kHz WAV (segSNR dB, LSD dB)"
sox "$work/ready.wav" -t raw "$work/ref.s16"
for q in alone.qcp plain.qcp script.qcp; do
    ffmpeg -v error -i "$work/$q" -f s16le "$work/$q.s16"
    printf '%-44s %s\n' "$q" "$("$quality" "$work/ref.s16" "$work/$q.s16")"
done

echo "-- peak memory (max RSS) of convert"
ffmpeg -v error -stream_loop 3 -i "$work/in.mp3" -c copy "$work/long.mp3"
for f in in.mp3 long.mp3; do
    rss=$(/usr/bin/time -f %M "$cli" convert --max-seconds 0 "$work/$f" -o "$work/m.qcp" 2>&1 >/dev/null | tail -1)
    printf '%-44s %6d KB\n' "$f ($(soxi -D "$work/$f" 2>/dev/null || ffprobe -v error -show_entries format=duration -of csv=p=0 "$work/$f") s)" "$rss"
done
