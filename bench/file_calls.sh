#!/bin/bash
# Counts the file-system calls (strace's %file class: open, stat, access, readlink, rename...) of
# each program given while its bus window is moved 30 times and its signboard dragged 30 steps.
# Run on a private X server:
#   tests/x11/run-x11.sh bench/file_calls.sh build/rorumo [other-build/rorumo ...]
set -eu
work=$(mktemp -d "${TMPDIR:-/tmp}/rorumo-calls.XXXXXX")
pid=
trap '[ -z "$pid" ] || kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT

origin() {
    xwininfo -id "$1" | awk '/Absolute upper-left X/ {x = $NF} /Absolute upper-left Y/ {y = $NF}
        END {print x, y}'
}
# Runs the command after the first argument with the program traced; prints the calls counted.
traced() {
    local out=$work/$1.txt tracer
    shift
    strace -f -p "$pid" -e trace=%file -o "$out" &
    tracer=$!
    sleep 1 # attached to every thread
    "$@"
    sleep 1 # the last events handled
    kill -INT "$tracer"
    wait "$tracer" 2>/dev/null || true
    grep -v -e '^[0-9]* *+++' -e '^[0-9]* *---' -e 'resumed>' "$out" | grep -c . || true
}
moves() {
    local i
    for i in $(seq 1 30); do
        xdotool windowmove "$bus" $((100 + 5 * i)) 100
        sleep 0.05
    done
}
drag() {
    local x y i
    read -r x y < <(origin "$bus")
    # The signboard's first place, 586,112 in the window, 94 x 30 pixels.
    xdotool mousemove $((x + 600)) $((y + 120)) mousedown 1
    for i in $(seq 1 30); do
        xdotool mousemove $((x + 600 + i)) $((y + 120 + i / 3))
        sleep 0.03
    done
    xdotool mouseup 1
}

for program in "$@"; do
    rm -rf "$work/app"
    mkdir "$work/app"
    cp "$program" "$work/app/bus"
    cp "$(dirname "$program")/rorumo-picture-worker" "$work/app/" 2>/dev/null || true
    "$work/app/bus" >"$work/app.log" 2>&1 &
    pid=$!
    bus=$(timeout 60 xdotool search --sync --onlyvisible --name '^ロルモ　-　bus$' | head -n1)
    timeout 60 xdotool search --sync --onlyvisible --name '^設定パネル$' >/dev/null
    sleep 1
    printf '%s: 30 moves of the bus window: %s calls; a drag of the signboard: %s calls\n' \
        "$program" "$(traced moves moves)" "$(traced drag drag)"
    sed -n 's/^[0-9]* *\([a-z0-9_]*\)(.*/\1/p' "$work/moves.txt" "$work/drag.txt" | sort |
        uniq -c | sed 's/^/    /'
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    pid=
done
