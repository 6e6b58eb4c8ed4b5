#!/usr/bin/env bash
# Peak memory (RSS) of vellumcast-cli with the all-data rule in the padded
# layouts, which pad every row to the longest one:
#   1. an ordinary folder: COUNT generated messages (default 3,000) in the
#      tester's Inbox, --format space and tab, and --format text beside them;
#   2. one large message of about MESSAGE_MB MB (default 50), a plain-text body
#      of 1 MiB lines, alone in the folder "Memory", --format text and space.
#
#   scripts/bench/bench-memory.sh [BIN_DIR] [COUNT] [MESSAGE_MB]
#
# BIN_DIR holds vellumcast-cli (default: build/bin; use a release build). The
# output goes through `wc -c`, so its size is printed too; /usr/bin/time -v
# measures vellumcast-cli alone (peak RSS, wall time). The server: as for
# bench-walk.sh (BENCH_STATE_DIR; a running one is used and kept).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
bin=$(cd "${1:-$root/build/bin}" && pwd)
count=${2:-3000}
message_mb=${3:-50}
state=${BENCH_STATE_DIR:-$(dirname "$bin")/bench-server}
runs=1
# shellcheck source=bench-lib.sh
. "$here/bench-lib.sh"
measures=$(mktemp)
trap 'rm -f "$measures"; bench_cleanup' EXIT

# run LABEL FOLDER FORMAT: one run, output counted and dropped.
run() {
    local label=$1 folder=$2 format=$3 bytes rss wall status
    rm -f "$log"
    # time -v writes its report also when the program fails; its exit status is in it.
    bytes=$(/usr/bin/time -v -o "$measures" "$cli" --user tester --password-file "$state/password" \
        --server "127.0.0.1:$port" --ca-file "$state/ca.pem" --folder "$folder" --rule all \
        --format "$format" --error-log "$log" --no-cache 2>/dev/null | wc -c || true)
    rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$measures")
    wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { print $2 }' "$measures")
    status=$(awk -F': ' '/Exit status/ { print $2 }' "$measures")
    printf '%-28s %-6s peak RSS %8.1f MiB   wall %9s   output %14s bytes   exit %s\n' \
        "$label" "$format" "$(awk -v k="$rss" 'BEGIN { print k / 1024 }')" "$wall" "$bytes" "$status"
}

bench_folder Inbox "$count"
echo "== $count generated messages (load: $(uptime | sed 's/.*load average: //'))"
for format in text space tab; do
    run "$count messages" Inbox "$format"
done

echo "== one message of about $message_mb MB"
doveadm -c "$state/dovecot.conf" expunge -u tester mailbox Memory all 2>/dev/null || true
python3 - "$message_mb" <<'EOF' | bash "$root/scripts/test-server.sh" deliver "$state" Memory tester
import sys
mb = int(sys.argv[1])
line = ("Line of a very large message, words to look for: alpha beta gamma delta. " * 14000)[:1048574]
out = sys.stdout
out.write("From: Big Sender <big@example.org>\r\nTo: tester@example.org\r\n"
          "Subject: One large message\r\nDate: Mon, 2 Jun 2025 10:00:00 +0200\r\n"
          "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n")
for _ in range(mb):
    out.write(line + "\r\n")
EOF
for format in text space; do
    run "one ${message_mb} MB message" Memory "$format"
done
