#!/usr/bin/env bash
# Times a run of vellumcast-cli with --since that selects the newest PERCENT of
# a folder, side by side with one bulk-fetch session of the whole folder
# (Python imaplib, one FETCH 1:*), through the proxy that delays every chunk
# in both directions (a round trip costs twice the delay).
#
#   scripts/bench/bench-since.sh [BIN_DIR] [COUNT] [RUNS] [DELAYS] [PERCENT]
#
# BIN_DIR holds vellumcast-cli (default: build/bin; use a release build).
# COUNT messages (default 10000) of the "dated" shape (gen_small_mail.py --days:
# the small shape spread evenly over 100 days) fill the folder "Dated"; --since
# names the first day of the newest PERCENT (default 5) of them. The run walks
# the UIDs the server's search gives, so it fetches COUNT * PERCENT / 100
# messages; the script checks that it did.
# Each command runs RUNS times per delay (default 3), in rounds; the best run
# counts. DELAYS: one-way delays in ms (default "10": a 20 ms round trip; 0
# goes straight to the server).
# BEFORE_BIN_DIR, BENCH_MAX_LOAD, BENCH_WAIT and BENCH_STATE_DIR as for
# bench-latency.sh.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
bin=$(cd "${1:-$root/build/bin}" && pwd)
count=${2:-10000}
runs=${3:-3}
delays=${4:-10}
percent=${5:-5}
state=${BENCH_STATE_DIR:-$(dirname "$bin")/bench-server}
# shellcheck source=bench-lib.sh
. "$here/bench-lib.sh"

folder=$(shape_folder dated)
bench_folder "$folder" "$count" dated
# Message n is dated on day (n - 1) * span / count from 1 Jan 2025: the newest
# PERCENT begin on this day.
span=$bench_dated_days
first_day=$((span - span * percent / 100))
since=$(date -u -d "2025-01-01 + $first_day days" +%F)
expected=0
for ((n = 1; n <= count; n++)); do
    (((n - 1) * span / count >= first_day)) && expected=$((expected + 1))
done

echo
printf '%-12s %-52s %8s %8s %9s %12s\n' "round trip" "--since $since: $expected of $count, best of $runs" "seconds" "cpu s" \
    "peak MiB" "/ bulk fetch"
for d in $delays; do
    target=$port
    if [ "$d" != 0 ]; then
        start_proxy "$d"
        target=$proxy_port
    fi
    all="$(cli_all "$target" "$folder") --since $since"
    few="$(cli_few "$target" "$folder") --since $since"
    # The run fetches exactly the messages of those days, each once.
    rm -f "$log"
    # shellcheck disable=SC2086
    $all >/dev/null 2>&1 || { echo "failed: $all" >&2; exit 1; }
    oks=$(grep -c 'FETCH [0-9]*: OK' "$log" || true)
    [ "$oks" -eq "$expected" ] || { echo "--since $since fetched $oks messages, not $expected" >&2; exit 1; }
    cmds=("$(py_bulk "$target" "$folder")" "$all" "$few")
    if [ -n "$before" ]; then
        cmds+=("$(with_before "$all")" "$(with_before "$few")")
    fi
    wait_quiet
    before_note=$(load_note)
    measure "${cmds[@]}"
    rtt="$((2 * d)) ms"
    row() { printf '%-12s %-52s %8s %8s %9s %12s\n' "$rtt" "$1" "$2" "$3" "$4" "$(ratio "$2" "${secs[1]}")"; }
    row "vellumcast-cli --since --rule all" "${secs[2]}" "${cpu[2]}" "${rss[2]}"
    row "vellumcast-cli --since --rule containing (no match)" "${secs[3]}" "${cpu[3]}" "${rss[3]}"
    if [ -n "$before" ]; then
        row "vellumcast-cli --since --rule all (before)" "${secs[4]}" "${cpu[4]}" "${rss[4]}"
        row "vellumcast-cli --since --rule containing (before)" "${secs[5]}" "${cpu[5]}" "${rss[5]}"
    fi
    row "imaplib, one FETCH 1:* of all $count (bulk)" "${secs[1]}" "${cpu[1]}" "${rss[1]}"
    printf '%-12s %s\n' "" "before: $before_note"
    printf '%-12s %s\n' "" "after:  $(load_note)"
    w=$(load_warning)
    [ -z "$w" ] || printf '%-12s %s\n' "" "$w"
    stop_proxy
done
