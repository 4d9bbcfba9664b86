#!/bin/bash
# A whole day with the bus on a real X server (run-x11.sh), driven with xdotool, over the runs of
# a copy named "bus", the last ones ended abruptly, the X server taken away at the very end: only
# what needs a real window manager, real input and real pixels. The steps below say what each
# looks at. Expects RORUMO_BIN, the built executable; the screenshots of the steps are kept in a
# folder named on a failure.
set -eu

X11_TESTS=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
X11_WORK=$(mktemp -d "${TMPDIR:-/tmp}/rorumo-test.XXXXXX")
SHOTS=$(mktemp -d "${TMPDIR:-/tmp}/rorumo-day.XXXXXX")
APP_PID=
x11_cleanup() {
    [ -z "$APP_PID" ] || { kill "$APP_PID" && wait "$APP_PID"; } 2>/dev/null || true
    rm -rf "$X11_WORK"
}
trap x11_cleanup EXIT

fail() {
    screenshot "$SHOTS/failure.png" 2>/dev/null || true
    printf 'FAIL: %s\nscreenshots: %s\n' "$*" "$SHOTS" >&2
    [ ! -s "$X11_WORK/app.log" ] || { echo "--- the program's output:" && tail -n 40 "$X11_WORK/app.log"; } >&2
    exit 1
}
note() { echo "# $*"; }
step() { echo "== $*"; }
screenshot() { import -window root "$1"; }
shot() { screenshot "$SHOTS/$1.png"; }

# Waits up to $1 seconds for the command after it to succeed.
wait_until() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

# ---------------------------------------------------------------------------------------------
# The program and its windows.

APP_DIR="$X11_WORK/app"
APP="$APP_DIR/bus"
APP_INI="$APP_DIR/bus.ini"
mkdir -p "$APP_DIR"
cp "$RORUMO_BIN" "$APP"
cp "$(dirname "$RORUMO_BIN")/rorumo-picture-worker" "$APP_DIR/"
# No sound card needed: the door sound goes nowhere.
printf 'pcm.!default { type null }\n' >"$X11_WORK/asound.conf"

# Under the sanitizers, leave out what system libraries keep for the process's life.
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$X11_TESTS/../lsan.supp}"
export ALSA_CONFIG_PATH="$X11_WORK/asound.conf"

# Starts the program with these arguments and waits for its two windows.
start_app() {
    # A script's background job ignores Ctrl+C; the program gets it back, as from a terminal.
    perl -e '$SIG{INT} = "DEFAULT"; exec @ARGV or die "$ARGV[0]: $!\n"' "$APP" "$@" \
        >"$X11_WORK/app.log" 2>&1 &
    APP_PID=$!
    await_app
}
# Waits for the program's two windows: BUS and PANEL hold their ids.
await_app() {
    # A loaded machine can take its time: wait generously.
    PANEL=$(timeout 60 xdotool search --sync --onlyvisible --name '^設定パネル$' | head -n1)
    [ -n "$PANEL" ] || fail "the panel did not appear"
    BUS=$(timeout 60 xdotool search --sync --onlyvisible --name '^ロルモ　-　bus$' | head -n1)
    [ -n "$BUS" ] || fail "no bus window captioned ロルモ　-　bus"
    wait_until 10 framed "$BUS" || fail "the bus window was not framed"
    wait_until 10 framed "$PANEL" || fail "the panel was not framed"
}
framed() { xprop -id "$1" _NET_FRAME_EXTENTS | grep -q '='; }

# Waits for the program to end and sets APP_STATUS.
wait_ended() {
    wait_until 30 sh -c "! kill -0 $APP_PID 2>/dev/null" || fail "the program did not end"
    APP_STATUS=0
    wait "$APP_PID" || APP_STATUS=$?
    APP_PID=
}

# Runs the command, which ends the program, and fails when the end took longer than a second (and
# what a sanitizer's exit adds) just after a picture was asked for.
ends_promptly() {
    local t0 ms
    t0=$(date +%s%N)
    "$@"
    ms=$((($(date +%s%N) - t0) / 1000000))
    [ "$ms" -le 2000 ] || fail "the program took $ms ms to end while a picture loaded"
    note "ended $ms ms after it was asked to, just after a picture was asked for"
}

# Closes the bus window (or window $1) with the close button on openbox's title bar (a key such
# as Alt+F4 would reach the sign keys first): the default theme puts it about 10 px in from the
# frame's right.
click_close() {
    local x y w h r t
    read -r x y < <(client_origin "${1:-$BUS}")
    read -r w h < <(client_size "${1:-$BUS}")
    read -r _ r t _ < <(frame_extents "${1:-$BUS}")
    xdotool mousemove $((x + w + r - 10)) $((y - t / 2)) click 1
}
close_app() { click_close && wait_ended; }

# "x y" of a window's client area on the screen, "width height" of it, "left right top bottom"
# of the frame the window manager put around it, and "x y" of that frame.
client_origin() {
    xwininfo -id "$1" | awk '/Absolute upper-left X/ {x = $NF} /Absolute upper-left Y/ {y = $NF}
        END {print x, y}'
}
client_size() {
    xwininfo -id "$1" | awk '/^ *Width:/ {w = $NF} /^ *Height:/ {h = $NF} END {print w, h}'
}
frame_extents() { xprop -id "$1" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g'; }
frame_origin() {
    local x y l t
    read -r x y < <(client_origin "$1")
    read -r l _ t _ < <(frame_extents "$1")
    echo $((x - l)) $((y - t))
}

# Whether the window $1 lies above the window $2 in the window manager's stacking order.
above() {
    local order
    order=$(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/,//g' | tr ' ' '\n' |
        grep -x -e "$(printf '0x%x' "$1")" -e "$(printf '0x%x' "$2")" | xargs)
    [ "$order" = "$(printf '0x%x 0x%x' "$2" "$1")" ]
}

# The pointer to the client pixel X Y of window $1, and a click there.
pointer_to() {
    local x0 y0
    read -r x0 y0 < <(client_origin "$1")
    xdotool mousemove $((x0 + $2)) $((y0 + $3))
}
click_in() { pointer_to "$@" && xdotool click 1; }
pointer_to_bus() { pointer_to "$BUS" "$@"; }

# A digest of the region W H X Y of a window's client area, the region given as the words of a
# command that prints "window W H X Y", e.g. "front_door".
region() { echo "$BUS" "$@"; }
digest_of() {
    local win w h x y x0 y0
    read -r win w h x y < <($1)
    read -r x0 y0 < <(client_origin "$win")
    screenshot "$X11_WORK/now.png"
    convert "$X11_WORK/now.png" -crop "${w}x${h}+$((x0 + x))+$((y0 + y))" +repage -depth 8 rgb:- |
        md5sum | cut -d' ' -f1
}
changes_from() { [ "$(digest_of "$1")" != "$2" ]; }
equals() { [ "$(digest_of "$1")" = "$2" ]; }
# "r g b" of the bus window's client pixel X Y as the screen shows it now.
bus_pixel() {
    local x0 y0
    read -r x0 y0 < <(client_origin "$BUS")
    screenshot "$X11_WORK/pixel.png"
    convert "$X11_WORK/pixel.png" -crop "1x1+$((x0 + $1))+$((y0 + $2))" +repage -depth 8 rgb:- |
        od -An -tu1 | xargs
}
bus_pixel_is() { [ "$(bus_pixel "$1" "$2")" = "$3" ]; }

visible_windows() { xdotool search --onlyvisible --class rorumo 2>/dev/null | wc -l; }
windows_are() { [ "$(visible_windows)" -eq "$1" ]; }
window_named() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1; }
window_gone() { [ -z "$(window_named "$1")" ]; }
window_shown() { [ -n "$(window_named "$1")" ]; }
is_active() { [ "$(xdotool getactivewindow 2>/dev/null)" = "$1" ]; }
# await_window VAR TITLE WHAT: waits for a window titled TITLE to show and take the focus, and
# puts its id into VAR; fails naming WHAT otherwise.
await_window() {
    wait_until 10 window_shown "$2" || fail "$3 did not appear"
    printf -v "$1" '%s' "$(window_named "$2")"
    wait_until 10 is_active "${!1}" || fail "$3 is not active"
}

# The regions the test looks at (window W H X Y).
front_door() { region 70 144 24 41; }
sign_x=466 sign_y=42

# The keypad: rows "7 8 9", "4 5 6", "1 2 3", "0 C S" (S for 設定), keys 33 x 26 px apart, the
# first one's centre at 173,53 in the panel.
keypad() {
    local key before
    for key in "$@"; do
        before=${KEYS%%"$key"*}
        click_in "$PANEL" $((173 + 33 * (${#before} % 3))) $((53 + 26 * (${#before} / 3)))
    done
}
KEYS=7894561230CS SET=S

# The popup menu of the bare bus: picks the item $1 places down (2 枠の表示, 3 看板の画像を設定...).
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
# The signboard picture chosen through the popup menu's file dialog.
choose_board() {
    menu_pick 3
    wait_until 10 windows_are 3 || fail "no file dialog"
    xdotool key ctrl+a
    xdotool type --delay 10 "$1"
    xdotool key Return
    wait_until 10 windows_are 2 || fail "the file dialog did not close"
}
# A right press at the bus window's client pixel X Y opens nothing.
no_menu_at() {
    pointer_to_bus "$1" "$2"
    xdotool click 3
    sleep 0.8
    windows_are 2 || fail "a right press at $1,$2 opened a window"
}

# The sign shows a solid colour "r g b" at its centre.
sign_shows() { bus_pixel_is $sign_x $sign_y "$1"; }
expect_sign() {
    wait_until 10 sign_shows "$2" || fail "$1: the sign shows $(bus_pixel $sign_x $sign_y), not $2"
    note "$1: the sign shows ($2)"
}

# ---------------------------------------------------------------------------------------------
# What the user brings: a folder of sign pictures whose names give their order, and a picture for
# the signboard.
SIGNS="$X11_WORK/signs"
mkdir -p "$SIGNS"
RED="200 30 30"
GREEN="30 160 40"
convert -size 60x40 "xc:rgb(${RED// /,})" "$SIGNS/a1_red.bmp"
convert -size 60x40 "xc:rgb(${GREEN// /,})" "$SIGNS/b2_green.gif"
BLUE="40 40 210"
convert -size 60x40 "xc:rgb(${BLUE// /,})" "$SIGNS/d4_blue.bmp"
# A signboard picture that costs its whole deadline: an EMF star of 4000 corners, each edge
# crossing nearly all others. (The sign draws only the star's corner, which costs little.)
perl -e 'my ($n, $p) = (4000, "");
    $p .= pack "s<2", 480 + 470 * cos($_ * 3.1353), 480 + 470 * sin($_ * 6.2769) for 0 .. $n - 1;
    my $r = pack("V6V", 0x56, 28 + length $p, 0, 0, 959, 959, $n) . $p . pack "V5", 14, 20, 0, 16, 20;
    print pack("V2l<4l<4V4v2V7", 1, 88, 0, 0, 959, 959, 0, 0, 25399, 25399, 0x464D4520, 0x10000,
        88 + length $r, 3, 16, 0, 0, 0, 0, 960, 960, 254, 254), $r' >"$X11_WORK/costly.emf"
# Signs that cost about a second however little of them shows: every scan of a progressive JPEG
# is read before its first line.
convert -size 8000x8000 "xc:rgb(120,80,200)" -interlace JPEG -quality 95 "$SIGNS/c3_costly.jpg"
cp "$SIGNS/c3_costly.jpg" "$SIGNS/c3b_costly.jpg"
# A 48-megapixel phone photo, of which the sign shows the top-left corner.
GREY="200 200 200" # a grey comes through JPEG unchanged
convert -size 8000x6000 "xc:rgb(${GREY// /,})" "$SIGNS/e5_photo.jpg"
BOARD_PICTURE="$X11_WORK/board.bmp"
convert -size 40x24 "xc:rgb(255,0,255)" "$BOARD_PICTURE"
MAGENTA="255 0 255"
POST="224 224 224"

# ---------------------------------------------------------------------------------------------
step "1. first start, no settings file"
start_app
shot 1-start
[ "$(frame_origin "$BUS")" = "0 0" ] || fail "the bus frame is at $(frame_origin "$BUS")"
read -r _ by < <(client_origin "$BUS")
read -r bw bh < <(client_size "$BUS")
read -r _ _ _ bb < <(frame_extents "$BUS")
[ "$bw $bh" = "750 209" ] || fail "the bus client area is ${bw}x$bh"
BUS_BOTTOM=$((by + bh + bb))
read -r pw ph < <(client_size "$PANEL")
[ "$pw $ph" = "263 171" ] || fail "the panel client area is ${pw}x$ph"
[ "$(frame_origin "$PANEL")" = "0 $BUS_BOTTOM" ] ||
    fail "the panel frame is at $(frame_origin "$PANEL"), not below the bus at 0,$BUS_BOTTOM"
note "bus frame at 0,0; panel frame at 0,$BUS_BOTTOM, right below it"
xprop -id "$PANEL" _NET_WM_STATE | grep -q _NET_WM_STATE_ABOVE || fail "the panel is not kept above"
xdotool windowactivate --sync "$BUS"
wait_until 10 above "$PANEL" "$BUS" || fail "the panel is not above the bus after activating the bus"
note "the panel stays above the active bus window"

# ---------------------------------------------------------------------------------------------
step "2. the speeds, by the scroll bars' arrows"
# On this X server a press on a window that openbox has not yet focused does not reach the
# program, so the panel is activated before its first click.
xdotool windowactivate --sync "$PANEL"
# Three presses on the front speed's right arrow, two on the middle speed's left arrow: the
# speeds saved at the logout (step 9) tell whether they counted and came back at the restart.
for _ in 1 2 3; do click_in "$PANEL" 136 23; sleep 0.2; done
for _ in 1 2; do click_in "$PANEL" 65 66; sleep 0.2; done
# The window manager's ways to close the panel change nothing: the speeds and the panel's place
# saved at the end of the day (steps 7 and 9) are still the user's.
panel_stays() { sleep 1 && [ "$(window_named '^設定パネル$')" = "$PANEL" ] || fail "$1 closed the panel"; }
click_close "$PANEL"
panel_stays "the title bar's close button"
xdotool windowactivate --sync "$PANEL" key alt+F4
panel_stays "Alt+F4"
note "Alt+F4 and the title bar's close button leave the panel on the screen"

# ---------------------------------------------------------------------------------------------
step "3. the sign folder, typed into the chooser"
xdotool windowactivate --sync "$PANEL"
click_in "$PANEL" 207 155
await_window CHOOSER '^画像の位置$' "the folder chooser"
click_in "$CHOOSER" 200 37
xdotool key ctrl+a
xdotool type --delay 10 "$SIGNS"
click_in "$CHOOSER" 321 66 # OK
wait_until 10 window_gone '^画像の位置$' || fail "the chooser did not close with OK"
window_gone '^ロルモ$' || fail "a message box for the right path"
note "the right path and OK closed the chooser"

# ---------------------------------------------------------------------------------------------
step "4. signs from the keypad and the arrow keys"
xdotool windowactivate --sync "$PANEL"
keypad 2 C 1 $SET
expect_sign "code 1" "$GREEN"
shot 4-keypad
keypad C
# The keypad does not move the keyboard's place in the list: it starts at the first picture.
xdotool windowactivate --sync "$BUS"
click_in "$BUS" $sign_x $sign_y
xdotool key Down
expect_sign "Down" "$GREEN"
xdotool key Up Up
expect_sign "Up to the top and once more" "$RED"
# Onto the second of two costly pictures: the worker of the older one is held meanwhile.
held_workers() { [ "$(ps -o stat= --ppid "$APP_PID" | grep -c '^T')" -eq "$1" ]; }
xdotool key Down Down Down
wait_until 3 held_workers 1 || fail "onto a second costly picture: $(ps -o stat=,args= --ppid "$APP_PID")"
# Past them and back: each newer sign shows without waiting for them, and none stays held.
xdotool key Down
wait_until 3 sign_shows "$BLUE" || fail "Down past costly pictures: the sign shows $(bus_pixel $sign_x $sign_y)"
wait_until 3 held_workers 0 || fail "a worker stayed held: $(ps -o stat=,args= --ppid "$APP_PID")"
xdotool key Up Up Up Up
wait_until 3 sign_shows "$RED" || fail "Up past costly pictures: the sign shows $(bus_pixel $sign_x $sign_y)"
note "Down and Up past costly pictures showed the next signs at once, the older one held meanwhile"
xdotool key Down Down Down Down Down
expect_sign "a 48-megapixel photo" "$GREY"
xdotool key Up Up Up Up Up

# ---------------------------------------------------------------------------------------------
step "5. the popup menu only on the bare bus; a signboard picture, dragged during a door movement"
no_menu_at $sign_x $sign_y
no_menu_at 60 100 # the front door
note "a right press on the sign box or a door opens no menu"
menu_pick 3
wait_until 10 windows_are 3 || fail "no file dialog"
DIALOG=$(comm -13 <(printf '%s\n' "$BUS" "$PANEL" | sort) \
    <(xdotool search --onlyvisible --class rorumo | sort) | head -n1)
wait_until 10 is_active "$DIALOG" || fail "the file dialog is not active"
wait_until 10 above "$DIALOG" "$PANEL" || fail "the file dialog opened under the panel"
shot 5-file-dialog
note "the file dialog \"$(xdotool getwindowname "$DIALOG")\" opened above the panel"
xdotool type --delay 10 "$X11_WORK/costly.emf"
xdotool key Return
wait_until 10 windows_are 2 || fail "the file dialog did not close"
# The picture chosen next shows without waiting for the costly one, and the settings keep it.
choose_board "$BOARD_PICTURE"
wait_until 3 bus_pixel_is 606 124 "$MAGENTA" || fail "the signboard does not show the picture"
board_place=(586 112)
board_look=$(digest_of "region 40 24 ${board_place[*]}")
# The frame fits the 40 x 24 picture: posts at x 581..585 and 626..630, the bar below.
bus_pixel_is 583 125 "$POST" || fail "no left post beside the signboard"
bus_pixel_is 628 125 "$POST" || fail "the right post did not follow the picture's width"
note "the signboard shows the picture, its frame fitted around it"

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
wait_until 10 equals "region 40 24 ${board_place[*]}" "$board_look" ||
    fail "the signboard is not at its new place"
bus_pixel_is 583 125 "$POST" || fail "the frame moved with the drag"
note "dragged to client 626,132 (made while the front door opened); the frame stayed"
# The drag was held back until the door had stopped: it is open now.
changes_from front_door "$front_closed" || fail "the open front door looks closed"
xdotool windowactivate --sync "$PANEL"
click_in "$PANEL" 30 30
wait_until 60 equals front_door "$front_closed" || fail "the front door did not close again"
note "the front door opened and closed again"
xdotool windowactivate --sync "$BUS"

shot 5-board

menu_pick 2
wait_until 10 eval '! bus_pixel_is 583 125 "$POST"' || fail "枠の表示 did not hide the frame"
bus_pixel_is 646 144 "$MAGENTA" || fail "hiding the frame hid the signboard"
note "枠の表示: the frame hidden for the night"

# ---------------------------------------------------------------------------------------------
step "6. the version window: above the panel, also raised, and back when minimised"
xdotool windowactivate --sync "$PANEL"
click_in "$PANEL" 98 155
await_window ABOUT '^ロルモのバージョン情報$' "the version window"
wait_until 10 above "$ABOUT" "$PANEL" || fail "the version window opened under the panel"
xdotool windowraise "$PANEL" sleep 0.3
above "$ABOUT" "$PANEL" || fail "raising the panel covered the version window"
xdotool windowminimize "$ABOUT"
wait_until 10 sh -c "xwininfo -id $ABOUT | grep -q IsViewable" || fail "the minimised version window stayed away"
above "$ABOUT" "$PANEL" || fail "the version window came back under the panel"
note "the version window stays above the panel, also raised, and comes back when minimised"
xdotool windowactivate --sync "$ABOUT" key Return
wait_until 10 window_gone '^ロルモのバージョン情報$' || fail "Enter did not close the version window"

# ---------------------------------------------------------------------------------------------
step "7. both windows moved, the bus closed"
move_windows() {
    xdotool windowmove "$BUS" "$1" "$2"
    xdotool windowmove "$PANEL" "$3" "$4"
    BUS_AT="$1 $2" PANEL_AT="$3 $4"
    wait_until 10 windows_at || fail "the windows did not move"
}
windows_at() { [ "$(frame_origin "$BUS")" = "$BUS_AT" ] && [ "$(frame_origin "$PANEL")" = "$PANEL_AT" ]; }
move_windows 100 300 600 600
# What the second start should show again: the bus, the sign aside.
sleep 0.5
bus_masked() {
    local x0 y0
    read -r x0 y0 < <(client_origin "$BUS")
    screenshot "$X11_WORK/masked.png"
    convert "$X11_WORK/masked.png" -crop "750x209+$x0+$y0" +repage \
        -fill black -draw "rectangle 440,26 492,58" -depth 8 rgb:- | md5sum | cut -d' ' -f1
}
bus_look=$(bus_masked)
shot 7-end-of-day
click_in "$BUS" $sign_x $sign_y
xdotool key Down Down
ends_promptly close_app
[ "$APP_STATUS" -eq 0 ] || fail "exit status $APP_STATUS"
line=$(cat "$APP_INI") || fail "no settings file $APP_INI"
[ "${line%$'\r'}" != "$line" ] && [ "$(wc -l <"$APP_INI")" -eq 1 ] ||
    fail "not one line ending in CR LF: $(cat -A "$APP_INI")"
# The places in twips, from the real frames: the bus, the panel, the dragged signboard.
places=$(cut -d, -f1-4,10-11 "$APP_INI")
[ "$places" = 1500,4500,9000,9000,9390,1980 ] || fail "places saved: $places"
grep -q "$BOARD_PICTURE" "$APP_INI" || fail "the settings do not keep the signboard picture chosen last"
note "one line: ${line%$'\r'}"

# ---------------------------------------------------------------------------------------------
step "8. the second start: everything restored"
start_app
shot 8-restart
wait_until 10 windows_at || fail "the windows are at $(frame_origin "$BUS") and $(frame_origin "$PANEL")"
xdotool windowactivate --sync "$BUS"
wait_until 10 above "$PANEL" "$BUS" || fail "the panel is not above the bus"
note "both windows where they were, the panel above"
expect_sign "the sign" "$RED"
bus_as_before() { [ "$(bus_masked)" = "$bus_look" ]; }
wait_until 10 bus_as_before || fail "the bus looks different from the end of the day"
note "the bus (its dragged signboard, the frame hidden) as at the end of the day, the sign on the first picture"

# ---------------------------------------------------------------------------------------------
step "9. a logout (SIGTERM) with the version window open"
move_windows 200 100 700 500
xdotool windowactivate --sync "$BUS"
click_in "$BUS" $sign_x $sign_y
xdotool key Down Down
xdotool windowactivate --sync "$PANEL"
for _ in 1 2; do click_in "$PANEL" 136 23; sleep 0.2; done
click_in "$PANEL" 65 66
click_in "$PANEL" 98 155
await_window ABOUT '^ロルモのバージョン情報$' "the version window"
logout() { kill -s TERM "$APP_PID" && wait_ended; }
ends_promptly logout
[ "$APP_STATUS" -eq 0 ] || fail "exit status $APP_STATUS at the logout"
saved() { cut -d, -f1-4,14-15 "$APP_INI"; }
[ "$(saved)" = 3000,1500,10500,7500,10005,5997 ] || fail "saved at the logout: $(saved)"
note "the logout (SIGTERM, the version window open) saved the new places and the speeds 10005 and 5997"

# ---------------------------------------------------------------------------------------------
step "10. a signboard chosen just before the end: kept, and there when the bus first shows"
DARK="60 60 60"
PHOTO="$X11_WORK/photo.jpg"
convert -size 5000x5000 "xc:rgb(${DARK// /,})" "$PHOTO"
start_app
choose_board "$PHOTO"
kill -s TERM "$APP_PID"
wait_ended
grep -q "$PHOTO" "$APP_INI" || fail "the end right after the choice lost it: $(cat "$APP_INI")"
note "SIGTERM right after the choice of a 5000 x 5000 photo: the settings keep it"
start_app
# Looked at as soon as the window is there: the stored photo came with it.
bus_pixel_is 700 180 "$DARK" || fail "the bus showed without its signboard: $(bus_pixel 700 180)"
note "the stored signboard photo was there when the bus first showed"
# Closed twice while a costly choice loads: the second close ends at once, without it.
choose_board "$X11_WORK/costly.emf"
close_twice() { click_close && sleep 0.3 && { click_close 2>/dev/null || :; } && wait_ended; }
ends_promptly close_twice
grep -q "$PHOTO" "$APP_INI" || fail "closed twice: $(cat "$APP_INI")"
note "closed twice while a costly signboard loaded: ended at once, the photo kept"

# ---------------------------------------------------------------------------------------------
step "11. a copy alone in its folder, killed; a picture worker beside it that cannot run"
# Copied alone, the program is its own picture worker; killed, it takes its workers along.
LONE="$X11_WORK/lone"
mkdir "$LONE"
cp "$APP" "$APP_INI" "$LONE/"
APP="$LONE/bus" APP_INI="$LONE/bus.ini"
start_app
expect_sign "a copy alone" "$RED"
workers=$(cat /proc/"$APP_PID"/task/*/children)
[ -n "$workers" ] || fail "no picture worker under the program"
kill -s KILL "$APP_PID"
wait "$APP_PID" 2>/dev/null || true
APP_PID=
workers_gone() { for w in $workers; do [ -d "/proc/$w" ] && return 1; done; return 0; }
wait_until 5 workers_gone || fail "picture workers $workers outlived the killed program"
note "a copy alone showed its sign; killed, its picture worker ended with it"
# A worker file beside it that cannot run: the program is its own worker all the same.
printf '#!/bin/sh\n' >"$LONE/rorumo-picture-worker"
start_app
expect_sign "the worker beside it not executable" "$RED"
xdotool windowactivate --sync "$BUS"
click_in "$BUS" $sign_x $sign_y
xdotool key Down
expect_sign "and Down" "$GREEN"
close_app
[ "$APP_STATUS" -eq 0 ] || fail "exit status $APP_STATUS"

# ---------------------------------------------------------------------------------------------
step "12. abrupt ends of a copy in a folder named in Latin-1"
# The next start: in a Wayland session whose compositor is gone (the program picks X itself,
# before Qt starts), from a copy in café, with Qt's own options, which change nothing (not on
# the offscreen platform, not titled or placed by Qt).
unset QT_QPA_PLATFORM
export WAYLAND_DISPLAY=rorumo-no-compositor XDG_SESSION_TYPE=wayland
CAFE="$X11_WORK/caf"$'\xe9'
mkdir "$CAFE"
cp "$APP" "$APP_INI" "$APP_DIR/rorumo-picture-worker" "$CAFE/"
APP="$CAFE/bus" APP_INI="$CAFE/bus.ini"
start_app -platform offscreen -qwindowtitle Wrong -qwindowgeometry 300x200+400+400
grep -q libqwayland "/proc/$APP_PID/maps" && fail "the program tried the Wayland platform first"
wait_until 10 windows_at || fail "the next start put the windows elsewhere"
expect_sign "from café, its picture worker beside it" "$RED"
note "the next start, from café on X in a Wayland session: its caption, both windows in place"
# Moves both windows, waits until the program has seen it, and gives what is then to be saved.
moved() {
    move_windows "$@"
    sleep 0.5
    echo "$(($1 * 15)),$(($2 * 15)),$(($3 * 15)),$(($4 * 15)),10005,5997"
}
close_app

# A closed terminal: started from an interactive shell on a pseudo-terminal. Its window closed,
# the terminal hangs up the program, then the shell, and lets go of the pseudo-terminal; the
# shell passes the hang-up on and the kernel sends its own, all within a few milliseconds. The
# shell's job tells the program's id and how it ended.
cat >"$X11_WORK/job.pl" <<'END'
$SIG{HUP} = sub {};
my $pid = fork() // die;
exec($ENV{APP}) or die if !$pid;
open(my $out, '>', "$ENV{JOB}.pid") or die;
print $out "$pid\n";
close($out);
waitpid($pid, 0);
open($out, '>>', "$ENV{JOB}.pid") and print $out "$?\n";
END
APP="$APP" JOB="$X11_WORK/job" python3 -c '
import os, pty, select, signal, time
closing = []
signal.signal(signal.SIGUSR1, lambda *_: closing.append(1))
pid, terminal = pty.fork()
if pid == 0:
    os.execvp("bash", ["bash", "--norc", "--noprofile", "-i"])
os.write(terminal, b"perl \"$JOB.pl\"\n")
while not closing:
    try:
        if select.select([terminal], [], [], 0.1)[0]:
            os.read(terminal, 4096)
    except OSError:
        pass
os.killpg(os.tcgetpgrp(terminal), signal.SIGHUP)
time.sleep(0.002)
os.kill(pid, signal.SIGHUP)
os.close(terminal)
os.waitpid(pid, 0)
' >"$X11_WORK/app.log" 2>&1 &
TERMINAL_PID=$!
job_lines() { [ "$(wc -l <"$X11_WORK/job.pid" 2>/dev/null)" = "$1" ]; }
wait_until 30 job_lines 1 || fail "the shell on the terminal did not start the program"
APP_PID=$(head -n1 "$X11_WORK/job.pid")
await_app
want=$(moved 200 50 700 300)
kill -s USR1 "$TERMINAL_PID"
wait_until 30 job_lines 2 || fail "the program outlived its terminal"
APP_PID=
wait "$TERMINAL_PID"
ended=$(tail -n1 "$X11_WORK/job.pid")
[ "$ended" = 0 ] || fail "wait status $ended after a closed terminal"
[ "$(saved)" = "$want" ] || fail "a closed terminal saved $(saved)"
note "a closed terminal: saved, ended by itself"

# The X server gone (a logout from a bare X session): Qt's X11 plugin ends the program, which
# writes the line a close would have written at that moment.
start_app
want=$(cut -d, -f1-4 < <(moved 300 200 600 400)),$(cut -d, -f5- "$APP_INI")
kill "$X11_SERVER_PID"
wait_ended
[ "$(cat "$APP_INI")" = "$want" ] || fail "with the X server gone: $(cat -A "$APP_INI"), not $want"
note "the X server gone: the settings line saved"
rm -rf "$SHOTS"
note "ok"
