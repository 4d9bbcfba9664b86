#!/bin/sh
# Re-makes every bitmap and the door sound from the sources in src/.
#   sh resources/render.sh        (from anywhere)
# Needs rsvg-convert (librsvg2-bin), ImageMagick's convert, python3 and the
# IPAGothic font (fonts-ipafont-gothic).  The build itself only uses the
# generated files, which are committed.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
src="$here/src"
img="$here/images"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$img" "$here/sound"

# Fixed PNG output: no timestamps, so re-rendering gives identical files.
PNG_OPTS="-strip -define png:exclude-chunks=date,time"

# rgb NAME W H [SVG [KIND]]: 24-bit RGB (no alpha) at 1x and 2x; KIND as for raw (2 unless given).
rgb() {
    name=$1; w=$2; h=$3; svg=${4:-$1}
    for s in 1 2; do
        suffix=""; [ "$s" = 2 ] && suffix="@2x"
        rsvg-convert -w $((w * s)) -h $((h * s)) "$src/$svg.svg" -o "$tmp/$name.png"
        convert "$tmp/$name.png" -background white -alpha remove -alpha off \
            $PNG_OPTS -type TrueColor -define png:color-type=2 \
            "PNG24:$img/$name$suffix.png"
    done
    raw "$name" "$w" "$h" "${5:-2}"
}

# raw NAME W H KIND: the 1x picture as raw pixels, which the program uses in place: nothing to
# decode at start-up. A 16-byte header ("RIMG", width, height, KIND; little-endian) comes first.
# KIND 0: opaque, 32-bit 0xffRRGGBB values, little-endian; 1: the same with transparency; 2:
# opaque, bytes R, G, B, each row padded to a multiple of 4 bytes (a quarter less memory than
# 32 bits for pictures drawn at their own size; a stretched one keeps 0, which Qt scales fastest).
raw() {
    if [ "$4" = 2 ]; then
        convert "$img/$1.png" -depth 8 "RGB:$tmp/$1.pixels"
    else
        convert "$img/$1.png" -depth 8 "BGRA:$tmp/$1.pixels"
    fi
    python3 -c '
import struct, sys
w, h, kind = map(int, sys.argv[1:4])
pixels = open(sys.argv[4], "rb").read()
if kind == 2:
    row = w * 3
    pad = b"\0" * (-row % 4)
    pixels = b"".join(pixels[y * row:(y + 1) * row] + pad for y in range(h))
sys.stdout.buffer.write(b"RIMG" + struct.pack("<III", w, h, kind) + pixels)' \
        "$2" "$3" "$4" "$tmp/$1.pixels" >"$img/$1.raw"
}

# rgba NAME SIZE SVG: square icon with transparency.
rgba() {
    name=$1; size=$2; svg=$3
    rsvg-convert -w "$size" -h "$size" "$src/$svg.svg" -o "$tmp/$name.png"
    convert "$tmp/$name.png" $PNG_OPTS -define png:color-type=6 "PNG32:$img/$name.png"
}

rgb bus                  753 210
rgb door_front            69 143 door_front 0
rgb door_middle_leaf      76 141
rgb door_middle_opening   76 142
rgb panel_hidden          42 137
rgb toggle_front          50  20
rgb toggle_middle         50  20

rgba icon      32 icon
raw icon 32 32 1
rgba icon@2x   64 icon
rgba icon_256 256 icon

python3 "$here/make_door_sound.py" "$here/sound/door.wav"

echo "done: $(ls "$img" | wc -l) images, sound/door.wav"
