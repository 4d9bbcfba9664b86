#!/bin/sh
# Runs an already built metafile fuzzer for a while with the fixtures and seeds/ (small files
# of the records real-world pictures use: raster operations, symbol fonts, EMF+) as corpus.
# Usage: run_fuzz.sh FUZZER_BINARY [SECONDS]   (default 30 seconds)
# A unit slower than a second fails the run: every picture is held to the player's work
# budget. Leak checks are off, during the run and at its end: Qt's font database keeps fontconfig
# patterns for the life of the process, which LeakSanitizer reports as leaks.
set -eu
fuzzer=$1
seconds=${2:-30}
here=$(cd "$(dirname "$0")" && pwd)
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cp "$here"/fixtures/*.wmf "$here"/fixtures/*.emf "$here"/seeds/* "$corpus"/
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" QT_QPA_PLATFORM=offscreen "$fuzzer" -max_total_time="$seconds" -max_len=65536 -timeout=1 \
    -rss_limit_mb=2048 -report_slow_units=1 -detect_leaks=0 -print_final_stats=1 "$corpus"
