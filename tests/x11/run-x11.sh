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

# Waits up to $1 tenths of a second for the command after it to succeed.
wait_for() {
    local tries=$1
    shift
    until "$@" >/dev/null 2>&1; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || return 1
        sleep 0.1
    done
}

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" \
    >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
if ! wait_for 200 grep -q '[0-9]' "$work/display"; then
    echo "run-x11: Xvfb did not start" >&2
    cat "$work/xvfb.log" >&2
    exit 1
fi
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
if ! wait_for 200 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"'; then
    echo "run-x11: openbox did not start" >&2
    cat "$work/openbox.log" >&2
    exit 1
fi

"$@"
