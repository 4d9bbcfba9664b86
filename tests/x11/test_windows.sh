#!/bin/bash
# First start of a copy named "bus": caption, window places, the panel above the bus window, and
# closing the bus window ends the program and writes the settings. The program takes no options:
# Qt's own, given on the command line, change nothing.
. "$(dirname "$0")/lib.sh"

install_app bus
start_app -qwindowtitle wrong -qwindowgeometry 300x200+400+400 -platform offscreen -reverse

title=$(xprop -id "$BUS" _NET_WM_NAME | sed 's/^[^=]*= //')
[ "$title" = '"ロルモ　-　bus"' ] || fail "caption is $title"

read -r bus_x bus_y < <(client_origin "$BUS")
read -r bus_w bus_h < <(client_size "$BUS")
read -r bl br bt bb < <(frame_extents "$BUS")
read -r panel_x panel_y < <(client_origin "$PANEL")
read -r pl pr pt pb < <(frame_extents "$PANEL")
note "bus client $bus_x,$bus_y ${bus_w}x$bus_h frame $bl $br $bt $bb; panel client $panel_x,$panel_y"
[ "$bus_w $bus_h" = "750 209" ] || fail "bus client area is ${bus_w}x$bus_h"
[ $((bus_x - bl)) -eq 0 ] && [ $((bus_y - bt)) -eq 0 ] || fail "bus frame not at (0,0)"
bus_bottom=$((bus_y + bus_h + bb))
[ $((panel_x - pl)) -eq 0 ] || fail "panel frame left is $((panel_x - pl))"
[ $((panel_y - pt)) -eq "$bus_bottom" ] ||
    fail "panel frame top $((panel_y - pt)), bus frame bottom $bus_bottom"

# The bus window comes to the front, and the panel stays above it.
xdotool windowactivate --sync "$BUS"
wait_until 10 sh -c "[ \"\$(xdotool getactivewindow)\" = $BUS ]" || fail "bus window not active"
stacking=$(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/,//g')
bus_hex=$(printf '0x%x' "$BUS")
panel_hex=$(printf '0x%x' "$PANEL")
order=$(for w in $stacking; do
    [ "$w" = "$bus_hex" ] && echo bus
    [ "$w" = "$panel_hex" ] && echo panel
done | xargs)
[ "$order" = "bus panel" ] || fail "stacking from the bottom: $order ($stacking)"
xprop -id "$PANEL" _NET_WM_STATE | grep -q _NET_WM_STATE_ABOVE || fail "panel is not kept above"
xprop -id "$BUS" _NET_WM_STATE | grep -q _NET_WM_STATE_ABOVE && fail "bus window kept above"

[ ! -e "$APP_INI" ] || fail "settings written before the end"
close_app
[ "$APP_STATUS" -eq 0 ] || fail "exit status $APP_STATUS"
[ -f "$APP_INI" ] || fail "no settings file $APP_INI"
# The panel's place is saved in twips: directly below the bus window.
expected=$(printf '0,0,0,%d,"","",0,0,"",8790,1680,#TRUE#,#TRUE#,10000,6000,0\r\n' $((bus_bottom * 15)))
[ "$(cat "$APP_INI")" = "$expected" ] || fail "settings: $(cat -A "$APP_INI") expected $(printf %s "$expected" | cat -A)"
note "ok"
