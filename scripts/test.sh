#!/bin/sh
# Installs what is missing, builds everything and runs every test: the normal build, a build with
# AddressSanitizer and UndefinedBehaviorSanitizer (without the package build, which the first run
# already checked), and short fuzzing runs.
set -eu
cd "$(dirname "$0")/.."
sh scripts/packages.sh test
jobs=$(nproc)

echo "== build and test"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRORUMO_WERROR=ON >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRORUMO_SANITIZE=ON \
    -DRORUMO_BUILD_BENCH=OFF -DRORUMO_WERROR=ON >/dev/null
cmake --build build-sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
LSAN_OPTIONS=suppressions=$(pwd)/tests/lsan.supp:print_suppressions=0 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-sanitize --output-on-failure -j "$jobs" -E debian_package

echo "== short fuzzing runs"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DRORUMO_FUZZ=ON -DRORUMO_BUILD_TESTS=ON -DRORUMO_BUILD_BENCH=OFF >/dev/null
for fuzzer in fuzz_settings_reader fuzz_picture_answer fuzz_metafile; do
    if cmake --build build-fuzz --target help | grep -q "^$fuzzer:"; then
        cmake --build build-fuzz --target "$fuzzer" -j "$jobs"
    fi
done
[ -x build-fuzz/tests/fuzz/fuzz_settings_reader ] &&
    sh tests/fuzz/run_fuzz.sh build-fuzz/tests/fuzz/fuzz_settings_reader 20 4096 tests/fuzz/seeds/*
[ -x build-fuzz/tests/fuzz/fuzz_picture_answer ] &&
    sh tests/fuzz/run_fuzz.sh build-fuzz/tests/fuzz/fuzz_picture_answer 20 4096 tests/fuzz/answers/*
# The metafiles start from the fixtures and seeds/ (small files of the records real-world pictures
# use: raster operations, symbol fonts, EMF+). No leak checks: Qt's font database keeps fontconfig
# patterns for the life of the process, which LeakSanitizer reports as leaks.
[ -x build-fuzz/tests/metafile/fuzz_metafile ] && ASAN_OPTIONS=detect_leaks=0 \
    sh tests/fuzz/run_fuzz.sh build-fuzz/tests/metafile/fuzz_metafile 30 65536 \
    tests/metafile/fixtures/*.wmf tests/metafile/fixtures/*.emf tests/metafile/seeds/*
echo "All tests passed."
