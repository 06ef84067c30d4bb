#!/usr/bin/env bash
# Builds the Debian package build/package/tessavane_VERSION-1_ARCH.deb: a release
# build with Debian's hardening flags, laid out under /usr and packed by CPack
# (runtime dependencies from dpkg-shlibdeps), then checked with lintian.
#   scripts/package.sh          then: sudo apt-get install ./build/package/tessavane_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh package
out=build/package
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CXXFLAGS LDFLAGS
cmake -G Ninja -S . -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
      -DTESS_BUILD_TESTS=OFF -DTESS_BUILD_BENCH=OFF
cmake --build "$out" -j2
rm -f "$out"/tessavane_*.deb
(cd "$out" && cpack -G DEB)
deb=$(ls "$out"/tessavane_*.deb)
echo "package.sh: $deb"
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'
lintian --fail-on error --info "$deb"
