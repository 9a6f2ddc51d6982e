# What the desktop session scripts share, sourced by them: a temporary
# folder, every process started recorded in pids and ended with the session
# whatever way it ends, the environment a test desktop needs, a session bus,
# and the command itself, run last.

session_begin() {  # NAME
  tmp=$(mktemp -d "/tmp/pelko-$1.XXXXXX")
  pids=()
  trap session_end EXIT
  trap 'exit 143' TERM INT
  export GSETTINGS_BACKEND=memory GTK_IM_MODULE=none
  export XDG_RUNTIME_DIR="$tmp/run" HOME="${PELKO_TEST_HOME:-$tmp/home}"
  mkdir -p "$XDG_RUNTIME_DIR" "$HOME" && chmod 700 "$XDG_RUNTIME_DIR"
  # WebKit's sandbox needs user namespaces, which test containers rarely give.
  export WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS=1 WEBKIT_DISABLE_COMPOSITING_MODE=1
}

session_end() {
  for ((i=${#pids[@]}-1; i>=0; i--)); do kill "${pids[$i]}" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$tmp"
}

session_bus() {
  if command -v dbus-daemon >/dev/null; then
    eval "$(dbus-launch --sh-syntax 2>/dev/null)" && pids+=("$DBUS_SESSION_BUS_PID")
  fi
}

session_run() {  # COMMAND [ARGS...]; its status is the session's
  "$@" &
  local child=$!
  pids+=($child)
  wait $child
}
