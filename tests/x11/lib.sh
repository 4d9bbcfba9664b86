# Helpers for the scripts that drive the real program on the X server that run-x11.sh started.
# Expects RORUMO_BIN (the built executable; libVLM3Res.so lies beside it).
set -eu

fail() {
    echo "FAIL: $*" >&2
    if [ -s "$X11_WORK/app.log" ]; then
        echo "--- the program's output:" >&2
        tail -n 40 "$X11_WORK/app.log" >&2
    fi
    exit 1
}

note() { echo "# $*"; }

X11_TESTS=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
X11_WORK=$(mktemp -d "${TMPDIR:-/tmp}/rorumo-test.XXXXXX")
APP_PID=
x11_cleanup() {
    if [ -n "$APP_PID" ] && kill -0 "$APP_PID" 2>/dev/null; then
        kill "$APP_PID" 2>/dev/null || true
        wait "$APP_PID" 2>/dev/null || true
    fi
    rm -rf "$X11_WORK"
}
trap x11_cleanup EXIT

# Waits up to $1 seconds for the command after it to succeed.
wait_until() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

# Prints the first visible window whose title matches $2, waiting up to $1 seconds. xdotool gives
# up on the whole search when a window (a closing menu, say) goes away while it looks: try again.
find_window() {
    local deadline=$((SECONDS + $1)) found
    until found=$(xdotool search --onlyvisible --name "$2" 2>/dev/null | head -n1) && [ -n "$found" ]; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
    echo "$found"
}

# Copies the program into a fresh folder under the name $1 (it keeps its settings beside itself),
# with an optional settings line $2, and sets APP, APP_DIR and APP_INI.
install_app() {
    APP_DIR="$X11_WORK/app"
    mkdir -p "$APP_DIR"
    APP="$APP_DIR/$1"
    APP_INI="$APP_DIR/$1.ini"
    cp "$RORUMO_BIN" "$APP"
    cp "$(dirname "$RORUMO_BIN")/libVLM3Res.so" "$APP_DIR/"
    if [ $# -ge 2 ]; then
        printf '%s\r\n' "$2" >"$APP_INI"
    fi
    # The door sound goes to a file through ALSA's own plugin: no sound card needed.
    printf 'pcm.!default { type file; slave.pcm "null"; file "%s"; format "raw" }\npcm.null { type null }\n' \
        "$X11_WORK/sound.raw" >"$X11_WORK/asound.conf"
}

# Starts the program (with the arguments given, if any) and waits for its two windows: BUS and
# PANEL hold their ids.
start_app() {
    # Under the sanitizers, leave out what system libraries keep for the process's life. A
    # script's background job ignores Ctrl+C; the program gets it back, as from a terminal.
    LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$X11_TESTS/../lsan.supp}" \
        ALSA_CONFIG_PATH="$X11_WORK/asound.conf" \
        perl -e '$SIG{INT} = "DEFAULT"; exec @ARGV or die "$ARGV[0]: $!\n"' "$APP" "$@" \
        >"$X11_WORK/app.log" 2>&1 &
    APP_PID=$!
    # A loaded machine can take its time: wait generously, and say what the screen held if not.
    PANEL=$(find_window 60 '^設定パネル$') || fail "the panel did not appear; windows: $(xwininfo -root -tree | grep -c '"')"
    BUS=$(find_window 60 '^ロルモ　-　') || fail "the bus window did not appear"
    wait_until 10 framed "$BUS" || fail "the bus window was not framed"
    wait_until 10 framed "$PANEL" || fail "the panel was not framed"
}

framed() { xprop -id "$1" _NET_FRAME_EXTENTS | grep -q '='; }

# Closes the bus window with the close button on openbox's title bar (a key such as Alt+F4 would
# reach the sign keys first), waits for the program to end and sets APP_STATUS.
close_app() {
    local x y w h l r t b
    read -r x y < <(client_origin "$BUS")
    read -r w h < <(client_size "$BUS")
    read -r l r t b < <(frame_extents "$BUS")
    # The default theme puts the close button last, about 10 px in from the frame's right edge.
    xdotool mousemove $((x + w + r - 10)) $((y - t / 2)) click 1
    wait_ended
}

# Ends the program with the signal $1 (TERM, HUP, INT), as the session does, and waits for it.
end_app_by() {
    kill -s "$1" "$APP_PID"
    wait_ended
}

# Waits for the program to end and sets APP_STATUS.
wait_ended() {
    local tries=300
    while kill -0 "$APP_PID" 2>/dev/null; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || fail "the program did not end"
        sleep 0.1
    done
    APP_STATUS=0
    wait "$APP_PID" || APP_STATUS=$?
    APP_PID=
}

# "x y" of a window's client area on the screen.
client_origin() {
    xwininfo -id "$1" | awk '/Absolute upper-left X/ {x = $NF} /Absolute upper-left Y/ {y = $NF}
        END {print x, y}'
}

# "width height" of a window's client area.
client_size() {
    xwininfo -id "$1" | awk '/^ *Width:/ {w = $NF} /^ *Height:/ {h = $NF} END {print w, h}'
}

# "left right top bottom" of the frame the window manager put around a window.
frame_extents() {
    xprop -id "$1" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g'
}

# A screenshot of the whole screen into the file $1.
screenshot() { import -window root "$1"; }

# A digest of the region W H X Y (screen pixels) of the screenshot $1.
region_digest() {
    convert "$1" -crop "${2}x${3}+${4}+${5}" +repage -depth 8 rgb:- | md5sum | cut -d' ' -f1
}

# The digest of a region of the screen as it is now.
screen_digest() {
    local shot="$X11_WORK/now.png"
    screenshot "$shot"
    region_digest "$shot" "$@"
}

# "r g b" of the screen pixel X Y in the screenshot $1.
pixel() {
    convert "$1" -crop "1x1+${2}+${3}" +repage -depth 8 rgb:- | od -An -tu1 | xargs
}

# Screen coordinates of the client pixel X Y of window $1, and a click there.
at() {
    local x0 y0
    read -r x0 y0 < <(client_origin "$1")
    echo $((x0 + $2)) $((y0 + $3))
}
click_in() {
    local x y
    read -r x y < <(at "$1" "$2" "$3")
    xdotool mousemove "$x" "$y" click 1
}

# Moves the pointer to the client pixel X Y of the window $1. (Not --sync: that never returns
# when the pointer is there already.)
pointer_to() {
    local x0 y0
    read -r x0 y0 < <(client_origin "$1")
    xdotool mousemove $((x0 + $2)) $((y0 + $3))
}
pointer_to_bus() { pointer_to "$BUS" "$@"; }

# The number of visible windows of the program (its menus included).
visible_windows() {
    xdotool search --onlyvisible --class rorumo 2>/dev/null | wc -l
}
