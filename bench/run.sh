#!/bin/sh
# Measures what the program costs and prints the README's "What it costs" section.
#   sh bench/run.sh                 print the section
#   sh bench/run.sh --update-readme also write it into README.md
# Builds what it needs in build/ (RelWithDebInfo), runs everything on its own Xvfb.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
build=$root/build
runs=${BENCH_RUNS:-11}
sh scripts/packages.sh bench

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target rorumo VLM3Res rorumo-picture-worker minimal_window bench_start \
    bench_doors bench_sign bench_pictures bench_metafile >/dev/null
# The comparison with libemf2svg is built where libemf2svg-dev and qt6-svg-dev are installed.
cmake --build "$build" --target bench_emf2svg >/dev/null 2>&1 || true

work=$(mktemp -d)
xvfb_pid=""
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# An X server of our own, without a window manager, so nothing else decides when windows map.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 300); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
# No sound card is needed: the door sound goes to ALSA's null device.
printf 'pcm.!default { type null }\n' >"$work/asound.conf"
export ALSA_CONFIG_PATH="$work/asound.conf"

mkdir -p "$work/app"
cp "$build/rorumo" "$build/libVLM3Res.so" "$build/rorumo-picture-worker" "$work/app/"

median() { sort -n | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }

# Start-up, interleaved so both programs see the same machine.
: >"$work/start-bus"
: >"$work/start-min"
for _ in $(seq "$runs"); do
    rm -f "$work/app/rorumo.ini"
    "$build/bench/bench_start" 1 'ロルモ' "$work/app/rorumo" >>"$work/start-bus"
    "$build/bench/bench_start" 1 minimal "$build/bench/minimal_window" >>"$work/start-min"
done
field() { sed -n "s/.*$1 \([0-9.]*\).*/\1/p" "$2" | median; }
bus_ms=$(field painted "$work/start-bus")
min_ms=$(field painted "$work/start-min")
bus_rss=$(field 'peak RSS' "$work/start-bus")
min_rss=$(field 'peak RSS' "$work/start-min")
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# Idle: both windows shown, nothing happening, for ten seconds.
rm -f "$work/app/rorumo.ini"
"$work/app/rorumo" >/dev/null 2>&1 &
bus_pid=$!
sleep 3
ticks() { awk '{print $14 + $15}' "/proc/$bus_pid/stat"; }
idle_before=$(ticks)
sleep 10
idle_after=$(ticks)
kill "$bus_pid"
wait "$bus_pid" 2>/dev/null || true
idle_ticks=$((idle_after - idle_before))

doors=$("$build/bench/bench_doors" 1 2>/dev/null)
sign=$(cd "$build/bench" && ./bench_sign 2>/dev/null)
metafiles=$("$build/bench/metafile/bench_metafile" 2>/dev/null)
costly=$("$build/bench/bench_pictures" 2>/dev/null)
emf2svg="(not measured: install libemf2svg-dev and qt6-svg-dev)"
if [ -x "$build/bench/metafile/bench_emf2svg" ]; then
    emf2svg=$("$build/bench/metafile/bench_emf2svg" 2>/dev/null)
fi

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
memory=$(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)

section=$(cat <<SECTION
## What it costs

Measured with \`sh bench/run.sh\` on $(date -u +%Y-%m-%d), on $cpu ($(nproc) cores, $memory),
Debian $(cat /etc/debian_version), Qt $(qtpaths6 --qt-version 2>/dev/null || echo 6),
on Xvfb. The reference is a minimal Qt Widgets window of the bus window's size, built the
same way and measured in the same run; medians of $runs interleaved runs.

| what | ロルモ | reference | ratio |
|---|---|---|---|
| start: exec to the bus window mapped and painted | $bus_ms ms | $min_ms ms | $(ratio "$bus_ms" "$min_ms") |
| peak resident memory | $bus_rss KiB | $min_rss KiB | $(ratio "$bus_rss" "$min_rss") |
| idle: CPU ticks in 10 s, both windows shown | $idle_ticks | | |

The reference draws no text. Most of the memory difference is the panel's Japanese captions:
the IPA font's pages, FreeType and Qt's text code. The captions are drawn without OpenType shaping
and without hinting (Japanese needs neither; FreeType's auto-hinter would read sample glyphs from
all over the font), and ALSA is loaded at the first door sound. The panel is drawn right after
the bus, so its fonts do not delay the bus's first picture.

Door movements (the front door; nominal = steps x speed x 0.1 µs):

\`\`\`
$doors
\`\`\`

A sign folder of 10,000 pictures, and a sign on the keypad's 設定:

\`\`\`
$sign
\`\`\`

Small pictures that cost a lot to draw, each loaded once: before, in the program with the
4-second deadline, as the loading thread did; after, through the picture worker (the program's
own peak and the worker's; the program ends a worker at the deadline):

\`\`\`
$costly
\`\`\`

WMF and EMF decoding (median of repeated decodes, each file in its own process):

\`\`\`
$metafiles
\`\`\`

The same EMF files through libemf2svg and QtSvg, into an image of the same size (ratio below 1:
the player is faster; "SVG rejected": QtSvg could not read what libemf2svg wrote):

\`\`\`
$emf2svg
\`\`\`
SECTION
)

printf '%s\n' "$section"
if [ "${1:-}" = "--update-readme" ]; then
    printf '%s\n' "$section" >"$work/section.md"
    awk -v file="$work/section.md" '
        /^## What it costs/ { while ((getline line < file) > 0) print line; skip = 1; next }
        skip && /^## / { skip = 0 }
        !skip { print }
    ' README.md >"$work/README.md"
    grep -q '^## What it costs' README.md || cat "$work/section.md" >>"$work/README.md"
    cp "$work/README.md" README.md
fi
