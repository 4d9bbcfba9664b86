#!/bin/sh
# On a Wayland session without a platform chosen by the user, the program runs on XWayland; a
# platform the user chose is kept. Runs the program with WAYLAND_DISPLAY naming a compositor that
# is not there and only a private X server up:
#   wayland_fallback.sh PATH_TO_RORUMO
set -eu
program=$1

work=$(mktemp -d "${TMPDIR:-/tmp}/rorumo-wayland.XXXXXX")
xvfb_pid=
app_pid=
cleanup() {
    if [ -n "$app_pid" ]; then
        kill "$app_pid" 2>/dev/null || true
        wait "$app_pid" 2>/dev/null || true
    fi
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() {
    echo "FAIL: $*" >&2
    [ -f "$work/app.log" ] && cat "$work/app.log" >&2
    exit 1
}

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
tries=200
until grep -q '[0-9]' "$work/display" 2>/dev/null; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
    sleep 0.1
done
DISPLAY=":$(head -n1 "$work/display")"
export DISPLAY
export WAYLAND_DISPLAY=wayland-test-nonexistent XDG_SESSION_TYPE=wayland
export XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/config"
mkdir -m 700 "$XDG_RUNTIME_DIR"
# A copy of its own, so its settings file stays in the scratch folder.
mkdir "$work/app"
cp "$program" "$work/app/rorumo"
cp "$(dirname "$program")/libVLM3Res.so" "$work/app/"

# 1. No choice of the user's: the windows come up on the X server.
(
    unset QT_QPA_PLATFORM
    exec "$work/app/rorumo"
) >"$work/app.log" 2>&1 &
app_pid=$!
timeout 30 xdotool search --sync --onlyvisible --name 'ロルモ' >/dev/null ||
    fail "with WAYLAND_DISPLAY set and no QT_QPA_PLATFORM, no window appeared on X"
# Chosen before Qt starts: Qt on its own would try the Wayland plugin first (where it is
# installed, package qt6-wayland) and only fall back to X11 when that fails.
grep -q 'libqwayland' "/proc/$app_pid/maps" && fail "the program tried the Wayland platform first"
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
app_pid=

# 2. The user chose offscreen: the program runs on that platform (its plugin is loaded, the X11
# one is not) and nothing appears on the X server.
QT_QPA_PLATFORM=offscreen "$work/app/rorumo" >"$work/app.log" 2>&1 &
app_pid=$!
tries=300
until grep -q 'libqoffscreen' "/proc/$app_pid/maps" 2>/dev/null; do
    kill -0 "$app_pid" 2>/dev/null || fail "the program ended on the offscreen platform"
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || fail "the program did not load the offscreen platform"
    sleep 0.1
done
grep -q 'libqxcb' "/proc/$app_pid/maps" && fail "the program loaded the X11 platform"
sleep 2
if xdotool search --name 'ロルモ' >/dev/null 2>&1; then
    fail "QT_QPA_PLATFORM=offscreen was overridden: a window appeared on X"
fi
echo "Wayland session: ran on X; the user's offscreen choice kept"
