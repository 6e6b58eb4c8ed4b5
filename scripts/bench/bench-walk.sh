#!/usr/bin/env bash
# Times a whole-folder run of vellumcast-cli side by side with Python imaplib
# sessions over the same throw-away server and folder, straight (loopback),
# and reports each command's wall time, CPU time and peak resident memory, for
# each shape of mail, with the CPU time the whole machine spent meanwhile (the
# server's too) and what that allows on this machine's cores.
#
#   scripts/bench/bench-walk.sh [BIN_DIR] [COUNT] [RUNS] [MEMORY_COUNT]
#
# BIN_DIR holds vellumcast-cli (default: build/bin; use a release build).
# COUNT messages of each shape are generated (default 10000): SHAPES (default
# "varied small") names the shapes, see shape_folder in bench-lib.sh.
# Each command runs RUNS times (default 3): the best wall time counts (with the
# CPU time of that run), and the largest peak RSS. MEMORY_COUNT (default 0:
# skipped), e.g. 100000, fills the tester's Sent folder with that many of the
# varied shape and runs each vellumcast-cli rule once more there for its peak RSS.
# BEFORE_BIN_DIR, when set, names a second build whose vellumcast-cli is timed
# alongside, in the same rounds (e.g. the build of an older commit).
# BENCH_MAX_LOAD (default 1.0) and BENCH_WAIT: each table waits for a quiet
# machine first (see wait_quiet in bench-lib.sh).
# BENCH_STATE_DIR names the server's state folder (default BIN_DIR/../bench-server);
# a server already running there is used and its filled folders are kept.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
bin=$(cd "${1:-$root/build/bin}" && pwd)
count=${2:-10000}
runs=${3:-3}
memory_count=${4:-0}
shapes=${SHAPES:-varied small}
state=${BENCH_STATE_DIR:-$(dirname "$bin")/bench-server}
# shellcheck source=bench-lib.sh
. "$here/bench-lib.sh"

# A row of the loopback table. "machine cpu s" is what the whole machine spent
# during the run (the program and the server both); divided by the cores it is
# the least wall time the run could take here ("floor"), however well its
# threads overlapped.
row() {
    printf '%-46s %8s %8s %9s %12s %14s %8s\n' "$1" "${secs[$2]}" "${cpu[$2]}" "${rss[$2]}" \
        "$(ratio "${secs[$2]}" "${secs[1]}")" "${mcpu[$2]}" "$(ratio "${mcpu[$2]}" "$(nproc)")"
}

for shape in $shapes; do
    folder=$(shape_folder "$shape")
    bench_folder "$folder" "$count" "$shape"

    # A checked run first: the program must see every message.
    rm -f "$log"
    # shellcheck disable=SC2046
    subjects=$($(cli_all "$port" "$folder") 2>/dev/null | grep -c "^$(shape_subject "$shape")" || true)
    oks=$(grep -c 'FETCH [0-9]*: OK' "$log" || true)
    echo
    echo "$shape shape ($folder): vellumcast-cli: $oks of $count fetches logged OK, $subjects subject rows"
    [ "$oks" -eq "$count" ] || { echo "not every message came through" >&2; exit 1; }

    cmds=("$(py_bulk "$port" "$folder")" "$(cli_all "$port" "$folder")" "$(cli_few "$port" "$folder")" "$(py_each "$port" "$folder")")
    if [ -n "$before" ]; then
        cmds+=("$(with_before "$(cli_all "$port" "$folder")")" "$(with_before "$(cli_few "$port" "$folder")")")
    fi
    wait_quiet
    load_note
    measure "${cmds[@]}"
    printf '%-46s %8s %8s %9s %12s %14s %8s\n' "loopback, $shape, $count messages, best of $runs" "seconds" "cpu s" \
        "peak MiB" "/ bulk fetch" "machine cpu s" "floor"
    row "vellumcast-cli --rule all" 2
    row "vellumcast-cli --rule containing (no match)" 3
    if [ -n "$before" ]; then
        row "vellumcast-cli --rule all (before)" 5
        row "vellumcast-cli --rule containing (before)" 6
    fi
    row "imaplib, one FETCH 1:* (bulk)" 1
    row "imaplib, one FETCH per message" 4
    load_note
    load_warning
done

if [ "$memory_count" -gt 0 ]; then
    echo
    bench_folder Sent "$memory_count"
    runs=1
    cmds=("$(py_bulk "$port" Sent)" "$(cli_all "$port" Sent)" "$(cli_few "$port" Sent)")
    if [ -n "$before" ]; then
        cmds+=("$(with_before "$(cli_all "$port" Sent)")" "$(with_before "$(cli_few "$port" Sent)")")
    fi
    wait_quiet
    load_note
    measure "${cmds[@]}"
    printf '%-46s %8s %8s %9s %12s %14s %8s\n' "loopback, $memory_count messages (Sent), one run" "seconds" "cpu s" \
        "peak MiB" "/ bulk fetch" "machine cpu s" "floor"
    row "vellumcast-cli --rule all" 2
    row "vellumcast-cli --rule containing (no match)" 3
    if [ -n "$before" ]; then
        row "vellumcast-cli --rule all (before)" 4
        row "vellumcast-cli --rule containing (before)" 5
    fi
    row "imaplib, one FETCH 1:* (bulk)" 1
    load_note
    load_warning
fi
