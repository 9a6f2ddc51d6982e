#!/usr/bin/env bash
# Runs one command inside a Wayland desktop of its own with no X server at
# all: a headless Weston and a session bus. Put xsession.sh after it to get
# the usual X desktop beside the Wayland one, as under XWayland. Everything
# started here ends with the command, whatever way it ends.
#   waylandsession.sh COMMAND [ARGS...]
set -u

. "$(dirname "$0")/session_common.sh"
session_begin waylandsession

unset DISPLAY

# Pixman draws without a GPU. The headless output has no seat: no keyboard
# and no pointer, so programs are driven through the accessibility tree.
# No --xwayland: this desktop is Wayland alone. No idle time, or the shell
# locks the screen during a long test.
weston --backend=headless-backend.so --use-pixman --socket=pelko-wayland \
       --width=1600 --height=1000 --idle-time=0 --log="$tmp/weston.log" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 200); do [ -S "$XDG_RUNTIME_DIR/pelko-wayland" ] && break; sleep 0.05; done
if [ ! -S "$XDG_RUNTIME_DIR/pelko-wayland" ]; then
  echo "waylandsession: weston did not start" >&2; cat "$tmp/weston.log" >&2; exit 1
fi
# A full path still names the compositor when a session started inside this
# one has an XDG_RUNTIME_DIR of its own.
export WAYLAND_DISPLAY="$XDG_RUNTIME_DIR/pelko-wayland"

session_bus

session_run "$@"
