#!/bin/bash
# Publish benchmarks (figures go into README.md and docs/publish.md):
#  1. first publish of N three-minute MP3s and N 4000x3000 JPEGs, --jobs 2 against --jobs 1,
#     in the same run (goal: at least 1.7 times faster);
#  2. a second publish of an M-item site with nothing changed against
#     `find SRC -type f -newer MANIFEST` over the same tree (goal: at most 2 times, < 100 MB).
# Usage: bench/publish/bench.sh [CLI] [N] [M] [ROUNDS]
#   CLI     tessavane-cli to time (default build/release/bin/tessavane-cli)
#   N       MP3s and JPEGs each (default 40)
#   M       items of the unchanged site (default 10000)
#   ROUNDS  timed rounds of each (default 3)
set -euo pipefail
CLI=${1:-build/release/bin/tessavane-cli}
N=${2:-40}
M=${3:-10000}
ROUNDS=${4:-3}
FFMPEG=/usr/bin/ffmpeg
CONVERT=/usr/bin/convert-im6.q16
WORK=$(mktemp -d /tmp/bench-publish.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
export HOME=$WORK XDG_CONFIG_HOME=$WORK/.config

seconds() { # command... -> wall seconds on stdout
    local t0 t1
    t0=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    t1=$(date +%s.%N)
    echo "$t1 - $t0" | bc
}

echo "== first publish: $N MP3s (3 min) + $N JPEGs (4000x3000), $(nproc) cores"
mkdir -p "$WORK/media"
"$FFMPEG" -loglevel error -f lavfi -i "sine=f=440:d=180" -ac 2 -ar 44100 -b:a 128k "$WORK/one.mp3"
"$CONVERT" -size 4000x3000 plasma: -quality 90 "$WORK/one.jpg"
for i in $(seq -w 1 "$N"); do
    # Different bytes each, so nothing is shared between items.
    cp "$WORK/one.mp3" "$WORK/media/song$i.mp3"; printf '%s' "$i" >> "$WORK/media/song$i.mp3"
    cp "$WORK/one.jpg" "$WORK/media/photo$i.jpg"; printf '%s' "$i" >> "$WORK/media/photo$i.jpg"
done
for round in $(seq 1 "$ROUNDS"); do
    for jobs in 1 2; do
        rm -rf "$WORK/web$jobs"
        # Wall seconds and the share of one CPU used (decoding overlaps the converter even
        # at --jobs 1).
        /usr/bin/time -f "%e %P" -o "$WORK/time" \
            "$CLI" publish "$WORK/media" --to "$WORK/web$jobs" --base-url http://h/p --jobs $jobs \
            >/dev/null 2>&1
        read -r t cpu < "$WORK/time"
        echo "round $round jobs $jobs: $t s, CPU $cpu"
        eval "t$jobs=$t"
    done
    echo "round $round speed-up: $(echo "scale=2; $t1 / $t2" | bc)"
done

echo "== unchanged re-publish of $M items"
mkdir -p "$WORK/many"
printf 'MThd\0\0\0\6\0\0\0\1\0\x60MTrk\0\0\0\4\0\xff\x2f\0' > "$WORK/tune.mid"
for d in $(seq 0 99); do
    mkdir -p "$WORK/many/d$d"
    for i in $(seq 1 $((M / 100))); do cp "$WORK/tune.mid" "$WORK/many/d$d/t$i.mid"; done
done
"$CLI" publish "$WORK/many" --to "$WORK/site" --base-url http://h/p >/dev/null
MANIFEST=$WORK/site/.tessavane-publish.json
for round in $(seq 1 "$ROUNDS"); do
    f=$(seconds find "$WORK/many" -type f -newer "$MANIFEST")
    p=$(seconds "$CLI" publish "$WORK/many" --to "$WORK/site" --base-url http://h/p)
    echo "round $round: find $f s, publish $p s, ratio $(echo "scale=2; $p / $f" | bc)"
done
/usr/bin/time -f "resident: %M KB" "$CLI" publish "$WORK/many" --to "$WORK/site" --base-url http://h/p >/dev/null
