#!/usr/bin/env bash
# Times the attachment text of one PDF invoice of PAGES pages through
# vellumcast-cli --attachments, straight to the throw-away server, beside the
# same run without --attachments (sign-in, fetch and decode of the message
# alone): the difference is what reading the PDF's text costs.
#
#   scripts/bench/bench-pdf.sh [BIN_DIR] [PAGES] [RUNS] [LINES]
#
# BIN_DIR holds vellumcast-cli (default: build/bin; use a release build).
# gen_pdf_mail.py makes the message: a PDF of PAGES pages (default 100) of
# LINES lines each (default 40), the last one ending "Total due: 118.45 EUR";
# it is the only message of the tester's folder "Pdf". Each command runs RUNS
# times (default 3), in rounds; the best run counts.
# BEFORE_BIN_DIR, BENCH_MAX_LOAD, BENCH_WAIT and BENCH_STATE_DIR as for
# bench-latency.sh.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
bin=$(cd "${1:-$root/build/bin}" && pwd)
pages=${2:-100}
runs=${3:-3}
lines=${4:-40}
state=${BENCH_STATE_DIR:-$(dirname "$bin")/bench-server}
# shellcheck source=bench-lib.sh
. "$here/bench-lib.sh"

folder=Pdf
bench_server
mark="$state/bench-filled-$folder"
if [ "$(cat "$mark" 2>/dev/null)" != "$port $pages $lines pdf" ]; then
    doveadm -c "$state/dovecot.conf" expunge -u tester mailbox "$folder" all 2>/dev/null || true
    python3 "$here/gen_pdf_mail.py" "$pages" "$lines" | bash "$root/scripts/test-server.sh" deliver "$state" "$folder"
    echo "$port $pages $lines pdf" >"$mark"
fi
pdf_bytes=$(python3 "$here/gen_pdf_mail.py" "$pages" "$lines" --pdf | wc -c)

with=$(cli_few "$port" "$folder" | sed 's/--text no-such-text-anywhere/--text Total/')
every="${with/--text Total/--text line} --attachments"
# The attachment's text is there: its last line, and every line of every page.
out=$($with --attachments 2>/dev/null | tr -d "\r")
[ "$out" = "Total due: 118.45 EUR" ] || { echo "--attachments did not find the total: $out" >&2; exit 1; }
found=$($every 2>/dev/null | grep -c '^Invoice 7001 page [0-9]* line [0-9]*: ' || true)
[ "$found" -eq $((pages * lines)) ] || { echo "--attachments gave $found of $((pages * lines)) PDF lines" >&2; exit 1; }

cmds=("$with --attachments" "$with" "$every")
if [ -n "$before" ]; then
    cmds+=("$(with_before "$with --attachments")")
fi
echo
printf '%-58s %8s %8s %9s\n' "one message, a $pages-page PDF ($((pdf_bytes >> 10)) KiB), best of $runs" "seconds" "cpu s" \
    "peak MiB"
wait_quiet
before_note=$(load_note)
measure "${cmds[@]}"
row() { printf '%-58s %8s %8s %9s\n' "$1" "$2" "$3" "$4"; }
row "vellumcast-cli --attachments --rule containing --text Total" "${secs[1]}" "${cpu[1]}" "${rss[1]}"
row "vellumcast-cli --rule containing --text Total (no PDF text)" "${secs[2]}" "${cpu[2]}" "${rss[2]}"
row "vellumcast-cli --attachments --rule containing --text line" "${secs[3]}" "${cpu[3]}" "${rss[3]}"
if [ -n "$before" ]; then
    row "vellumcast-cli --attachments (before)" "${secs[4]}" "${cpu[4]}" "${rss[4]}"
fi
echo "the PDF's text: $(awk -v a="${secs[1]}" -v b="${secs[2]}" 'BEGIN { printf "%.2f", a - b }') s of the run" \
    "(the CPU of its reader process counts in cpu s)"
echo "before: $before_note"
echo "after:  $(load_note)"
w=$(load_warning)
[ -z "$w" ] || echo "$w"
