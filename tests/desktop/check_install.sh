#!/bin/sh
# Installs the build into a scratch DESTDIR and checks the installed tree:
#   check_install.sh BUILD_DIR BINDIR PRIVATE_LIBDIR DATADIR DOCDIR APP_ID
# (the folders as absolute install paths). Needs DESKTOP_FILE_VALIDATE and APPSTREAMCLI.
set -eu
build=$1 bindir=$2 libdir=$3 datadir=$4 docdir=$5 id=$6

root=$(mktemp -d "${TMPDIR:-/tmp}/rorumo-install.XXXXXX")
trap 'rm -rf "$root"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
need() { [ -e "$root$1" ] || fail "not installed: $1"; }

log=$(DESTDIR=$root cmake --install "$build" 2>&1) ||
    { printf '%s\nFAIL: cmake --install\n' "$log" >&2; exit 1; }

[ -x "$root$bindir/rorumo" ] || fail "no executable $bindir/rorumo"
[ -x "$root$libdir/rorumo-picture-worker" ] || fail "no picture worker $libdir/rorumo-picture-worker"
# The maker's library lies only in the private folder: beside the executable it would make the
# program take its folder for a copied one and keep its settings there.
[ ! -e "$root$bindir/libVLM3Res.so" ] || fail "the maker's library is beside the executable"
find "$root" -name 'libVLM3Res.so*' | grep -qv "^$root$libdir/" &&
    fail "the maker's library is installed outside $libdir"

desktop=$datadir/applications/$id.desktop
metainfo=$datadir/metainfo/$id.metainfo.xml
for file in "$libdir/libVLM3Res.so" "$datadir/man/man1/rorumo.1.gz" "$desktop" "$metainfo" \
    "$datadir/icons/hicolor/scalable/apps/$id.svg"; do need "$file"; done
for doc in README.md LICENSE copyright changelog.gz; do need "$docdir/$doc"; done
for size in 16 22 24 32 48 64 128 256; do
    need "$datadir/icons/hicolor/${size}x$size/apps/$id.png"
done

if [ -e "$root$desktop" ]; then
    "$DESKTOP_FILE_VALIDATE" "$root$desktop" || fail "desktop-file-validate $desktop"
    grep -qx "Exec=rorumo" "$root$desktop" || fail "the menu does not start rorumo"
    grep -qx "Icon=$id" "$root$desktop" || fail "the menu entry's icon is not $id"
    grep -q '^Name\[ja\]=' "$root$desktop" || fail "no Japanese name in the menu entry"
fi
if [ -e "$root$metainfo" ]; then
    "$APPSTREAMCLI" validate --no-net "$root$metainfo" || fail "appstreamcli validate $metainfo"
    grep -q "<id>$id</id>" "$root$metainfo" || fail "the metainfo's id is not $id"
    grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$root$metainfo" ||
        fail "the metainfo does not launch $id.desktop"
fi

# Nothing lands outside the install prefix's folders, and no settings file comes along.
find "$root" -name '*.ini' | grep -q . && fail "a settings file was installed"

[ "$failures" -eq 0 ] || exit 1
echo "installed tree complete; desktop file and metainfo valid"
