#!/usr/bin/env bash
# Speed, memory and scaling quality of 'tessavane-cli fit' against ImageMagick, same machine,
# same run, one job at a time.
#   bench/fit/run-bench.sh [BUILD_DIR [COUNT [RUNS]]]   (default: build/rel 100 3)
# PHONE=<id> picks the profile (default samsung-sph-a500: 128x112 wallpaper, 64 KB).
# Makes COUNT camera-size (4000x3000, 4:2:0, q90) JPEGs from ten plasma scenes with noise,
# each shifted so no two files are alike, and a 20,000x20,000 PNG.
#  speed:   fit of all COUNT photos to PNG, as one command and as one command per photo,
#           against `convert IN -auto-orient -resize 128x160 -colors 256 PNG8:OUT` per photo;
#  memory:  peak resident set (GNU time %M) of each kind of run and of the huge PNG;
#  quality: the scaled picture before quantising (bench/fit/fit_scaled) against ImageMagick's
#           -filter Lanczos -resize, and both against a 4x supersampled reference (Lanczos to
#           4x the size, then 4x4 box averages), PSNR by ImageMagick's compare.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build/rel}"
count="${2:-100}"
runs="${3:-3}"
phone="${PHONE:-samsung-sph-a500}"
im=/usr/bin/convert-im6.q16 # /usr/local/bin/convert is not ImageMagick
compare=/usr/bin/compare-im6.q16
gnutime=/usr/bin/time
for t in "$im" "$compare" "$gnutime" /usr/bin/vips; do
    [ -x "$t" ] || { echo "run-bench.sh: $t is needed" >&2; exit 1; }
done
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target tessavane-cli fit_scaled >/dev/null
cli="$build/bin/tessavane-cli"
scaled="$build/bin/fit_scaled"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/photos" "$work/ours" "$work/each" "$work/im"

echo "making $count photos of 4000x3000..." >&2
scenes=$((count < 10 ? count : 10))
for s in $(seq 0 $((scenes - 1))); do
    "$im" -seed "$s" -size 1000x750 plasma:fractal -blur 0x1 -resize 4000x3000 \
        -attenuate 0.3 +noise Gaussian "$work/scene$s.ppm"
done
for i in $(seq 1 "$count"); do
    "$im" "$work/scene$((i % scenes)).ppm" -roll "+$((i * 37))+$((i * 23))" -quality 90 \
        -sampling-factor 2x2 "$work/photos/photo$i.jpg"
done
rm -f "$work"/scene*.ppm
photos=("$work"/photos/*.jpg)

now() { date +%s.%N; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }
peak_mb() { awk '{ printf "%.1f", $1 / 1024 }' "$1"; } # GNU time's %M is in KiB

[ "$runs" -gt 0 ] && echo "run  fit-one-command  fit-per-photo  convert-per-photo  speed-up(one/per-photo)  peak MB (one/per-photo/convert)"
for r in $(seq 1 "$runs"); do
    rm -f "$work"/ours/* "$work"/each/* "$work"/im/*
    t0=$(now)
    "$gnutime" -o "$work/mem-ours" -f %M "$cli" fit --phone "$phone" --format png \
        --out-dir "$work/ours" "${photos[@]}" >/dev/null
    t1=$(now)
    peak_each=0
    for p in "${photos[@]}"; do
        "$gnutime" -o "$work/mem" -f %M "$cli" fit --phone "$phone" --format png \
            -o "$work/each/$(basename "$p" .jpg).png" "$p" >/dev/null
        m=$(cat "$work/mem")
        [ "$m" -gt "$peak_each" ] && peak_each=$m
    done
    t2=$(now)
    peak_im=0
    for p in "${photos[@]}"; do
        "$gnutime" -o "$work/mem" -f %M "$im" "$p" -auto-orient -resize 128x160 -colors 256 \
            "PNG8:$work/im/$(basename "$p" .jpg).png"
        m=$(cat "$work/mem")
        [ "$m" -gt "$peak_im" ] && peak_im=$m
    done
    t3=$(now)
    a=$(seconds "$t0" "$t1") b=$(seconds "$t1" "$t2") c=$(seconds "$t2" "$t3")
    echo "$r  ${a}s  ${b}s  ${c}s  $(awk -v a="$a" -v b="$b" -v c="$c" \
        'BEGIN { printf "%.1fx/%.1fx", c / a, c / b }')  $(peak_mb "$work/mem-ours")/$(
        awk -v m="$peak_each" 'BEGIN { printf "%.1f", m / 1024 }')/$(
        awk -v m="$peak_im" 'BEGIN { printf "%.1f", m / 1024 }')"
done
[ "$runs" -gt 0 ] && echo "written: $(ls "$work/ours" | wc -l) of $count by fit," \
    "$(ls "$work/im" | wc -l) by convert"

echo "making a 20000x20000 PNG..." >&2
/usr/bin/vips grey "$work/grey.v" 20000 20000 --uchar
/usr/bin/vips colourspace "$work/grey.v" "$work/huge.png" srgb
rm -f "$work/grey.v"
t0=$(now)
"$gnutime" -o "$work/mem" -f %M "$cli" fit --phone "$phone" -o "$work/huge-out.png" \
    "$work/huge.png" >/dev/null
t1=$(now)
echo "20000x20000 PNG ($(stat -c %s "$work/huge.png") bytes): $(seconds "$t0" "$t1")s," \
    "peak $(peak_mb "$work/mem") MB"
# A progressive camera-size JPEG is refused (it must be decoded whole); a 2000x1500 one is not.
"$im" "${photos[0]}" -interlace Plane "$work/progressive.jpg"
"$cli" fit --phone "$phone" -o "$work/prog.png" "$work/progressive.jpg" || true
"$im" "${photos[0]}" -resize 2000x1500 -interlace Plane "$work/progressive.jpg"
"$gnutime" -o "$work/mem" -f %M "$cli" fit --phone "$phone" -o "$work/prog.png" \
    "$work/progressive.jpg" >/dev/null
echo "progressive 2000x1500 JPEG: peak $(peak_mb "$work/mem") MB"

echo "quality (first photos, up to 10, 128x96, PSNR in dB): ours-vs-convert ours-vs-ref convert-vs-ref"
psnr() { "$compare" -metric PSNR "$1" "$2" null: 2>&1 || true; }
for p in "${photos[@]:0:10}"; do
    "$scaled" "$p" 128 112 "$work/q-ours.ppm"
    "$im" "$p" -auto-orient -filter Lanczos -resize 128x112 "$work/q-im.ppm"
    "$im" "$p" -auto-orient -filter Lanczos -resize 512x384 -scale 128x96 "$work/q-ref.ppm"
    echo "$(basename "$p") $(psnr "$work/q-ours.ppm" "$work/q-im.ppm")" \
        "$(psnr "$work/q-ours.ppm" "$work/q-ref.ppm") $(psnr "$work/q-im.ppm" "$work/q-ref.ppm")"
done
