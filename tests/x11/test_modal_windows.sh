#!/bin/bash
# The windows the user must answer (the version window, the picture chooser) stand above the
# always-on-top panel, also once it is raised, and come straight back when minimised. Qt's own
# dialog speaks Japanese, and the version window's OK answers Enter.
. "$(dirname "$0")/lib.sh"

install_app rorumo
start_app

# Succeeds when the window $1 lies above the panel in the window manager's stacking order.
above_panel() {
    for w in $(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/,//g'); do
        [ "$w" = "$(printf '0x%x' "$PANEL")" ] && return 0
        [ "$w" = "$(printf '0x%x' "$1")" ] && return 1
    done
    return 1
}
# Waits for the window titled $1, checks it against the raised panel and sets MODAL.
modal_above_panel() {
    MODAL=$(find_window 30 "^$1\$") || fail "no window $1: $(xdotool search --onlyvisible --class rorumo getwindowname %@ | xargs)"
    wait_until 10 above_panel "$MODAL" || fail "$1 opened under the panel"
    xdotool windowraise "$PANEL" sleep 0.3
    above_panel "$MODAL" || fail "raising the panel covered $1"
}
closes_on() {
    xdotool windowactivate --sync "$MODAL" key "$1"
    wait_until 10 sh -c "! xdotool search --onlyvisible --name '^$2\$'" || fail "$1 left $2 open"
}

pointer_to "$PANEL" 98 155 # バージョン情報, (720, 2145, 1515, 360) twips
xdotool click 1
modal_above_panel 'ロルモのバージョン情報'
xdotool windowminimize "$MODAL"
wait_until 10 sh -c "xwininfo -id $MODAL | grep -q IsViewable" || fail "the minimised version window stayed away"
above_panel "$MODAL" || fail "the version window came back under the panel"
closes_on Return 'ロルモのバージョン情報'

pointer_to_bus 250 60 # the popup menu's third item, 看板の画像を設定...
xdotool click 3 sleep 0.5 key Down Down Down Return
modal_above_panel '開く'
closes_on Escape '開く'

close_app
[ "$APP_STATUS" -eq 0 ] || fail "exit status $APP_STATUS"
note "ok"
