#!/usr/bin/env bash
# Pictures of every window under a real X server (Xvfb) with a window manager
# (openbox), at 100 % and 200 % (QT_SCALE_FACTOR=2), into docs/screenshots/.
#   scripts/screenshots.sh [BUILD_DIR]     (default build/test)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh screenshots
build="${1:-build/test}"
[ -f "$build/CMakeCache.txt" ] || { echo "screenshots.sh: no build in $build" >&2; exit 1; }
cmake --build "$build" -j2 --target screenshot
out=docs/screenshots
mkdir -p "$out"

# A free display number; Xvfb and openbox are ours and stop with the script.
display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
    display=$((display + 1))
done
runtime="$(mktemp -d)"
pids=()
stop() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    rm -rf "$runtime"
}
trap stop EXIT
Xvfb ":$display" -screen 0 1600x1200x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=":$display"
for _ in $(seq 50); do
    [ -e "/tmp/.X11-unix/X$display" ] && break
    sleep 0.1
done
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 1

export QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$runtime" ASAN_OPTIONS=detect_leaks=0
for scale in 1 2; do
    for window in main splash about options chooser batch batchset convert geturl check publish; do
        QT_SCALE_FACTOR=$scale "$build/bin/screenshot" "$out/$window-${scale}x.png" "$window"
        echo "screenshots.sh: $out/$window-${scale}x.png"
    done
done
