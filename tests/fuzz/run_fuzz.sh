#!/bin/sh
# Runs a built libFuzzer target for a bounded time, seeded with records as the program and the
# Windows program write them; fails on a crash, a leak, a sanitizer report or a timeout, and
# shows the input that caused it.
#   run_fuzz.sh BINARY SECONDS [CORPUS_DIR]
set -eu
workdir=$(mktemp -d "${TMPDIR:-/tmp}/fuzz.XXXXXX")
trap 'rm -rf "$workdir"' EXIT INT TERM
corpus=${3:-$workdir/corpus}
mkdir -p "$corpus"
printf '0,0,0,3600,"","",0,0,"",8790,1680,#TRUE#,#TRUE#,10000,6000,0\r\n' > "$corpus/seed-first-start"
printf -- '-15,12.5,0,3600,"C:\\Signs\\Set A\\","a ""b"", c",1,-2,"",8790.25,1680,#FALSE#,1,65535,6000,-32768\r\n' \
    > "$corpus/seed-windows"
# -max_total_time bounds the run; the outer timeout catches a fuzzer that stops responding.
timeout --kill-after=10 $(($2 + 60)) "$1" -max_total_time="$2" -timeout=10 -rss_limit_mb=2048 \
    -max_len=4096 -artifact_prefix="$workdir/" -print_final_stats=1 "$corpus" && exit 0
for artifact in "$workdir"/crash-* "$workdir"/leak-* "$workdir"/timeout-* "$workdir"/oom-*; do
    [ -e "$artifact" ] && { echo "--- $artifact (base64):" >&2; base64 "$artifact" >&2; }
done
exit 1
