#!/bin/bash
# The popup menu opens on a right-button press on the bare bus picture, and nowhere else on the
# bus window: not for the other buttons, not on the doors or the sign box.
. "$(dirname "$0")/lib.sh"

install_app rorumo
start_app
base=$(visible_windows)
[ "$base" -eq 2 ] || fail "$base windows at start"

windows_are() { [ "$(visible_windows)" -eq "$1" ]; }

# Presses button $1 at the bus window's client pixel $2 $3, and expects no new window.
expect_nothing() {
    pointer_to_bus "$2" "$3"
    xdotool mousedown "$1" mouseup "$1"
    for _ in 1 2 3 4 5 6 7 8; do
        windows_are "$base" || fail "button $1 at ($2, $3) opened a window"
        sleep 0.1
    done
}

# A right press on a bare spot opens one menu, an override-redirect window; Escape closes it.
# Input is handled in order, so it also shows that every press before it has been handled.
expect_menu() {
    pointer_to_bus 250 60
    local before
    before=$(xdotool search --onlyvisible --class rorumo | sort)
    xdotool mousedown 3 mouseup 3
    wait_until 10 windows_are $((base + 1)) || fail "no menu on a right press ($(visible_windows))"
    local menu
    menu=$(comm -13 <(echo "$before") <(xdotool search --onlyvisible --class rorumo | sort))
    xwininfo -id "$menu" -all | grep -q 'Override Redirect State: yes' || fail "menu is managed"
    xdotool key Escape
    wait_until 10 windows_are "$base" || fail "Escape left the menu open"
    note "menu at $SECONDS s"
}

expect_menu
expect_nothing 1 250 60  # left on the bus
expect_nothing 2 250 60  # middle on the bus
expect_menu
expect_nothing 3 390 100 # the middle door
expect_nothing 3 60 100  # the front door
expect_nothing 3 466 42  # the sign box
expect_menu
note "ok"
