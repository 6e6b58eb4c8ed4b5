#!/usr/bin/env bash
# Times a whole-folder run of vellumcast-cli side by side with Python imaplib
# sessions, straight to the throw-away server and through a proxy that delays
# every chunk in both directions (so a round trip costs twice the delay), for
# each shape of mail.
#
#   scripts/bench/bench-latency.sh [BIN_DIR] [COUNT] [RUNS] [DELAYS]
#
# BIN_DIR holds vellumcast-cli (default: build/bin; use a release build).
# COUNT messages of each shape are generated (default 10000): SHAPES (default
# "varied small") names the shapes, see shape_folder in bench-lib.sh.
# Each command runs RUNS times per delay (default 1); the best run counts.
# DELAYS: one-way delays in ms (default "0 10 50": round trips of 0, 20, 100 ms;
# 0 goes straight to the server).
# EACH_LIMIT (default 1000): through the proxy, the one-fetch-per-message loop
# fetches only this many messages and its time for COUNT is scaled from them
# (marked "est."); at 100 ms a full loop over 10,000 would take 17 minutes.
# BEFORE_BIN_DIR, when set, names a second build whose vellumcast-cli is timed
# alongside (e.g. an older version built from a git worktree).
# BENCH_MAX_LOAD (default 1.0) and BENCH_WAIT: each table waits for a quiet
# machine first (see wait_quiet in bench-lib.sh).
# BENCH_STATE_DIR names the server's state folder (default BIN_DIR/../bench-server);
# a server already running there is used and its filled folders are kept.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
bin=$(cd "${1:-$root/build/bin}" && pwd)
count=${2:-10000}
runs=${3:-1}
delays=${4:-0 10 50}
each_limit=${EACH_LIMIT:-1000}
shapes=${SHAPES:-varied small}
state=${BENCH_STATE_DIR:-$(dirname "$bin")/bench-server}
# shellcheck source=bench-lib.sh
. "$here/bench-lib.sh"

for shape in $shapes; do
    folder=$(shape_folder "$shape")
    bench_folder "$folder" "$count" "$shape"
    echo
    printf '%-12s %-46s %8s %8s %9s %12s\n' "round trip" "$shape, $count messages, best of $runs" "seconds" "cpu s" "peak MiB" "/ bulk fetch"
    for d in $delays; do
        target=$port
        if [ "$d" != 0 ]; then
            start_proxy "$d"
            target=$proxy_port
            # Through the proxy the program must see every message, too.
            rm -f "$log"
            # shellcheck disable=SC2046
            $(cli_all "$target" "$folder") >/dev/null 2>&1 || true
            oks=$(grep -c 'FETCH [0-9]*: OK' "$log" || true)
            [ "$oks" -eq "$count" ] || { echo "through the proxy only $oks of $count fetches were OK" >&2; exit 1; }
        fi
        limit=""
        [ "$d" != 0 ] && [ "$each_limit" -lt "$count" ] && limit=$each_limit
        cmds=("$(py_bulk "$target" "$folder")" "$(cli_all "$target" "$folder")" "$(cli_few "$target" "$folder")"
              "$(py_each "$target" "$folder" "$limit")")
        if [ -n "$before" ]; then
            cmds+=("$(with_before "$(cli_all "$target" "$folder")")" "$(with_before "$(cli_few "$target" "$folder")")")
        fi
        wait_quiet
        before_note=$(load_note)
        measure "${cmds[@]}"
        rtt="$((2 * d)) ms"
        row() { printf '%-12s %-46s %8s %8s %9s %12s\n' "$rtt" "$1" "$2" "$3" "$4" "$(ratio "$2" "${secs[1]}")"; }
        row "vellumcast-cli --rule all" "${secs[2]}" "${cpu[2]}" "${rss[2]}"
        row "vellumcast-cli --rule containing (no match)" "${secs[3]}" "${cpu[3]}" "${rss[3]}"
        if [ -n "$before" ]; then
            row "vellumcast-cli --rule all (before)" "${secs[5]}" "${cpu[5]}" "${rss[5]}"
            row "vellumcast-cli --rule containing (before)" "${secs[6]}" "${cpu[6]}" "${rss[6]}"
        fi
        row "imaplib, one FETCH 1:* (bulk)" "${secs[1]}" "${cpu[1]}" "${rss[1]}"
        if [ -n "$limit" ]; then
            est=$(awk -v t="${secs[4]}" -v n="$limit" -v c="$count" 'BEGIN { printf "%.2f", t * c / n }')
            row "imaplib, one FETCH per message (est.)" "$est" "${cpu[4]}" "${rss[4]}"
            printf '%-12s %-46s\n' "" "  (${secs[4]} s measured over the first $limit)"
        else
            row "imaplib, one FETCH per message" "${secs[4]}" "${cpu[4]}" "${rss[4]}"
        fi
        printf '%-12s %s\n' "" "before: $before_note"
        printf '%-12s %s\n' "" "after:  $(load_note)"
        w=$(load_warning)
        [ -z "$w" ] || printf '%-12s %s\n' "" "$w"
        stop_proxy
    done
done
