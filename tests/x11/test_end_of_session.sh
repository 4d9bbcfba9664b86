#!/bin/bash
# The session ends the program with a signal: SIGTERM at logout or shutdown, SIGHUP when the
# session or the terminal goes, SIGINT for Ctrl+C. Each ends it as closing the bus window does,
# with the settings written, also while a modal window is open or a door moves.
. "$(dirname "$0")/lib.sh"

install_app bus
field() { cut -d, -f"$1" "$APP_INI" | tr -d '\r'; }
await() { find_window 10 "$1" >/dev/null || fail "no window $1"; }

# Starts the program, runs the command after the first two arguments, removes the settings file
# (the end must write it anew) and ends the program with the signal $1.
ends_by() {
    local signal=$1 what=$2
    shift 2
    start_app
    xdotool windowactivate --sync "$PANEL"
    "$@"
    rm -f "$APP_INI"
    end_app_by "$signal"
    [ "$APP_STATUS" -eq 0 ] || fail "$what: exit status $APP_STATUS after SIG$signal"
    [ -f "$APP_INI" ] || fail "$what: no settings written at SIG$signal"
    [ "$(field 14)" = 10001 ] || fail "$what: front speed $(field 14) saved, not 10001"
    note "$what: SIG$signal ended the program, the settings written"
}

nudge_front_speed() {
    click_in "$PANEL" 136 23
    sleep 0.5
}
ends_by TERM "idle, after a speed change" nudge_front_speed

chooser_after_wrong_path() {
    click_in "$PANEL" 207 155
    await '^画像の位置$'
    CHOOSER=$(xdotool search --onlyvisible --name '^画像の位置$' | head -n1)
    click_in "$CHOOSER" 200 37
    xdotool type --delay 10 "$X11_WORK/no such folder"
    click_in "$CHOOSER" 321 66
    await '^ロルモ$'
}
ends_by HUP "the chooser's message box open" chooser_after_wrong_path
# The wrong path was given up, as with キャンセル.
[ "$(field 5)" = '""' ] || fail "the sign folder saved is $(field 5)"

version_window() {
    click_in "$PANEL" 98 155
    await '^ロルモのバージョン情報$'
}
ends_by INT "the version window open" version_window

front_door_moving() {
    click_in "$PANEL" 30 30
    sleep 0.3
}
ends_by TERM "the front door moving" front_door_moving
note "ok"
