#!/bin/sh
# Builds the Debian package as the README says and has lintian check it at its default level:
#   check_package.sh SOURCE_DIR PACKAGE_BUILD_DIR
# The package's build folder is kept, so a second run only builds what changed.
# Exits 77 (skipped) when lintian, dpkg-shlibdeps or cpack is missing.
set -eu
source=$1 build=$2
for tool in lintian dpkg-shlibdeps cpack; do
    command -v "$tool" >/dev/null 2>&1 ||
        { echo "SKIP: $tool is not installed (apt-get install lintian dpkg-dev cmake)"; exit 77; }
done

log=$build.log
{
    cmake -S "$source" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_INSTALL_PREFIX=/usr -DRORUMO_BUILD_TESTS=OFF -DRORUMO_BUILD_BENCH=OFF &&
        cmake --build "$build" && rm -f "$build"/*.deb && (cd "$build" && cpack -G DEB)
} >"$log" 2>&1 || { cat "$log" >&2; echo "FAIL: the package did not build" >&2; exit 1; }
deb=$(ls "$build"/rorumo_*.deb)

# Errors and warnings fail; lintian's informational tags do not.
lintian --fail-on error,warning "$deb" || { echo "FAIL: lintian reports on $deb" >&2; exit 1; }
echo "lintian finds nothing wrong with $(basename "$deb")"
