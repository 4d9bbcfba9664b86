#!/bin/sh
# Runs a built libFuzzer target for a bounded time on a corpus of seed files; fails on a crash, a
# leak, a sanitizer report or a unit slower than a second (every input is held to the program's
# limits), and shows the input that caused it.
#   run_fuzz.sh BINARY SECONDS MAX_BYTES SEED_FILE...
set -eu
fuzzer=$1 seconds=$2 max=$3
shift 3
workdir=$(mktemp -d "${TMPDIR:-/tmp}/fuzz.XXXXXX")
trap 'rm -rf "$workdir"' EXIT INT TERM
mkdir "$workdir/corpus"
cp "$@" "$workdir/corpus/"
# -max_total_time bounds the run; the outer timeout catches a fuzzer that stops responding.
timeout --kill-after=10 $((seconds + 60)) "$fuzzer" -max_total_time="$seconds" -timeout=1 \
    -max_len="$max" -artifact_prefix="$workdir/" -print_final_stats=1 "$workdir/corpus" && exit 0
for artifact in "$workdir"/crash-* "$workdir"/leak-* "$workdir"/timeout-* "$workdir"/oom-*; do
    [ -e "$artifact" ] && { echo "--- $artifact (base64):" >&2; base64 "$artifact" >&2; }
done
exit 1
