#!/usr/bin/env bash
# Runs one command inside a desktop session of its own: a virtual X server,
# a window manager, a notification-area tray and a session bus. Everything
# started here ends with the command, whatever way it ends.
#   xsession.sh COMMAND [ARGS...]
set -u

. "$(dirname "$0")/session_common.sh"
session_begin xsession

# Xvfb picks a free display and tells us which.
exec 3> "$tmp/display"
# -noreset: the server must not restart when its first client leaves, or the
# window manager may connect in the middle of that restart and give up.
Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp -noreset +extension RANDR >"$tmp/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
for _ in $(seq 100); do [ -s "$tmp/display" ] && break; sleep 0.05; done
if [ ! -s "$tmp/display" ]; then echo "xsession: Xvfb did not start" >&2; cat "$tmp/xvfb.log" >&2; exit 1; fi
export DISPLAY=":$(head -n1 "$tmp/display")"

session_bus

openbox --sm-disable >"$tmp/openbox.log" 2>&1 &
pids+=($!)
wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
for _ in $(seq 200); do wm_running && break; sleep 0.05; done
if ! wm_running; then echo "xsession: the window manager did not start" >&2; cat "$tmp/openbox.log" >&2; exit 1; fi

if [ -z "${PELKO_NO_TRAY:-}" ]; then
  trayer --edge bottom --align right --widthtype request --height 32 --SetDockType true \
         --transparent false --tint 0x404040 >"$tmp/trayer.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do xwininfo -root -tree 2>/dev/null | grep -q '"panel"' && break; sleep 0.05; done
fi

session_run "$@"
