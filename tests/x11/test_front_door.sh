#!/bin/bash
# Two quick clicks on the front-door toggle at the slowest speed: the second one lands while the
# door opens, waits for the opening to end, and the door then closes fully.
. "$(dirname "$0")/lib.sh"

install_app rorumo '0,0,0,3600,"","",0,0,"",8790,1680,#TRUE#,#TRUE#,30000,6000,0'
start_app
read -r bx by < <(client_origin "$BUS")
# The front doorway, client pixels (24..93, 41..184); the toggle is at (7..56, 13..47).
door=(70 144 $((bx + 24)) $((by + 41)))
screenshot "$X11_WORK/start.png"
door_closed=$(region_digest "$X11_WORK/start.png" "${door[@]}")

# On this X server the first press on a window that openbox has not yet focused does not reach
# the program, so the panel is activated first.
xdotool windowactivate --sync "$PANEL"
pointer_to "$PANEL" 30 30
xdotool click --repeat 2 --delay 300 1

door_is() { [ "$(screen_digest "${door[@]}")" "$1" "$door_closed" ]; }
wait_until 20 door_is != || fail "the door never moved"
note "moving at $SECONDS s"
wait_until 60 door_is = || fail "the door did not close again"
note "closed at $SECONDS s"
close_app
[ "$APP_STATUS" -eq 0 ] || fail "exit status $APP_STATUS"
note "ok"
