#!/bin/bash
# A whole day with the bus, as a new user spends it, over two runs of the program:
#  1. the first start: both windows in their places, the panel above the bus;
#  2. the speeds nudged with the scroll bars' arrows, each door opened and closed, the door sound
#     written once per middle-door movement;
#  3. a sign folder chosen by typing its path (a wrong one first);
#  4. signs picked with the keypad and with the arrow keys on the sign box;
#  5. a signboard picture chosen, dragged, its frame re-fitted, hidden and shown;
#  6. the version window, whose link fails without the maker's library;
#  7. both windows moved;
#  8. the bus closed: the settings line, field by field;
#  9. the second start: everything as it was left, the sign on the folder's first picture;
# 10. places and speeds changed, then a logout (SIGTERM): the third start shows them.
# Screenshots of the steps are kept in a folder named on a failure.
. "$(dirname "$0")/lib.sh"

SHOTS=$(mktemp -d "${TMPDIR:-/tmp}/rorumo-day.XXXXXX")
fail() {
    screenshot "$SHOTS/failure.png" 2>/dev/null || true
    echo "FAIL: $*" >&2
    echo "screenshots: $SHOTS" >&2
    if [ -s "$X11_WORK/app.log" ]; then
        echo "--- the program's output:" >&2
        tail -n 40 "$X11_WORK/app.log" >&2
    fi
    exit 1
}
step() { echo "== $*"; }
shot() { screenshot "$SHOTS/$1.png"; }

# ---------------------------------------------------------------------------------------------
# What the user brings: a folder of sign pictures whose names give their order, a picture for
# the signboard, and the door sound as ALSA should receive it.
SIGNS="$X11_WORK/signs"
mkdir -p "$SIGNS"
RED="200 30 30"
GREEN="30 160 40"
BLUE="40 60 200"
convert -size 60x40 "xc:rgb(${RED// /,})" "$SIGNS/a1_red.bmp"
convert -size 60x40 "xc:rgb(${GREEN// /,})" "$SIGNS/b2_green.gif"
convert -size 60x40 "xc:rgb(${BLUE// /,})" -quality 100 "$SIGNS/c3_blue.jpg"
# PNG is not among the sign pictures' kinds: the list passes it by.
convert -size 60x40 "xc:rgb(250,200,0)" "$SIGNS/c4_yellow.png"
cp "$X11_TESTS/../metafile/fixtures/shapes.lo.wmf" "$SIGNS/d5_shapes.wmf"
cp "$X11_TESTS/../metafile/fixtures/fills.ink.emf" "$SIGNS/e6_fills.emf"
BOARD_PICTURE="$X11_WORK/board.bmp"
convert -size 40x24 "xc:rgb(255,0,255)" "$BOARD_PICTURE"
MAGENTA="255 0 255"

# The door sound's samples widened to 16-bit signed little-endian, as the program plays them.
WAVE="$X11_TESTS/../../resources/sound/door.wav"
perl -e 'local $/; open my $f, "<:raw", $ARGV[0] or die "$ARGV[0]: $!\n"; my $d = <$f>;
    for (my $p = 12; $p + 8 <= length $d;) {
        my ($id, $n) = unpack "A4 V", substr($d, $p, 8);
        if ($id eq "data") {
            print pack "s<*", map { ($_ - 128) * 256 } unpack "C*", substr($d, $p + 8, $n);
            exit;
        }
        $p += 8 + $n + ($n & 1);
    }
    die "no data chunk\n"' "$WAVE" >"$X11_WORK/door.raw"
SOUND_BYTES=$(stat -c %s "$X11_WORK/door.raw")
[ "$SOUND_BYTES" -eq $((2 * 17640)) ] || fail "the door sound has $SOUND_BYTES widened bytes"

install_app rorumo
# Every play of the sound is appended to one file (the plain file output starts afresh each time).
SOUND="$X11_WORK/sound.raw"
printf 'pcm.!default { type file; slave.pcm "null"; file "|cat >>%s"; format "raw" }\npcm.null { type null }\n' \
    "$SOUND" >"$X11_WORK/asound.conf"
: >"$SOUND"
# The first run goes without the maker's library.
rm "$APP_DIR/libVLM3Res.so"

# ---------------------------------------------------------------------------------------------
# Helpers.

# "x y" of a window's frame on the screen.
frame_origin() {
    local x y l r t b
    read -r x y < <(client_origin "$1")
    read -r l _ t _ < <(frame_extents "$1")
    echo $((x - l)) $((y - t))
}

# Whether the panel is above the bus window in the window manager's stacking order.
panel_above_bus() {
    local order
    order=$(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/,//g' | tr ' ' '\n' |
        grep -x -e "$(printf '0x%x' "$BUS")" -e "$(printf '0x%x' "$PANEL")" | xargs)
    [ "$order" = "$(printf '0x%x 0x%x' "$BUS" "$PANEL")" ]
}


# A region W H X Y of the bus window's client area, on the screen.
bus_region() {
    local x0 y0
    read -r x0 y0 < <(client_origin "$BUS")
    echo "$1 $2 $((x0 + $3)) $((y0 + $4))"
}
panel_region() {
    local x0 y0
    read -r x0 y0 < <(client_origin "$PANEL")
    echo "$1 $2 $((x0 + $3)) $((y0 + $4))"
}
# The digest of a region given as the words of a command that prints it, e.g. "front_door".
# shellcheck disable=SC2046,SC2086
digest_of() { screen_digest $($1); }

# "r g b" of the bus window's client pixel X Y as the screen shows it now.
bus_pixel() {
    local x y
    read -r x y < <(at "$BUS" "$1" "$2")
    screenshot "$X11_WORK/pixel.png"
    pixel "$X11_WORK/pixel.png" "$x" "$y"
}
# Whether "r g b" $1 lies within 12 of "r g b" $2 in every channel (JPEG may shift a colour).
near() {
    local a b
    read -r -a a <<<"$1"
    read -r -a b <<<"$2"
    for i in 0 1 2; do
        local d=$((a[i] - b[i]))
        [ "${d#-}" -le 12 ] || return 1
    done
}
bus_pixel_near() { near "$(bus_pixel "$1" "$2")" "$3"; }
bus_pixel_is() { [ "$(bus_pixel "$1" "$2")" = "$3" ]; }
bus_pixel_is_not() { [ "$(bus_pixel "$1" "$2")" != "$3" ]; }

# Waits until the region (given as a command printing W H X Y) differs from the digest $2.
changes_from() { [ "$(digest_of "$1")" != "$2" ]; }
equals() { [ "$(digest_of "$1")" = "$2" ]; }
# Waits until the region stops changing: two looks half a second apart agree.
wait_settled() {
    local deadline=$((SECONDS + $2)) before now
    before=$(digest_of "$1")
    while :; do
        sleep 0.5
        now=$(digest_of "$1")
        [ "$now" = "$before" ] && return 0
        [ "$SECONDS" -lt "$deadline" ] || return 1
        before=$now
    done
}

window_named() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1; }
window_gone() { [ -z "$(window_named "$1")" ]; }
window_shown() { [ -n "$(window_named "$1")" ]; }
windows_are() { [ "$(visible_windows)" -eq "$1" ]; }
is_active() { [ "$(xdotool getactivewindow 2>/dev/null)" = "$1" ]; }
# await_window VAR TITLE WHAT: waits for a window titled TITLE to show and take the focus, and
# puts its id into VAR; fails naming WHAT otherwise.
await_window() {
    wait_until 10 window_shown "$2" || fail "$3 did not appear"
    printf -v "$1" '%s' "$(window_named "$2")"
    wait_until 10 is_active "${!1}" || fail "$3 is not active"
}
sound_size() { stat -c %s "$SOUND"; }
sound_size_is() { [ "$(sound_size)" -eq "$1" ]; }

# The regions the test looks at, client pixels of the bus window (W H X Y).
front_door() { bus_region 70 144 24 41; }
middle_door() { bus_region 77 143 351 41; }
sign_box() { bus_region 52 32 440 26; }
sign_x=466 sign_y=42
# Panel: the speed labels and the keypad's code display (W H X Y of the client area).
front_label() { panel_region 81 16 61 32; }
middle_label() { panel_region 80 16 60 76; }
code_display() { panel_region 97 21 157 16; }

# The keypad: rows "7 8 9", "4 5 6", "1 2 3", "0 C 設定" in Frame1 at x 151.
keypad() {
    local key col row
    for key in "$@"; do
        case $key in
        7 | 4 | 1 | 0) col=156 ;;
        8 | 5 | 2 | C) col=189 ;;
        *) col=222 ;;
        esac
        case $key in
        7 | 8 | 9) row=40 ;;
        4 | 5 | 6) row=66 ;;
        1 | 2 | 3) row=92 ;;
        *) row=118 ;;
        esac
        click_in "$PANEL" $((col + 17)) $((row + 13))
    done
}
SET=S # the key 設定

# The popup menu of the bare bus: picks the item $1 places down (1 看板の表示, 2 枠の表示,
# 3 看板の画像を設定...).
menu_pick() {
    local base
    base=$(visible_windows)
    xdotool windowactivate --sync "$BUS"
    pointer_to_bus 250 60
    xdotool click 3
    wait_until 10 windows_are $((base + 1)) || fail "no popup menu"
    local i
    for ((i = 0; i < $1; i++)); do xdotool key Down; done
    xdotool key Return
}

# The sign shows a solid colour "r g b" at its centre.
sign_shows() { bus_pixel_near $sign_x $sign_y "$1"; }
expect_sign() {
    wait_until 10 sign_shows "$2" || fail "$1: the sign shows $(bus_pixel $sign_x $sign_y), not $2"
    note "$1: the sign shows ($2)"
}
# The sign shows a drawing: neither blank nor the digest $2.
WHITE_SIGN=$(convert -size 52x32 xc:white -depth 8 rgb:- | md5sum | cut -d' ' -f1)
sign_drawn_unlike() {
    local now
    now=$(digest_of sign_box)
    [ "$now" != "$WHITE_SIGN" ] && [ "$now" != "$1" ]
}
expect_drawing() {
    wait_until 10 sign_drawn_unlike "$2" || fail "$1: the sign shows no new drawing"
    note "$1: the sign shows a drawing"
}

# ---------------------------------------------------------------------------------------------
step "1. first start, no settings file"
start_app
shot 1-start
read -r fx fy < <(frame_origin "$BUS")
[ "$fx $fy" = "0 0" ] || fail "the bus frame is at $fx,$fy"
read -r _ by < <(client_origin "$BUS")
read -r bw bh < <(client_size "$BUS")
read -r _ _ _ bb < <(frame_extents "$BUS")
[ "$bw $bh" = "750 209" ] || fail "the bus client area is ${bw}x$bh"
BUS_BOTTOM=$((by + bh + bb))
read -r px py < <(frame_origin "$PANEL")
read -r pw ph < <(client_size "$PANEL")
[ "$pw $ph" = "263 171" ] || fail "the panel client area is ${pw}x$ph"
[ "$px $py" = "0 $BUS_BOTTOM" ] || fail "the panel frame is at $px,$py, not below the bus at 0,$BUS_BOTTOM"
note "bus frame at 0,0; panel frame at 0,$BUS_BOTTOM, right below it"
xprop -id "$PANEL" _NET_WM_STATE | grep -q _NET_WM_STATE_ABOVE || fail "the panel is not kept above"
xdotool windowactivate --sync "$BUS"
wait_until 10 panel_above_bus || fail "the panel is not above the bus after activating the bus"
note "the panel stays above the active bus window"

# ---------------------------------------------------------------------------------------------
step "2. the speeds and the doors"
# On this X server a press on a window that openbox has not yet focused does not reach the
# program, so the panel is activated before its first click.
xdotool windowactivate --sync "$PANEL"
front_label_before=$(digest_of front_label)
middle_label_before=$(digest_of middle_label)
# Three presses on the front speed's right arrow, two on the middle speed's left arrow.
for _ in 1 2 3; do click_in "$PANEL" 136 23; sleep 0.2; done
for _ in 1 2; do click_in "$PANEL" 65 66; sleep 0.2; done
wait_until 10 changes_from front_label "$front_label_before" || fail "the front speed label did not change"
wait_until 10 changes_from middle_label "$middle_label_before" || fail "the middle speed label did not change"
note "both speed labels changed"

front_closed=$(digest_of front_door)
click_in "$PANEL" 30 30
wait_until 20 changes_from front_door "$front_closed" || fail "the front door did not move"
wait_settled front_door 60 || fail "the front door did not stop"
shot 2-front-open
changes_from front_door "$front_closed" || fail "the open front door looks closed"
note "the front door opened"
click_in "$PANEL" 30 30
wait_until 60 equals front_door "$front_closed" || fail "the front door did not close again"
note "the front door closed again, as at the start"

middle_closed=$(digest_of middle_door)
[ "$(sound_size)" -eq 0 ] || fail "sound before the middle door moved"
for movement in 1 2; do
    what=$([ $movement -eq 1 ] && echo opened || echo closed)
    click_in "$PANEL" 30 75
    if [ $movement -eq 1 ]; then
        wait_until 20 changes_from middle_door "$middle_closed" || fail "the middle door did not move"
        wait_settled middle_door 60 || fail "the middle door did not stop"
        shot 2-middle-open
        changes_from middle_door "$middle_closed" || fail "the open middle door looks closed"
    else
        wait_until 60 equals middle_door "$middle_closed" || fail "the middle door did not close again"
    fi
    wait_until 20 sound_size_is $((movement * SOUND_BYTES)) ||
        fail "after $movement middle-door movements $(sound_size) sound bytes were written"
    tail -c "$SOUND_BYTES" "$SOUND" | cmp -s - "$X11_WORK/door.raw" ||
        fail "the sound written for movement $movement is not the door sound"
    note "the middle door $what; the door sound was played once more ($(sound_size) bytes)"
done
wait_settled middle_door 30 || fail "the middle door did not stop"
sound_size_is $((2 * SOUND_BYTES)) || fail "more sound than two plays: $(sound_size) bytes"

# ---------------------------------------------------------------------------------------------
step "3. the sign folder, typed into the chooser"
xdotool windowactivate --sync "$PANEL"
click_in "$PANEL" 207 155
await_window CHOOSER '^画像の位置$' "the folder chooser"
shot 3-chooser
type_into_chooser() {
    click_in "$CHOOSER" 200 37
    xdotool key ctrl+a
    xdotool type --delay 10 "$1"
    click_in "$CHOOSER" 321 66 # OK
}
type_into_chooser "$X11_WORK/no such folder"
await_window BOX '^ロルモ$' "the message box for a path that does not exist"
shot 3-not-found
note "a wrong path: the message box titled ロルモ appeared"
xdotool key Return
wait_until 10 window_gone '^ロルモ$' || fail "Enter did not close the message box"
window_gone '^画像の位置$' && fail "the chooser closed after the wrong path"
note "Enter closed the message box; the chooser stays"
type_into_chooser "$SIGNS"
wait_until 10 window_gone '^画像の位置$' || fail "the chooser did not close with OK"
window_gone '^ロルモ$' || fail "a message box for the right path"
note "the right path and OK closed the chooser"

# ---------------------------------------------------------------------------------------------
step "4. signs from the keypad and the arrow keys"
xdotool windowactivate --sync "$PANEL"
display_blank=$(digest_of code_display)
keypad 1
wait_until 10 changes_from code_display "$display_blank" || fail "the code display shows nothing"
keypad $SET
expect_sign "code 1" "$GREEN"
keypad C
wait_until 10 equals code_display "$display_blank" || fail "C did not clear the code display"
keypad 2 $SET
expect_sign "code 2" "$BLUE"
blue=$(digest_of sign_box)
keypad C 3 $SET
expect_drawing "code 3 (WMF)" "$blue"
wmf=$(digest_of sign_box)
shot 4-wmf
keypad C 4 $SET
expect_drawing "code 4 (EMF)" "$wmf"
emf=$(digest_of sign_box)
shot 4-emf
keypad C 1 2 $SET
sleep 0.5
equals sign_box "$emf" || fail "code 12 (past the last picture) changed the sign"
note "code 12: past the last picture, the sign stays"
keypad C 0 $SET
expect_sign "code 0" "$RED"
keypad C
# The keypad does not move the keyboard's place in the list: it starts at the first picture.
xdotool windowactivate --sync "$BUS"
click_in "$BUS" $sign_x $sign_y
xdotool key Down
expect_sign "Down" "$GREEN"
xdotool key Down
expect_sign "Down" "$BLUE"
xdotool key Down
expect_drawing "Down (WMF)" "$blue"
equals sign_box "$wmf" || fail "Down: not the WMF drawing seen before"
xdotool key Down
wait_until 10 equals sign_box "$emf" || fail "Down: not the EMF drawing seen before"
note "Down: the EMF drawing again"
xdotool key Down Up
wait_until 10 equals sign_box "$wmf" || fail "Down at the end, then Up: not the WMF drawing"
note "Down at the last picture stays; Up goes back to the WMF drawing"
xdotool key Up Up Up Up
expect_sign "Up to the top and once more" "$RED"
xdotool key Down Down
expect_sign "Down twice" "$BLUE"

# ---------------------------------------------------------------------------------------------
step "5. the signboard"
board_place=(586 112)
menu_pick 3
wait_until 10 windows_are 3 ||
    fail "no file dialog"
DIALOG=$(comm -13 <(printf '%s\n' "$BUS" "$PANEL" | sort) \
    <(xdotool search --onlyvisible --class rorumo | sort) | head -n1)
wait_until 10 is_active "$DIALOG" || fail "the file dialog is not active"
shot 5-file-dialog
note "the file dialog \"$(xdotool getwindowname "$DIALOG")\" opened"
xdotool type --delay 10 "$BOARD_PICTURE"
xdotool key Return
wait_until 10 windows_are 2 ||
    fail "the file dialog did not close"
wait_until 10 bus_pixel_is 606 124 "$MAGENTA" || fail "the signboard does not show the picture"
board_look=$(digest_of "bus_region 40 24 ${board_place[*]}")
# The frame fits the 40 x 24 picture: posts at x 581..585 and 626..630, the bar below.
bus_pixel_is 583 125 "224 224 224" || fail "no left post beside the signboard"
bus_pixel_is 628 125 "224 224 224" || fail "the right post did not follow the picture's width"
note "the signboard shows the picture, its frame fitted around it"
shot 5-board

# The drag is made while the front door opens: the program holds it back until the door stops,
# and then the board keeps the spot where the button went down under the pointer.
front_closed=$(digest_of front_door)
xdotool windowactivate --sync "$PANEL"
click_in "$PANEL" 30 30
xdotool windowactivate --sync "$BUS"
pointer_to_bus 600 120
xdotool mousedown 1
for i in 1 2 3 4 5 6 7 8 9 10; do
    pointer_to_bus $((600 + 4 * i)) $((120 + 2 * i))
    sleep 0.03
done
xdotool mouseup 1
board_place=(626 132)
wait_until 10 equals "bus_region 40 24 ${board_place[*]}" "$board_look" ||
    fail "the signboard is not at its new place"
bus_pixel_is 583 125 "224 224 224" || fail "the frame moved with the drag"
note "dragged to client 626,132 (made while the front door opened); the frame stayed"
wait_settled front_door 60 || fail "the front door did not stop"
xdotool windowactivate --sync "$PANEL"
click_in "$PANEL" 30 30
wait_until 60 equals front_door "$front_closed" || fail "the front door did not close again"
xdotool windowactivate --sync "$BUS"
shot 5-dragged

pointer_to_bus 640 140
xdotool click --repeat 2 --delay 80 1
wait_until 10 bus_pixel_is 623 140 "224 224 224" || fail "the frame did not follow a double-click"
bus_pixel_is_not 583 125 "224 224 224" || fail "the frame is still at its old place"
equals "bus_region 40 24 ${board_place[*]}" "$board_look" || fail "the double-click moved the board"
note "a double-click brought the frame to the board"

menu_pick 1
wait_until 10 bus_pixel_is_not 646 144 "$MAGENTA" || fail "看板の表示 did not hide the signboard"
bus_pixel_is 623 140 "224 224 224" || fail "hiding the signboard hid the frame"
note "看板の表示: the signboard hidden, the frame stays"
menu_pick 1
wait_until 10 bus_pixel_is 646 144 "$MAGENTA" || fail "看板の表示 did not show the signboard again"
note "看板の表示: the signboard shown again"
menu_pick 2
wait_until 10 bus_pixel_is_not 623 140 "224 224 224" || fail "枠の表示 did not hide the frame"
note "枠の表示: the frame hidden"
menu_pick 2
wait_until 10 bus_pixel_is 623 140 "224 224 224" || fail "枠の表示 did not show the frame again"
note "枠の表示: the frame shown again"
menu_pick 2
wait_until 10 bus_pixel_is_not 623 140 "224 224 224" || fail "枠の表示 did not hide the frame"
bus_pixel_is 646 144 "$MAGENTA" || fail "hiding the frame hid the signboard"
note "枠の表示: the frame hidden for the night"

# ---------------------------------------------------------------------------------------------
step "6. the version window without the maker's library"
xdotool windowactivate --sync "$PANEL"
click_in "$PANEL" 98 155
await_window ABOUT '^ロルモのバージョン情報$' "the version window"
click_in "$ABOUT" 126 206
await_window ERROR_BOX '^Rakhpurl.dllのエラー$' "the link's error box"
shot 6-error
note "the link: the error box titled Rakhpurl.dllのエラー"
xdotool key Return
wait_until 10 window_gone '^Rakhpurl.dllのエラー$' || fail "Enter did not close the error box"
window_gone '^ロルモのバージョン情報$' && fail "the version window closed with the error box"
note "the error box closed; the version window stays"
wait_until 10 is_active "$ABOUT" || fail "the version window is not active again"
click_in "$ABOUT" 279 207
wait_until 10 window_gone '^ロルモのバージョン情報$' || fail "OK did not close the version window"
note "OK closed the version window"

# ---------------------------------------------------------------------------------------------
step "7. both windows moved"
xdotool windowmove "$BUS" 100 300
xdotool windowmove "$PANEL" 600 600
bus_at() { [ "$(frame_origin "$BUS")" = "100 300" ]; }
panel_at() { [ "$(frame_origin "$PANEL")" = "600 600" ]; }
wait_until 10 bus_at || fail "the bus frame is at $(frame_origin "$BUS"), not 100 300"
wait_until 10 panel_at || fail "the panel frame is at $(frame_origin "$PANEL"), not 600 600"
note "bus frame at 100,300; panel frame at 600,600"
# What the second start should show again: the bus (the sign aside) and the speed labels.
sleep 0.5
bus_masked() {
    local x0 y0
    read -r x0 y0 < <(client_origin "$BUS")
    screenshot "$X11_WORK/masked.png"
    convert "$X11_WORK/masked.png" -crop "750x209+$x0+$y0" +repage \
        -fill black -draw "rectangle 440,26 492,58" -depth 8 rgb:- | md5sum | cut -d' ' -f1
}
bus_look=$(bus_masked)
front_label_look=$(digest_of front_label)
middle_label_look=$(digest_of middle_label)
shot 7-end-of-day

# ---------------------------------------------------------------------------------------------
step "8. the bus closed: the settings line"
close_app
[ "$APP_STATUS" -eq 0 ] || fail "exit status $APP_STATUS"
[ -f "$APP_INI" ] || fail "no settings file $APP_INI"
line=$(cat "$APP_INI")
[ "${line%$'\r'}" != "$line" ] || fail "the settings line does not end in CR LF"
[ "$(wc -l <"$APP_INI")" -eq 1 ] || fail "more than one line: $(cat -A "$APP_INI")"
note "one line: ${line%$'\r'}"
IFS=, read -r -a fields <<<"${line%$'\r'}"
expected=(1500 4500 9000 9000 "\"$SIGNS/\"" '""' 0 0 "\"$BOARD_PICTURE\"" 9390 1980
    '#TRUE#' '#FALSE#' 10003 5998 0)
names=(MainLeft MainTop PanelLeft PanelTop HkPicDir SpareText SpareNumber1 SpareNumber2
    KanbanPicPath KanbanLeft KanbanTop ViewKanban ViewWaku FrontSpeed MiddleSpeed NakaMode)
[ "${#fields[@]}" -eq 16 ] || fail "${#fields[@]} fields in the settings line"
for i in "${!expected[@]}"; do
    [ "${fields[i]}" = "${expected[i]}" ] ||
        fail "settings field ${names[i]} is ${fields[i]}, expected ${expected[i]}"
    note "${names[i]} = ${fields[i]}"
done

# ---------------------------------------------------------------------------------------------
step "9. the second start: everything restored"
cp "$(dirname "$RORUMO_BIN")/libVLM3Res.so" "$APP_DIR/"
start_app
shot 9-restart
wait_until 10 bus_at || fail "the bus frame is at $(frame_origin "$BUS"), not 100 300"
wait_until 10 panel_at || fail "the panel frame is at $(frame_origin "$PANEL"), not 600 600"
note "bus frame at 100,300; panel frame at 600,600"
xdotool windowactivate --sync "$BUS"
wait_until 10 panel_above_bus || fail "the panel is not above the bus"
note "the panel stays above the bus"
wait_until 10 equals front_label "$front_label_look" || fail "the front speed label differs"
wait_until 10 equals middle_label "$middle_label_look" || fail "the middle speed label differs"
note "both speed labels show what they showed before"
wait_until 10 bus_pixel_is 646 144 "$MAGENTA" || fail "the signboard's picture is not at its place"
equals "bus_region 40 24 ${board_place[*]}" "$board_look" || fail "the signboard looks different"
bus_pixel_is_not 623 140 "224 224 224" || fail "the frame is shown"
bus_pixel_is_not 583 125 "224 224 224" || fail "the frame is shown at its first place"
note "the signboard at 626,132 with its picture; the frame hidden"
expect_sign "the sign" "$RED"
note "the sign shows the folder's first picture"
bus_as_before() { [ "$(bus_masked)" = "$bus_look" ]; }
wait_until 10 bus_as_before || fail "the bus looks different from the end of the day"
note "the bus looks as it did at the end of the day (the sign aside)"

# ---------------------------------------------------------------------------------------------
step "10. places and speeds changed, then a logout"
xdotool windowmove "$BUS" 200 100
xdotool windowmove "$PANEL" 700 500
bus_at() { [ "$(frame_origin "$BUS")" = "200 100" ]; }
panel_at() { [ "$(frame_origin "$PANEL")" = "700 500" ]; }
wait_until 10 bus_at && wait_until 10 panel_at || fail "the windows did not move"
xdotool windowactivate --sync "$PANEL"
for _ in 1 2; do click_in "$PANEL" 136 23; sleep 0.2; done
click_in "$PANEL" 65 66
sleep 0.5
end_app_by TERM
[ "$APP_STATUS" -eq 0 ] || fail "exit status $APP_STATUS at the logout"
saved() { cut -d, -f1-4,14-15 "$APP_INI"; }
[ "$(saved)" = 3000,1500,10500,7500,10005,5997 ] || fail "saved at the logout: $(saved)"
note "the logout (SIGTERM) saved the new places and the speeds 10005 and 5997"
start_app
wait_until 10 bus_at && wait_until 10 panel_at || fail "the next start put the windows elsewhere"
close_app
[ "$(saved)" = 3000,1500,10500,7500,10005,5997 ] || fail "after the next start: $(saved)"
note "the next start showed both windows there and kept the speeds"
rm -rf "$SHOTS"
note "ok"
