#!/usr/bin/env bash
# A long watch under a server that keeps failing: vellumcast-cli --watch on the
# folder "Soak" for MINUTES minutes (default 10) while a message is delivered
# every second and the tester's IMAP process is killed every KICK_SECONDS
# (default 120). At the end the watch is ended with SIGTERM and the script
# checks that every delivered message's row is in the output exactly once, in
# delivery order under ascending UIDs, and that the program exited 0. It
# prints the watcher's RSS (current and peak) a few seconds into the watch and
# at the end, its CPU seconds, and how often it signed in again.
#
#   scripts/bench/soak-watch.sh [MINUTES] [BIN_DIR]
#
# BIN_DIR holds vellumcast-cli (default: build/bin). The server: as for
# bench-walk.sh (BENCH_STATE_DIR; a running one is used and kept). Exit status
# 0 when every check held, 1 otherwise.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
minutes=${1:-10}
bin=$(cd "${2:-$root/build/bin}" && pwd)
kick_every=${KICK_SECONDS:-120}
state=${BENCH_STATE_DIR:-$(dirname "$bin")/bench-server}
runs=1
[[ $minutes =~ ^[0-9]+$ ]] && [ "$minutes" -ge 1 ] || { echo "MINUTES must be a whole number from 1 on" >&2; exit 2; }
# shellcheck source=bench-lib.sh
. "$here/bench-lib.sh"
work=$(mktemp -d)
watcher=""
soak_cleanup() {
    if [ -n "$watcher" ] && kill -0 "$watcher" 2>/dev/null; then kill -KILL "$watcher" 2>/dev/null || true; fi
    rm -rf "$work"
    bench_cleanup
}
trap soak_cleanup EXIT

server() { bash "$root/scripts/test-server.sh" "$1" "$state" "${@:2}"; }

if ! server_running; then
    server start >/dev/null
    bench_started=1
fi
port=$(cat "$state/port")
doveadm -c "$state/dovecot.conf" mailbox create -u tester Soak 2>/dev/null || true
doveadm -c "$state/dovecot.conf" expunge -u tester mailbox Soak all

message() {
    printf 'From: Billing <billing@example.org>\r\nTo: tester@example.org\r\nSubject: Soak %s\r\n' "$1"
    printf 'Date: Mon, 2 Jun 2025 10:00:00 +0200\r\nMessage-ID: <soak-%s-%s@example.org>\r\n\r\n' "$1" "$$"
    printf 'Hello,\r\nToken %s of the soak\r\nThanks\r\n' "$1"
}

# rss PID: "current MiB / peak MiB" of the process.
rss() {
    awk '/^VmRSS/ { now = $2 } /^VmHWM/ { peak = $2 } END { printf "%.1f MiB now / %.1f MiB peak", now / 1024, peak / 1024 }' \
        "/proc/$1/status"
}
cpu() {  # user + system seconds of PID
    awk -v hz="$(getconf CLK_TCK)" '{ printf "%.2f", ($14 + $15) / hz }' "/proc/$1/stat"
}

out="$work/rows.jsonl"
err="$work/stderr.txt"
"$cli" --user tester --password-file "$state/password" --server "127.0.0.1:$port" --ca-file "$state/ca.pem" \
    --error-log "$work/errorlog.txt" --folder Soak --rule containing --text Token --with-source --format jsonl \
    --output "$out" --watch 2>"$err" &
watcher=$!
for _ in $(seq 1 150); do
    grep -q "Watching Soak" "$err" 2>/dev/null && break
    sleep 0.1
done
grep -q "Watching Soak" "$err" || { echo "the watch did not begin:" >&2; cat "$err" >&2; exit 1; }
sleep 2
echo "watch of Soak on 127.0.0.1:$port for $minutes min, a message a second, IMAP process killed every ${kick_every}s"
echo "start: RSS $(rss "$watcher")"

total=$((minutes * 60))
start=$(date +%s)
sent=0
kicks=0
next_kick=$kick_every
while :; do
    elapsed=$(($(date +%s) - start))
    [ "$elapsed" -lt "$total" ] || break
    if [ "$elapsed" -ge "$next_kick" ]; then
        server kick >/dev/null || true
        kicks=$((kicks + 1))
        next_kick=$((next_kick + kick_every))
    fi
    sent=$((sent + 1))
    message "$sent" | server deliver Soak
    # One a second: what the delivery took comes off the pause.
    sleep "$(awk -v s="$start" -v n="$sent" -v now="$(date +%s.%N)" 'BEGIN { d = s + n - now; print (d > 0 ? d : 0) }')"
done

# The last messages are given up to a minute (a kill just before the end costs a reconnect).
for _ in $(seq 1 600); do
    [ "$(grep -c '"text":"Token' "$out" 2>/dev/null || true)" -ge "$sent" ] && break
    sleep 0.1
done
echo "end:   RSS $(rss "$watcher"), CPU $(cpu "$watcher") s"
kill -TERM "$watcher"
status=0
wait "$watcher" || status=$?
watcher=""

python3 - "$out" "$sent" "$status" "$kicks" "$(grep -c 'Signed in again' "$err" || true)" <<'EOF'
import json, sys
path, sent, status, kicks, reconnects = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4], sys.argv[5]
rows = [json.loads(line) for line in open(path, encoding="utf-8") if line.strip()]
tokens = [int(r["text"].split()[1]) for r in rows]
uids = [int(r["uid"]) for r in rows]
missing = sorted(set(range(1, sent + 1)) - set(tokens))
repeated = len(tokens) - len(set(tokens))
in_order = tokens == sorted(tokens) and all(b > a for a, b in zip(uids, uids[1:]))
print(f"delivered {sent}, rows {len(rows)}, missing {len(missing)}, repeated {repeated}, "
      f"in order {'yes' if in_order else 'NO'}, IMAP process killed {kicks} times, signed in again {reconnects} times, "
      f"exit {status}")
if missing:
    print("missing:", missing[:20])
ok = not missing and repeated == 0 and in_order and len(rows) == sent and status == 0
print("OK" if ok else "FAILED")
sys.exit(0 if ok else 1)
EOF
