#!/usr/bin/env bash
# Times a whole-folder run of vellumcast-cli side by side with Python imaplib
# sessions over the same throw-away server and folder, straight (loopback),
# and reports each command's peak resident memory.
#
#   scripts/bench/bench-walk.sh [BIN_DIR] [COUNT] [RUNS] [MEMORY_COUNT]
#
# BIN_DIR holds vellumcast-cli (default: build/bin; use a release build).
# COUNT messages are generated into the tester's Inbox (default 10000, ~57 MB).
# Each command runs RUNS times (default 3): the best wall time counts, and the
# largest peak RSS. MEMORY_COUNT (default 0: skipped), e.g. 100000, fills the
# tester's Sent folder with that many and runs each vellumcast-cli rule once more
# there for its peak RSS.
# BENCH_STATE_DIR names the server's state folder (default BIN_DIR/../bench-server);
# a server already running there is used and its filled folders are kept.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
bin=$(cd "${1:-$root/build/bin}" && pwd)
count=${2:-10000}
runs=${3:-3}
memory_count=${4:-0}
state=${BENCH_STATE_DIR:-$(dirname "$bin")/bench-server}
# shellcheck source=bench-lib.sh
. "$here/bench-lib.sh"

bench_folder Inbox "$count"

# A checked run first: the program must see every message.
rm -f "$log"
# shellcheck disable=SC2046
subjects=$($(cli_all "$port") 2>/dev/null | grep -c '^Generated message ' || true)
oks=$(grep -c 'FETCH [0-9]*: OK' "$log" || true)
echo "vellumcast-cli: $oks of $count fetches logged OK, $subjects subject rows"
[ "$oks" -eq "$count" ] || { echo "not every message came through" >&2; exit 1; }

load_note
measure "$(py_bulk "$port")" "$(cli_all "$port")" "$(cli_few "$port")" "$(py_each "$port")"
printf '\n%-44s %8s %8s %9s %12s\n' "loopback, $count messages, best of $runs" "seconds" "cpu s" "peak MiB" "/ bulk fetch"
row() { printf '%-44s %8s %8s %9s %12s\n' "$1" "${secs[$2]}" "${cpu[$2]}" "${rss[$2]}" "$(ratio "${secs[$2]}" "${secs[1]}")"; }
row "vellumcast-cli --rule all" 2
row "vellumcast-cli --rule containing (no match)" 3
row "imaplib, one FETCH 1:* (bulk)" 1
row "imaplib, one FETCH per message" 4
load_note

if [ "$memory_count" -gt 0 ]; then
    echo
    bench_folder Sent "$memory_count"
    runs=1
    load_note
    measure "$(py_bulk "$port" Sent)" "$(cli_all "$port" Sent)" "$(cli_few "$port" Sent)"
    printf '%-44s %8s %8s %9s %12s\n' "loopback, $memory_count messages (Sent), one run" "seconds" "cpu s" "peak MiB" "/ bulk fetch"
    row "vellumcast-cli --rule all" 2
    row "vellumcast-cli --rule containing (no match)" 3
    row "imaplib, one FETCH 1:* (bulk)" 1
    load_note
fi
