#!/bin/sh
# Renders the program's icon for the desktop's hicolor theme from src/icon.svg into
# icons/hicolor/<size>x<size>/apps/ and copies the SVG to icons/hicolor/scalable/apps/.
#   sh resources/render_icons.sh        (from anywhere)
# Needs rsvg-convert (librsvg2-bin) and ImageMagick's convert. The build installs the committed
# files and needs neither.
set -eu

id=io.github.rorumo.Rorumo
here=$(cd "$(dirname "$0")" && pwd)
out="$here/icons/hicolor"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Fixed PNG output: no timestamps, so re-rendering gives identical files.
for size in 16 22 24 32 48 64 128 256; do
    dir="$out/${size}x${size}/apps"
    mkdir -p "$dir"
    rsvg-convert -w "$size" -h "$size" "$here/src/icon.svg" -o "$tmp/icon.png"
    convert "$tmp/icon.png" -strip -define png:exclude-chunks=date,time \
        -define png:color-type=6 "PNG32:$dir/$id.png"
done
mkdir -p "$out/scalable/apps"
cp "$here/src/icon.svg" "$out/scalable/apps/$id.svg"

echo "done: $(find "$out" -type f | wc -l) icon files"
