#!/usr/bin/env bash
# Tries the Debian package as a new user would, on this machine (needs root):
# apt-get install ./tessavane_*.deb, a fresh user account starts the menu
# entry's command with a file on the offscreen platform (tests/driver plays the
# user: first-start message, Save Settings, Make GCD), then apt-get purge must
# leave no file of the package behind. The account and its home are removed.
#   scripts/deb-check.sh [DEB]      (default build/package/tessavane_*.deb)
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "deb-check.sh: run as root" >&2; exit 1; }
debs=(build/package/tessavane_*.deb)
deb="$(realpath "${1:-${debs[0]}}")"
[ -f "$deb" ] || { echo "deb-check.sh: no package; run scripts/package.sh" >&2; exit 1; }
fail() { echo "deb-check.sh: $*" >&2; exit 1; }
dpkg-query -W tessavane >/dev/null 2>&1 && fail "tessavane is installed already"

work="$(mktemp -d)"
user="tesstrial$$"
cleanup() {
    userdel -r "$user" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

# The driver, built without sanitizers to load into the packaged program.
mkdir -p "$work/plugins/generic"
cp tests/driver/driver.cpp tests/driver/driver.json "$work/"
# Compiler flags are lists of words.
# shellcheck disable=SC2046
/usr/lib/qt6/libexec/moc $(pkg-config --cflags-only-I Qt6Widgets) "$work/driver.cpp" -o "$work/driver.moc"
# shellcheck disable=SC2046
g++ -std=c++17 -shared -fPIC -O1 -I"$work" $(pkg-config --cflags Qt6Widgets) "$work/driver.cpp" \
    -o "$work/plugins/generic/libtessdriver.so" $(pkg-config --libs Qt6Widgets)
chmod -R a+rX "$work"
chmod 755 "$work"

DEBIAN_FRONTEND=noninteractive apt-get install -y "$deb"
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's#^\.##' | grep -v '/$' > "$work/files"

useradd --create-home --shell /bin/bash "$user"
home="$(getent passwd "$user" | cut -d: -f6)"
desktop=/usr/share/applications/org.tessavane.Tessavane.desktop
exec_line="$(sed -n 's/^Exec=//p' "$desktop")"
printf 'MThd' > "$home/tone.mid"
chown "$user:" "$home/tone.mid"
# The menu entry's command with the file a file manager would pass for %f.
read -r -a command <<<"${exec_line//%f/$home/tone.mid}"
out="$(runuser -u "$user" -- env -i PATH=/usr/bin:/bin HOME="$home" QT_QPA_PLATFORM=offscreen \
       QT_PLUGIN_PATH="$work/plugins" QT_QPA_GENERIC_PLUGINS=tessdriver "${command[@]}" 2>&1)" ||
    fail "the menu entry's command failed: $out"
echo "$out" | grep '^driver:'
grep -q 'log: Tessavane Configuration file Saved.' <<<"$out" || fail "settings not saved"
[ -f "$home/.config/tessavane/config.cfg" ] || fail "no ~/.config/tessavane/config.cfg"
grep -q 'Content-Name: tone' "$home/tone.gcd" || fail "no descriptor"
man -w tessavane tessavane-cli pvconv >/dev/null || fail "man pages not found"
# Root may write into /usr/bin, yet the settings still go to root's own folder.
mkdir -m 700 "$work/roothome"
out="$(env -i PATH=/usr/bin:/bin HOME="$work/roothome" QT_QPA_PLATFORM=offscreen \
       QT_PLUGIN_PATH="$work/plugins" QT_QPA_GENERIC_PLUGINS=tessdriver tessavane 2>&1)" ||
    fail "tessavane as root failed: $out"
[ -f "$work/roothome/.config/tessavane/config.cfg" ] || fail "root's settings not in its home"
[ ! -e /usr/bin/config.cfg ] || fail "config.cfg written into /usr/bin"

DEBIAN_FRONTEND=noninteractive apt-get purge -y tessavane
dpkg-query -W tessavane >/dev/null 2>&1 && fail "still installed"
left="$(while read -r f; do [ -e "$f" ] && echo "$f"; done < "$work/files" || true)"
[ -z "$left" ] || fail "left behind: $left"
echo "deb-check.sh: installed, used by a new user, purged without a trace"
