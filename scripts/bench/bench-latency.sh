#!/usr/bin/env bash
# Times a whole-folder run of vellumcast-cli against the one-fetch-per-message
# imaplib loop, first straight to the throw-away server, then through a proxy
# that adds latency to every chunk in both directions.
#
#   scripts/bench/bench-latency.sh [BIN_DIR] [COUNT] [DELAY_MS] [RUNS]
#
# BIN_DIR holds vellumcast-cli (default: build/bin; use a release build).
# COUNT messages are generated into the tester's Inbox (default 2000).
# DELAY_MS is the proxy's one-way delay (default 10, i.e. 20 ms per round trip).
# Each command is timed RUNS times, the best run counts (default 1).
# BEFORE_BIN_DIR, when set, names a second build whose vellumcast-cli is timed
# alongside (e.g. an older version built from a git worktree).
# BENCH_STATE_DIR reuses a server state folder (default: BIN_DIR/../bench-server);
# the server is started when it is not running and stopped again only then.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
bin=$(cd "${1:-$root/build/bin}" && pwd)
count=${2:-2000}
delay=${3:-10}
runs=${4:-1}
state=${BENCH_STATE_DIR:-$(dirname "$bin")/bench-server}
cli="$bin/vellumcast-cli"
[ -x "$cli" ] || { echo "no vellumcast-cli in $bin" >&2; exit 1; }
before_cli=""
if [ -n "${BEFORE_BIN_DIR:-}" ]; then
    before_cli="$(cd "$BEFORE_BIN_DIR" && pwd)/vellumcast-cli"
    [ -x "$before_cli" ] || { echo "no vellumcast-cli in $BEFORE_BIN_DIR" >&2; exit 1; }
fi

started=0
proxy_pid=""
cleanup() {
    if [ -n "$proxy_pid" ]; then kill "$proxy_pid" 2>/dev/null || true; wait "$proxy_pid" 2>/dev/null || true; fi
    if [ "$started" = 1 ]; then bash "$root/scripts/test-server.sh" stop "$state" >/dev/null; fi
}
trap cleanup EXIT
running() {  # the state folder's server answers on its port
    [ -s "$state/port" ] && (exec 3<>"/dev/tcp/127.0.0.1/$(cat "$state/port")") 2>/dev/null
}
if ! running; then
    bash "$root/scripts/test-server.sh" start "$state" >/dev/null
    started=1
fi
bash "$root/scripts/test-server.sh" reset "$state" tester
bash "$root/scripts/test-server.sh" fill "$state" Inbox "$count" tester
port=$(cat "$state/port")
log="$state/bench-errorlog.txt"

# The proxy prints its port once it listens.
fifo=$(mktemp -u)
mkfifo "$fifo"
python3 "$here/latency_proxy.py" --target-port "$port" --delay-ms "$delay" >"$fifo" &
proxy_pid=$!
read -r _ _ proxy_port <"$fifo"
rm -f "$fifo"
[ -n "$proxy_port" ] || { echo "the latency proxy did not start" >&2; exit 1; }

cli_args() {  # PORT
    echo "--user tester --password-file $state/password --server 127.0.0.1:$1 --ca-file $state/ca.pem --rule all --format text --error-log $log"
}
py_cmd() {  # PORT
    echo "python3 $here/imap_fetch_loop.py --port $1 --ca-file $state/ca.pem --user tester --password-file $state/password"
}

best_ms() {  # command words...; prints the best of $runs runs in ms
    local best="" s e d i
    for ((i = 0; i < runs; i++)); do
        rm -f "$log"
        s=$(date +%s%N)
        "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; return 1; }
        e=$(date +%s%N)
        d=$(( (e - s) / 1000000 ))
        if [ -z "$best" ] || [ "$d" -lt "$best" ]; then best=$d; fi
    done
    echo "$best"
}

# A checked run first: through the proxy the program must see every message.
# shellcheck disable=SC2046
lines=$("$cli" $(cli_args "$proxy_port") 2>/dev/null | grep -c '^Generated message ' || true)
oks=$(grep -c 'FETCH [0-9]*: OK' "$log" || true)
echo "vellumcast-cli through the proxy: $oks of $count fetches logged OK, $lines subject rows"
[ "$oks" -eq "$count" ] || { echo "not every message came through" >&2; exit 1; }

printf '\n%-28s %12s %12s\n' "" "direct" "+${delay}ms/way"
row() {  # label, direct ms, proxied ms
    printf '%-28s %10s ms %10s ms\n' "$1" "$2" "$3"
}
# shellcheck disable=SC2046
c0=$(best_ms "$cli" $(cli_args "$port")); c1=$(best_ms "$cli" $(cli_args "$proxy_port"))
# shellcheck disable=SC2046
p0=$(best_ms $(py_cmd "$port")); p1=$(best_ms $(py_cmd "$proxy_port"))
row "vellumcast-cli" "$c0" "$c1"
if [ -n "$before_cli" ]; then
    # shellcheck disable=SC2046
    b0=$(best_ms "$before_cli" $(cli_args "$port")); b1=$(best_ms "$before_cli" $(cli_args "$proxy_port"))
    row "vellumcast-cli (before)" "$b0" "$b1"
fi
row "python-imaplib" "$p0" "$p1"
echo
awk -v a="$c0" -v b="$p0" 'BEGIN { printf "ratio vellumcast-cli / python-imaplib, direct:       %.2f\n", a / b }'
awk -v a="$c1" -v b="$p1" 'BEGIN { printf "ratio vellumcast-cli / python-imaplib, with latency: %.2f\n", a / b }'
if [ -n "$before_cli" ]; then
    awk -v a="$c1" -v b="$b1" 'BEGIN { printf "ratio vellumcast-cli / before, with latency:        %.2f\n", a / b }'
fi
