#!/bin/sh
# Installs the Debian packages a task needs, only those missing.
# Usage: packages.sh run|test|bench|corpus
set -eu

run_packages="cmake g++ ninja-build qt6-base-dev libasound2-dev libseccomp-dev fonts-ipafont-gothic qt6-translations-l10n fonts-wine
    fonts-liberation2 fonts-crosextra-carlito fonts-crosextra-caladea"
test_packages="$run_packages python3 xvfb xauth openbox xdotool x11-utils imagemagick clang libclang-rt-14-dev alsa-utils desktop-file-utils appstream dpkg-dev g++-mingw-w64-x86-64 qt6-wayland lintian"

bench_packages="$run_packages xvfb xauth libx11-dev libemf2svg-dev qt6-svg-dev imagemagick"
# bench/metafile/corpus.sh: LibreOffice's and GDI's (through Wine) drawings to hold ours against,
# and the sheets.
corpus_packages="$run_packages git ccache libreoffice-draw-nogui imagemagick unzip fonts-dejavu-core wine wine64
    g++-mingw-w64-x86-64"

case "${1:-run}" in
run) wanted=$run_packages ;;
test) wanted=$test_packages ;;
bench) wanted=$bench_packages ;;
corpus) wanted=$corpus_packages ;;
*) echo "usage: $0 run|test|bench|corpus" >&2; exit 2 ;;
esac

missing=""
for package in $wanted; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing="$missing $package"
done
[ -z "$missing" ] && exit 0

# Root installs directly; anyone else through sudo.
if [ "$(id -u)" -eq 0 ]; then as_root=""; else as_root="sudo"; fi
echo "Installing:$missing"
$as_root apt-get update -qq
DEBIAN_FRONTEND=noninteractive $as_root apt-get install -y -qq --no-install-recommends $missing
