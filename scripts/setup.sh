#!/usr/bin/env bash
# Installs what building and testing Tessavane needs on Debian 12, when missing.
set -euo pipefail
packages=(cmake ninja-build g++ qt6-base-dev libgl-dev fonts-liberation2 clang libclang-rt-14-dev
          ffmpeg sox espeak-ng nginx)
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
