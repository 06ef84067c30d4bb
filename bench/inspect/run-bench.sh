#!/usr/bin/env bash
# Times "tessavane-cli inspect" against file(1) (libmagic, the usual way to tell a
# file's type) over the same files: 200 small real media files, a 30 MB PNG, a 5 GB
# sparse file and a FIFO nobody writes to; and the peak memory of each run.
# Usage: bench/inspect/run-bench.sh BUILD/bin/tessavane-cli [RUNS]   (default 5 runs)
set -euo pipefail
cli=$(realpath "$1")
runs="${2:-5}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
im=/usr/bin/convert-im6.q16
for i in $(seq 1 50); do
    "$im" -size $((100 + i))x$((120 + i)) gradient: -depth 8 "PNG8:$work/p$i.png"
    "$im" -size $((100 + i))x$((120 + i)) xc:red -interlace Plane "$work/j$i.jpg"
    printf 'MThd\0\0\0\6\0\0\0\1\0\140MTrk\0\0\0\4\0\377\57\0' >"$work/m$i.mid"
done
sox -n -r 8000 -c 1 -b 16 "$work/v.wav" synth 1 sine 440
for i in $(seq 1 50); do cp "$work/v.wav" "$work/w$i.wav"; done
"$im" -size 3000x2000 plasma:fractal "$work/big.png"
truncate -s 5G "$work/sparse.png"
mkfifo "$work/pipe.qcp"

# Median, lowest and highest of RUNS wall times in milliseconds.
timeit() {
    local t=()
    for _ in $(seq 1 "$runs"); do
        local s e
        s=$(date +%s%N)
        "$@" >/dev/null 2>&1 || true
        e=$(date +%s%N)
        t+=($(((e - s) / 1000000)))
    done
    printf '%s\n' "${t[@]}" | sort -n | awk '{a[NR]=$1} END {printf "median %d ms (%d..%d)", a[int((NR+1)/2)], a[1], a[NR]}'
}
rss() { /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -1; }

small=("$work"/p*.png "$work"/j*.jpg "$work"/m*.mid "$work"/w*.wav)
echo "200 small files:  inspect $(timeit "$cli" inspect "${small[@]}"); file $(timeit file "${small[@]}")"
echo "30 MB PNG:        inspect $(timeit "$cli" inspect "$work/big.png"); file $(timeit file "$work/big.png")"
echo "5 GB sparse file: inspect $(timeit "$cli" inspect "$work/sparse.png"); file $(timeit file "$work/sparse.png")"
echo "FIFO:             inspect $(timeit timeout 5 "$cli" inspect "$work/pipe.qcp"); file $(timeit timeout 5 file "$work/pipe.qcp")"
echo "peak RSS (KB), 5 GB sparse file: inspect $(rss "$cli" inspect "$work/sparse.png"), file $(rss file "$work/sparse.png")"
