#!/bin/bash
# Dragging the signboard with the left button moves it with the pointer; its frame stays behind,
# and the new place is what the settings keep.
. "$(dirname "$0")/lib.sh"

install_app rorumo '0,0,0,3600,"","",0,0,"",8790,1680,#TRUE#,#TRUE#,10000,6000,0'
start_app
read -r bx by < <(client_origin "$BUS")
# The signboard covers client pixels (586..679, 112..141); its left post (581..585) is grey
# inside a darker border.
board=(94 30 $((bx + 586)) $((by + 112)))
moved=(94 30 $((bx + 626)) $((by + 132)))
post=($((bx + 583)) $((by + 125)))
screenshot "$X11_WORK/start.png"
board_look=$(region_digest "$X11_WORK/start.png" "${board[@]}")
[ "$(pixel "$X11_WORK/start.png" "${post[@]}")" = "224 224 224" ] || fail "no frame at the start"

pointer_to_bus 630 125
xdotool mousedown 1
for i in 1 2 3 4 5 6 7 8 9 10; do
    xdotool mousemove $((bx + 630 + 4 * i)) $((by + 125 + 2 * i))
    sleep 0.03
done
xdotool mouseup 1

moved_there() { [ "$(screen_digest "${moved[@]}")" = "$board_look" ]; }
wait_until 10 moved_there || fail "the signboard is not at its new place"
screenshot "$X11_WORK/end.png"
[ "$(pixel "$X11_WORK/end.png" "${post[@]}")" = "224 224 224" ] || fail "the frame moved"
[ "$(region_digest "$X11_WORK/end.png" "${board[@]}")" != "$board_look" ] ||
    fail "the signboard is still at its old place"

close_app
[ "$APP_STATUS" -eq 0 ] || fail "exit status $APP_STATUS"
fields=$(cut -d, -f10,11 "$APP_INI")
[ "$fields" = "9390,1980" ] || fail "signboard saved at $fields"
note "ok"
