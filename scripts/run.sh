#!/bin/sh
# Installs what is missing, builds the program and starts it.
set -eu
cd "$(dirname "$0")/.."
sh scripts/packages.sh run
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRORUMO_BUILD_TESTS=OFF \
    -DRORUMO_BUILD_BENCH=OFF >/dev/null
cmake --build build --target rorumo VLM3Res
exec ./build/rorumo
