#!/usr/bin/env bash
# Exits 0 when the window can open a display; otherwise says so in one line and exits 1.
# Over SSH without forwarding Qt would end with an xcb plugin error instead.
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ] || [ -n "${QT_QPA_PLATFORM:-}" ]; then
    exit 0
fi
echo "run.sh: the window needs a display (DISPLAY and WAYLAND_DISPLAY are unset, as over SSH); without one use ${1:-tessavane-cli} (see its --help)" >&2
exit 1
