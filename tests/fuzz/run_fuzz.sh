#!/bin/sh
# Runs a built libFuzzer target for a bounded time; exits non-zero when it finds a crash,
# a leak, a sanitizer report or a timeout.
#   run_fuzz.sh BINARY SECONDS [CORPUS_DIR]
set -eu

if [ $# -lt 2 ] || [ $# -gt 3 ]; then
    echo "usage: $0 BINARY SECONDS [CORPUS_DIR]" >&2
    exit 2
fi
binary=$1
seconds=$2
case $seconds in
    '' | *[!0-9]*) echo "$0: SECONDS must be a whole number" >&2; exit 2 ;;
esac
if [ ! -x "$binary" ]; then
    echo "$0: $binary is not an executable" >&2
    exit 2
fi

workdir=$(mktemp -d "${TMPDIR:-/tmp}/fuzz.XXXXXX")
trap 'rm -rf "$workdir"' EXIT INT TERM
corpus=${3:-$workdir/corpus}
mkdir -p "$corpus"

# Seed with a record as the program writes it, so mutations start from the real format.
printf '0,0,0,3600,"","",0,0,"",8790,1680,#TRUE#,#TRUE#,10000,6000,0\r\n' > "$corpus/seed-first-start"
printf -- '-15,12.5,0,3600,"C:\\Signs\\Set A\\","a ""b"", c",1,-2,"",8790.25,1680,#FALSE#,1,65535,6000,-32768\r\n' \
    > "$corpus/seed-windows"

# -max_total_time bounds the run; the outer timeout catches a fuzzer that stops responding.
set +e
timeout --kill-after=10 $((seconds + 60)) "$binary" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
    -artifact_prefix="$workdir/" -print_final_stats=1 "$corpus"
status=$?
set -e

if [ $status -ne 0 ]; then
    echo "$0: fuzzer failed with status $status" >&2
    for artifact in "$workdir"/crash-* "$workdir"/leak-* "$workdir"/timeout-* "$workdir"/oom-*; do
        [ -e "$artifact" ] || continue
        echo "--- $artifact (base64):" >&2
        base64 "$artifact" >&2
    done
    exit 1
fi
