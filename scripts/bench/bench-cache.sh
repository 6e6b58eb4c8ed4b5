#!/usr/bin/env bash
# Times a re-run of vellumcast-cli over an unchanged folder through the local
# mail copy side by side with one bulk-fetch session of the same folder
# (imaplib, FETCH 1:*), straight (loopback) and through the delaying proxy;
# prints the copy's size on disk per 10,000 messages and the peak RSS of a
# walk with the copy over COUNT and over BIG_COUNT messages (the walk that
# fills the copy and the re-run that reads it).
#
#   scripts/bench/bench-cache.sh [BIN_DIR] [COUNT] [BIG_COUNT] [RUNS] [DELAYS]
#
# BIN_DIR holds vellumcast-cli (default: build/bin; use a release build).
# COUNT messages of the varied shape in Inbox (default 10000), BIG_COUNT in Sent
# (default 100000; 0 skips the memory table). Each timed command runs RUNS times
# (default 3); the best run counts. DELAYS: one-way delays in ms (default
# "0 50": round trips of 0 and 100 ms; 0 goes straight to the server).
# With BEFORE_BIN_DIR (another build) its re-run through a copy of its own is
# timed in the same rounds. The re-run with --offline (the copy alone, no
# connection) is timed beside them. The round trips of each re-run (strace, loopback)
# are printed below the table.
# BENCH_MAX_LOAD, BENCH_WAIT and BENCH_STATE_DIR as for bench-walk.sh.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
bin=$(cd "${1:-$root/build/bin}" && pwd)
count=${2:-10000}
big_count=${3:-100000}
runs=${4:-3}
delays=${5:-0 50}
state=${BENCH_STATE_DIR:-$(dirname "$bin")/bench-server}
# shellcheck source=bench-lib.sh
. "$here/bench-lib.sh"

copies=$(mktemp -d)
trap 'rm -rf "$copies"; bench_cleanup' EXIT

# cli_cached PORT FOLDER COPY [CLI]: the all-data run through the local copy in
# COPY (with the build CLI, default the one measured).
cli_cached() {
    local c
    c=$(cli_all "$1" "$2")
    c="${c/--no-cache/--cache-dir $3}"
    if [ -n "${4:-}" ]; then c=$(with_before "$c"); fi
    echo "$c"
}

# cli_offline PORT FOLDER COPY: the same run from COPY alone (--offline), as
# filled through PORT: no password, no connection.
cli_offline() {
    local c
    c=$(cli_cached "$1" "$2" "$3")
    c="${c/--password-file $state\/password /}"
    echo "$c --offline"
}

# fetches: the messages the last run fetched, by its fetch log (a run that
# fetched nothing may leave none).
fetches() { if [ -f "$log" ]; then grep -c 'FETCH [0-9]*: OK' "$log" || true; else echo 0; fi; }

# fill_copy PORT FOLDER COPY N: the walk that fills COPY; checks that it
# fetched all N messages and that a re-run fetches none. Sets fill_rss (MiB)
# and fill_secs.
fill_copy() {
    local out
    out=$(mktemp)
    rm -rf "$3"
    rm -f "$log"
    # shellcheck disable=SC2046
    /usr/bin/time -f '%e %M' -o "$out" $(cli_cached "$1" "$2" "$3" "${5:-}") >/dev/null 2>&1
    read -r fill_secs fill_rss <"$out"
    fill_rss=$((fill_rss / 1024))
    rm -f "$out"
    [ "$(fetches)" -eq "$4" ] || { echo "the first run fetched $(fetches) of $4 messages" >&2; exit 1; }
    rm -f "$log"
    # shellcheck disable=SC2046
    $(cli_cached "$1" "$2" "$3" "${5:-}") >/dev/null 2>&1
    [ "$(fetches)" -eq 0 ] || { echo "the re-run fetched $(fetches) messages" >&2; exit 1; }
}

# size_note COPY N: the copy's size on disk (the file and its log), and per 10,000 messages.
size_note() {
    local bytes
    bytes=$(du -cb "$1"/mail-cache.sqlite* | tail -n 1 | cut -f1)
    awk -v b="$bytes" -v n="$2" 'BEGIN { printf "local copy on disk: %.1f MiB for %d messages, %.1f MiB per 10,000\n", b / 1048576, n, b / 1048576 * 10000 / n }'
}

bench_folder Inbox "$count" varied
copy="$copies/inbox"
fill_copy "$port" Inbox "$copy" "$count"
if [ -n "$before" ]; then
    new_fill=$fill_secs new_rss=$fill_rss
    fill_copy "$port" Inbox "$copies/inbox-before" "$count" before
    echo "the before build's first walk (fills its own copy) took $fill_secs s"
    fill_secs=$new_fill fill_rss=$new_rss
fi
echo
echo "varied shape, $count messages in Inbox; the first walk (fills the copy) took $fill_secs s, peak $fill_rss MiB"
size_note "$copy" "$count"
printf '%-12s %-46s %8s %8s %9s %12s\n' "round trip" "best of $runs" "seconds" "cpu s" "peak MiB" "/ bulk fetch"
for d in $delays; do
    target=$port
    if [ "$d" != 0 ]; then
        start_proxy "$d"
        target=$proxy_port
    fi
    wait_quiet
    before_note=$(load_note)
    cmds=("$(py_bulk "$target" Inbox)" "$(cli_cached "$target" Inbox "$copy")" "$(cli_all "$target" Inbox)")
    cmds+=("$(cli_offline "$port" Inbox "$copy")")
    [ -z "$before" ] || cmds+=("$(cli_cached "$target" Inbox "$copies/inbox-before" before)")
    measure "${cmds[@]}"
    rtt="$((2 * d)) ms"
    row() { printf '%-12s %-46s %8s %8s %9s %12s\n' "$rtt" "$1" "${secs[$2]}" "${cpu[$2]}" "${rss[$2]}" "$(ratio "${secs[$2]}" "${secs[1]}")"; }
    row "vellumcast-cli --rule all, re-run with the copy" 2
    [ -z "$before" ] || row "... the same with the before build" 5
    row "... --offline (the copy alone, no server)" 4
    row "vellumcast-cli --rule all --no-cache" 3
    row "imaplib, one FETCH 1:* (bulk)" 1
    printf '%-12s %s\n' "" "before: $before_note"
    printf '%-12s %s\n' "" "after:  $(load_note)"
    w=$(load_warning)
    [ -z "$w" ] || printf '%-12s %s\n' "" "$w"
    stop_proxy
done
echo "round trips of a re-run with the copy (loopback): $(round_trips "$port" "$(cli_cached "$port" Inbox "$copy")")"
[ -z "$before" ] ||
    echo "... with the before build: $(round_trips "$port" "$(cli_cached "$port" Inbox "$copies/inbox-before" before)")"

if [ "$big_count" -gt 0 ]; then
    echo
    runs=1
    measure "$(cli_cached "$port" Inbox "$copy")"
    small_fill=$fill_rss small_rerun=${rss[1]}
    bench_folder Sent "$big_count" varied
    big="$copies/sent"
    wait_quiet
    fill_copy "$port" Sent "$big" "$big_count"
    measure "$(cli_cached "$port" Sent "$big")"
    printf '%-40s %12s %12s\n' "peak RSS with the local copy, loopback" "first walk" "re-run"
    printf '%-40s %9s MiB %9s MiB\n' "$count messages (Inbox)" "$small_fill" "$small_rerun"
    printf '%-40s %9s MiB %9s MiB\n' "$big_count messages (Sent)" "$fill_rss" "${rss[1]}"
    awk -v a="$small_rerun" -v b="${rss[1]}" -v c="$small_fill" -v d="$fill_rss" \
        'BEGIN { printf "%-40s %12.2f %12.2f\n", "ratio", d / c, b / a }'
    size_note "$big" "$big_count"
    load_note
    load_warning
fi
