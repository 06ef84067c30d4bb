#!/usr/bin/env bash
# Installs what building and testing Tessavane needs on Debian 12, when missing.
#   scripts/setup.sh [package] [screenshots]
# package: what scripts/package.sh needs besides; screenshots: scripts/screenshots.sh.
set -euo pipefail
packages=(cmake ninja-build g++ qt6-base-dev libgl-dev fonts-liberation2 clang libclang-rt-14-dev
          ffmpeg sox espeak-ng pkg-config
          # Media: libvips (with libimagequant) for pictures, FFmpeg's libraries for sound,
          # libsoxr for rate conversion, libebur128 for loudness, Qt Multimedia to play.
          libvips-dev libavformat-dev libavcodec-dev libavutil-dev libswresample-dev
          libsoxr-dev libebur128-dev qt6-multimedia-dev
          # Tests make pictures with ImageMagick and libvips, check pages with xmllint
          # (XHTML DTDs from w3c-sgml-lib), Kannel's WML compiler and headless Chromium.
          imagemagick libvips-tools libxml2-utils w3c-sgml-lib kannel-extras chromium
          # The download check's tests serve descriptors with a real nginx; the printed
          # server lines are tried on a real Apache and lighttpd as well.
          nginx apache2 lighttpd
          # bench/sound/run-bench.sh does its sums with bc.
          bc
          # Man pages and the validators of scripts/install-check.sh.
          help2man desktop-file-utils appstream)
for extra in "$@"; do
    case "$extra" in
        package) packages+=(dpkg-dev fakeroot file lintian) ;;
        screenshots) packages+=(xvfb openbox) ;;
        *) echo "setup.sh: unknown group $extra" >&2; exit 2 ;;
    esac
done
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
