#!/usr/bin/env bash
# Times a whole-folder run of vellumcast-cli against a plain one-fetch-per-message
# loop in Python's imaplib, over the same throw-away server and folder.
#
#   scripts/bench/bench-walk.sh [BIN_DIR] [COUNT] [RUNS]
#
# BIN_DIR holds vellumcast-cli (default: build/bin; use a release build).
# COUNT messages are generated into the tester's Inbox (default 10000).
# Uses hyperfine when installed, otherwise times RUNS runs of each (default 3).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
bin=$(cd "${1:-$root/build/bin}" && pwd)
count=${2:-10000}
runs=${3:-3}
state=${BENCH_STATE_DIR:-$(dirname "$bin")/bench-server}
cli="$bin/vellumcast-cli"
[ -x "$cli" ] || { echo "no vellumcast-cli in $bin" >&2; exit 1; }

bash "$root/scripts/test-server.sh" start "$state" >/dev/null
trap 'bash "$root/scripts/test-server.sh" stop "$state" >/dev/null' EXIT
bash "$root/scripts/test-server.sh" reset "$state" tester
bash "$root/scripts/test-server.sh" fill "$state" Inbox "$count" tester
port=$(cat "$state/port")
log="$state/bench-errorlog.txt"

cli_cmd="$cli --user tester --password-file $state/password --server 127.0.0.1:$port --ca-file $state/ca.pem --rule all --format text --error-log $log"
py_cmd="python3 $here/imap_fetch_loop.py --port $port --ca-file $state/ca.pem --user tester --password-file $state/password"

# One checked run of each first: both must see every message.
rows=$($cli_cmd 2>/dev/null | wc -l)
echo "vellumcast-cli: $rows output lines for $count messages"
$py_cmd

if command -v hyperfine >/dev/null; then
    hyperfine --warmup 1 --runs "$runs" --prepare "rm -f $log" \
        --export-markdown "$state/bench.md" \
        -n vellumcast-cli "$cli_cmd" -n python-imaplib "$py_cmd"
else
    t() {  # seconds of the best of $runs runs
        local best="" s e d i
        for ((i = 0; i < runs; i++)); do
            rm -f "$log"
            s=$(date +%s%N); "$@" >/dev/null 2>&1; e=$(date +%s%N)
            d=$(( (e - s) / 1000000 ))
            if [ -z "$best" ] || [ "$d" -lt "$best" ]; then best=$d; fi
        done
        echo "$best"
    }
    # shellcheck disable=SC2086
    a=$(t $cli_cmd); b=$(t $py_cmd)
    echo "vellumcast-cli  best of $runs: ${a} ms"
    echo "python-imaplib  best of $runs: ${b} ms"
    awk -v a="$a" -v b="$b" 'BEGIN { printf "ratio vellumcast-cli / python-imaplib: %.2f\n", a / b }'
fi
