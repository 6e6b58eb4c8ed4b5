#!/usr/bin/env bash
# Times vellumcast-cli with a template of five fields (between, regex, line,
# header, builtin) beside the all-data rule over the same folder, side by side
# with one bulk-fetch session (Python imaplib, one FETCH 1:*), straight to the
# throw-away server; then the peak RSS of a workbook run (--format xlsx) over
# COUNT messages and over MEMORY_COUNT messages.
#
#   scripts/bench/bench-records.sh [BIN_DIR] [COUNT] [RUNS] [MEMORY_COUNT]
#
# BIN_DIR holds vellumcast-cli (default: build/bin; use a release build).
# COUNT messages of each shape (default 10000) in the folder of that shape:
# SHAPES (default "varied"; "varied small" for both) names them, see
# shape_folder in bench-lib.sh. Each command runs RUNS times (default 3), in
# rounds; the best run counts.
# MEMORY_COUNT (default 100000; 0 leaves the memory table out): the tester's
# Sent folder gets that many messages of the varied shape (filling 100,000
# takes minutes), and the workbook run goes once over COUNT messages of that
# shape and once over these.
# BEFORE_BIN_DIR, BENCH_MAX_LOAD, BENCH_WAIT and BENCH_STATE_DIR as for
# bench-latency.sh.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
bin=$(cd "${1:-$root/build/bin}" && pwd)
count=${2:-10000}
runs=${3:-3}
memory_count=${4:-100000}
shapes=${SHAPES:-varied}
state=${BENCH_STATE_DIR:-$(dirname "$bin")/bench-server}
# shellcheck source=bench-lib.sh
. "$here/bench-lib.sh"

# Five fields, one of each kind that searches the text or the header, written
# for the generated mail so that each finds something in most messages.
tmpl="$state/bench-five-fields.json"
mkdir -p "$state"
cat >"$tmpl" <<'EOF'
{
  "version": 1,
  "name": "Five fields",
  "rows": "message",
  "fields": [
    {"name": "words", "between": {"start": "words to look for:", "end": "\n"}},
    {"name": "number", "regex": "(?m)^([0-9]+)\\. Line of the message body"},
    {"name": "second", "line": "2. Line"},
    {"name": "to", "header": "To"},
    {"name": "from", "builtin": "from_address"}
  ]
}
EOF
xlsx="$state/bench-records.xlsx"
cli_tmpl() { echo "$(cli_all "$1" "$2" | sed 's/ --rule all --format text / /') --template $tmpl --format ${3:-csv}"; }

for shape in $shapes; do
    folder=$(shape_folder "$shape")
    bench_folder "$folder" "$count" "$shape"
    # The template finds what it should: one row per message, the fields filled.
    # shellcheck disable=SC2091
    rows=$($(cli_tmpl "$port" "$folder") 2>/dev/null | tail -n +2 | wc -l)
    [ "$rows" -eq "$count" ] || { echo "the template gave $rows rows for $count messages" >&2; exit 1; }
    cmds=("$(py_bulk "$port" "$folder")" "$(cli_all "$port" "$folder")" "$(cli_tmpl "$port" "$folder")"
          "$(cli_tmpl "$port" "$folder" xlsx) --output $xlsx")
    if [ -n "$before" ]; then
        cmds+=("$(with_before "$(cli_all "$port" "$folder")")" "$(with_before "$(cli_tmpl "$port" "$folder")")")
    fi
    echo
    printf '%-48s %8s %8s %9s %10s %12s\n' "$shape, $count messages, best of $runs" "seconds" "cpu s" "peak MiB" \
        "/ rule all" "/ bulk fetch"
    wait_quiet
    before_note=$(load_note)
    measure "${cmds[@]}"
    row() {
        printf '%-48s %8s %8s %9s %10s %12s\n' "$1" "$2" "$3" "$4" "$(ratio "$2" "${secs[2]}")" \
            "$(ratio "$2" "${secs[1]}")"
    }
    row "vellumcast-cli --rule all --format text" "${secs[2]}" "${cpu[2]}" "${rss[2]}"
    row "vellumcast-cli --template (5 fields) --format csv" "${secs[3]}" "${cpu[3]}" "${rss[3]}"
    row "vellumcast-cli --template (5 fields) --format xlsx" "${secs[4]}" "${cpu[4]}" "${rss[4]}"
    if [ -n "$before" ]; then
        row "vellumcast-cli --rule all (before)" "${secs[5]}" "${cpu[5]}" "${rss[5]}"
        row "vellumcast-cli --template, csv (before)" "${secs[6]}" "${cpu[6]}" "${rss[6]}"
    fi
    row "imaplib, one FETCH 1:* (bulk)" "${secs[1]}" "${cpu[1]}" "${rss[1]}"
    echo "cpu: template / rule all $(ratio "${cpu[3]}" "${cpu[2]}")"
    echo "before: $before_note"
    echo "after:  $(load_note)"
    w=$(load_warning)
    [ -z "$w" ] || echo "$w"
done

if [ "$memory_count" -gt 0 ]; then
    # The workbook's peak memory as the folder grows: COUNT messages of the
    # varied shape (Inbox) against MEMORY_COUNT of them (Sent).
    bench_folder Inbox "$count" varied
    bench_folder Sent "$memory_count" varied
    small_run="$(cli_tmpl "$port" Inbox xlsx) --output $xlsx"
    large_run="$(cli_tmpl "$port" Sent xlsx) --output $xlsx"
    echo
    printf '%-48s %8s %8s %9s %10s\n' "workbook (--format xlsx), one run each" "seconds" "cpu s" "peak MiB" "xlsx KiB"
    wait_quiet
    before_note=$(load_note)
    runs=1
    measure "$small_run"
    small_size=$(($(stat -c %s "$xlsx") >> 10))
    printf '%-48s %8s %8s %9s %10s\n' "$count messages" "${secs[1]}" "${cpu[1]}" "${rss[1]}" "$small_size"
    small_rss=${rss[1]}
    measure "$large_run"
    large_size=$(($(stat -c %s "$xlsx") >> 10))
    printf '%-48s %8s %8s %9s %10s\n' "$memory_count messages" "${secs[1]}" "${cpu[1]}" "${rss[1]}" "$large_size"
    echo "peak RSS: $memory_count / $count messages $(ratio "${rss[1]}" "$small_rss")"
    echo "before: $before_note"
    echo "after:  $(load_note)"
    w=$(load_warning)
    [ -z "$w" ] || echo "$w"
    rm -f "$xlsx"
fi
