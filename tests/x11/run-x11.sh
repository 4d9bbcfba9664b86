#!/bin/bash
# Runs a command on a private X server with openbox as the window manager:
#   run-x11.sh command [arguments...]
# Xvfb picks a free display itself (-displayfd); both servers are stopped however the command ends.
set -u

work=$(mktemp -d "${TMPDIR:-/tmp}/rorumo-x11.XXXXXX")
xvfb_pid=
wm_pid=
cleanup() {
    [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null && wait "$wm_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Waits up to 20 s for the command after NAME and LOG to succeed, else shows LOG and fails.
started() {
    local name=$1 log=$2 tries=200
    shift 2
    until "$@" >/dev/null 2>&1; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || { echo "run-x11: $name did not start"; cat "$log"; exit 1; } >&2
        sleep 0.1
    done
}

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" \
    >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
started Xvfb "$work/xvfb.log" grep -q '[0-9]' "$work/display"
export DISPLAY=":$(head -n1 "$work/display")"
# For a test that takes the server away under the program.
export X11_SERVER_PID=$xvfb_pid
unset WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb
export XDG_CONFIG_HOME="$work/config"

# openbox's own defaults, without a session manager or the user's configuration.
openbox --sm-disable --config-file /etc/xdg/openbox/rc.xml >"$work/openbox.log" 2>&1 &
wm_pid=$!
# The window manager is ready once it names its check window on the root.
started openbox "$work/openbox.log" \
    sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"'

"$@"
