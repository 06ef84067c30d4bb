#!/usr/bin/env bash
# Installs a built tree into a temporary DESTDIR and tries it as a user would:
# validators for the menu entry and the metainfo, then the installed tessavane
# on the offscreen platform as an ordinary user with a read-only install folder
# and a fresh HOME, where Save Settings must put config.cfg into
# ~/.config/tessavane, and the installed tessavane-cli writing a descriptor
# with those same defaults.
#   scripts/install-check.sh [BUILD_DIR]     (default build/test, made by scripts/test.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/test}"
[ -f "$build/CMakeCache.txt" ] || { echo "install-check.sh: no build in $build" >&2; exit 1; }
cmake --build "$build" -j2 --target all

stage="$(mktemp -d)"
home="$(mktemp -d)"
trap 'chmod -R u+w "$stage"; rm -rf "$stage" "$home"' EXIT
DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null
usr="$stage/usr"
fail() { echo "install-check.sh: $*" >&2; exit 1; }

id=org.tessavane.Tessavane
for f in bin/tessavane bin/tessavane-cli bin/pvconv share/tessavane/phones.json share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
         share/icons/hicolor/16x16/apps/$id.png share/icons/hicolor/256x256/apps/$id.png \
         share/man/man1/tessavane.1.gz share/man/man1/tessavane-cli.1.gz share/man/man1/pvconv.1.gz \
         share/doc/tessavane/copyright share/doc/tessavane/changelog.Debian.gz; do
    [ -e "$usr/$f" ] || fail "missing $f"
done
desktop-file-validate "$usr/share/applications/$id.desktop"
appstreamcli validate --no-net "$usr/share/metainfo/$id.metainfo.xml"
# The man pages are the programs' own --help.
zcat "$usr/share/man/man1/pvconv.1.gz" | grep -q 'WAV' || fail "pvconv.1 without its help text"
zcat "$usr/share/man/man1/tessavane.1.gz" | grep -q 'config' || fail "tessavane.1 without its help"
"$usr/bin/pvconv" --version | grep -q '^pvconv ' || fail "pvconv --version"
"$usr/bin/tessavane" --version | grep -q '^tessavane ' || fail "tessavane --version"
set +e
QT_QPA_PLATFORM=offscreen "$usr/bin/tessavane" --no-such-option 2>/dev/null
[ $? -eq 2 ] || fail "tessavane accepted an unknown option"
set -e

# An ordinary user: root would write anywhere, so root runs the programs as nobody.
if [ "$(id -u)" -eq 0 ]; then
    user=nobody
    group="$(id -gn nobody)"
    switch=(setpriv --reuid="$user" --regid="$group" --clear-groups)
else
    user="$(id -un)"
    group="$(id -gn)"
    switch=()
fi
chmod 755 "$stage" "$home"
chmod -R a-w "$usr/bin"
mkdir -m 700 "$home/run"
chown "$user:$group" "$home" "$home/run"
# The plugin that plays the user, copied where that user can reach it (the build
# folder may lie in a folder of root's own). A hung program fails the check.
[ -r "$build/driver/generic/libtessdriver.so" ] || fail "no driver plugin in $build/driver"
mkdir -p "$stage/driver/generic"
cp "$build/driver/generic/libtessdriver.so" "$stage/driver/generic/"
chmod -R a+rX "$stage/driver"
as_user() {
    timeout 120 "${switch[@]}" env -i PATH=/usr/bin:/bin HOME="$home" \
        XDG_RUNTIME_DIR="$home/run" QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 \
        QT_PLUGIN_PATH="$stage/driver" QT_QPA_GENERIC_PLUGINS=tessdriver "$@"
}

# First start: message, options window, Save Settings into the user's folder.
out="$(as_user "$usr/bin/tessavane")" || fail "tessavane failed: $out"
echo "$out"
grep -q 'message: The Configuration File could not be found' <<<"$out" || fail "no first-start message"
grep -q 'log: Tessavane Configuration file Saved.' <<<"$out" || fail "settings not saved"
cfg="$home/.config/tessavane/config.cfg"
[ -f "$cfg" ] || fail "no $cfg"
grep -q 'CI Tones' "$cfg" || fail "$cfg lacks the vendor"
[ -z "$(find "$usr/bin" -name config.cfg)" ] || fail "config.cfg beside the program"

# The installed command writes a descriptor with the defaults the window saved
# (save folder: the home folder; vendor: CI Tones).
zcat "$usr/share/man/man1/tessavane-cli.1.gz" | grep -q 'make' || fail "tessavane-cli.1 without its help"
mkdir "$home/web"
printf 'MThd' > "$home/web/song.mid"
chown -R "$user:$group" "$home/web"
as_user "$usr/bin/tessavane-cli" make "$home/web/song.mid" || fail "tessavane-cli make failed"
grep -q 'Content-Vendor: CI Tones' "$home/song.gcd" || fail "tessavane-cli: no descriptor with the saved defaults"
# ... and finds the installed converter beside itself.
sox -n -r 8000 -c 1 -b 16 "$home/web/tone.wav" synth 0.5 sine 440
chown "$user:$group" "$home/web/tone.wav"
as_user "$usr/bin/tessavane-cli" convert "$home/web/tone.wav" || fail "tessavane-cli convert failed"
[ -s "$home/web/tone.qcp" ] || fail "tessavane-cli convert wrote no QCP file"
# ... loads the media module from its install (never from the build) to fit a picture
# and to make a ringtone of an MP3.
[ -n "$(find "$usr/lib" -name tessavane-codecs.so)" ] || fail "no tessavane-codecs.so under lib"
convert -size 640x480 plasma: "$home/web/photo.jpg"
ffmpeg -loglevel error -f lavfi -i sine=d=1 "$home/web/beep.mp3"
mkdir "$home/web/fitted"
chown -R "$user:$group" "$home/web"
as_user "$usr/bin/tessavane-cli" fit --out-dir "$home/web/fitted" "$home/web/photo.jpg" ||
    fail "tessavane-cli fit failed"
[ -s "$home/web/fitted/photo.png" ] || fail "tessavane-cli fit wrote no picture"
as_user "$usr/bin/tessavane-cli" convert "$home/web/beep.mp3" || fail "tessavane-cli convert of an MP3 failed"
[ -s "$home/web/beep.qcp" ] || fail "tessavane-cli convert wrote no QCP file of the MP3"
# ... reads the phone profiles installed beside it (not the source tree's), and
# inspects the QCP it made as one that works.
[ -f "$usr/share/tessavane/phones.json" ] || fail "missing share/tessavane/phones.json"
out="$(as_user "$usr/bin/tessavane-cli" phones --json sanyo-scp-5300)" || fail "tessavane-cli phones failed"
grep -q "\"file\":\"$usr/share/tessavane/phones.json\"" <<<"$out" ||
    fail "tessavane-cli does not read the installed phones.json: $out"
as_user "$usr/bin/tessavane-cli" inspect --phone sanyo-scp-5300 "$home/web/tone.qcp" ||
    fail "tessavane-cli inspect: the converted QCP does not work"

# Second start with a file, as "Open With" does: loaded settings, file in Step 1.
printf 'MThd' > "$home/ring.mid"
chown "$user:$group" "$home/ring.mid"
out="$(as_user "$usr/bin/tessavane" "$home/ring.mid")" || fail "tessavane FILE failed: $out"
echo "$out"
grep -q 'message:' <<<"$out" && fail "unexpected message on the second start"
grep -q 'log: Tessavane Configuration file Loaded.' <<<"$out" || fail "settings not loaded"
grep -q "log: Selected File:$home/ring.mid" <<<"$out" || fail "file not opened"
grep -q 'Content-Vendor: CI Tones' "$home/ring.gcd" || fail "no descriptor from the window"
echo "install-check.sh: all good"
