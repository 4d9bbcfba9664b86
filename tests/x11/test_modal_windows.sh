#!/bin/bash
# The windows the user must answer (here the version window and the picture chooser) stand above
# the always-on-top panel, also after the panel is raised, and one minimised comes straight back.
# Qt's own dialog speaks Japanese, and the version window's OK answers Enter.
. "$(dirname "$0")/lib.sh"

install_app rorumo
start_app

# Succeeds when the window $1 lies above the panel in the window manager's stacking order.
above_panel() {
    local stacking
    stacking=$(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/,//g')
    for w in $stacking; do
        [ "$w" = "$(printf '0x%x' "$PANEL")" ] && return 0
        [ "$w" = "$(printf '0x%x' "$1")" ] && return 1
    done
    return 1
}
viewable() { xwininfo -id "$1" | grep -q 'Map State: IsViewable'; }
gone() { ! xdotool search --onlyvisible --name "$1" >/dev/null; }

# Checks that the modal window $1 ($2 names it) stays above the panel when the panel is raised.
stays_above() {
    wait_until 10 above_panel "$1" || fail "$2 opened under the panel"
    xdotool windowraise "$PANEL"
    sleep 0.3
    above_panel "$1" || fail "raising the panel covered $2"
}

# The panel's バージョン情報 button, (720, 2145, 1515, 360) twips.
pointer_to "$PANEL" 98 155
xdotool click 1
about=$(timeout 30 xdotool search --sync --onlyvisible --name '^ロルモのバージョン情報$' | head -n1)
[ -n "$about" ] || fail "the version window did not open"
stays_above "$about" "the version window"
xdotool windowminimize "$about"
wait_until 10 viewable "$about" || fail "the minimised version window stayed away"
above_panel "$about" || fail "the version window came back under the panel"
xdotool windowactivate --sync "$about" key Return
wait_until 10 gone '^ロルモのバージョン情報$' || fail "Enter did not close the version window"

# The picture chooser, third item of the bus's popup menu; its title says 開く.
pointer_to_bus 250 60
xdotool click 3
sleep 0.5
xdotool key Down Down Down Return
chooser=$(timeout 30 xdotool search --sync --onlyvisible --name '^開く$' | head -n1)
[ -n "$chooser" ] || fail "no picture chooser titled 開く: $(xdotool search --onlyvisible --class rorumo getwindowname %@ | xargs)"
stays_above "$chooser" "the picture chooser"
xdotool windowactivate --sync "$chooser" key Escape
wait_until 10 gone '^開く$' || fail "Escape left the picture chooser open"

close_app
[ "$APP_STATUS" -eq 0 ] || fail "exit status $APP_STATUS"
note "ok"
