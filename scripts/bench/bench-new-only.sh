#!/usr/bin/env bash
# Times a --new-only run that finds NEW messages come into a folder of COUNT,
# through the delaying proxy, and counts its round trips (strace).
#
#   scripts/bench/bench-new-only.sh [BIN_DIR] [COUNT] [NEW] [RUNS] [DELAY]
#
# BIN_DIR holds vellumcast-cli (default: build/bin; use a release build).
# COUNT tiny messages (default 100000) fill the folder "Big" once (kept on a
# running server between invocations, see BENCH_STATE_DIR); each round first
# lets every build's --new-only mark catch up (untimed), then
# delivers NEW (default 100) messages and times each build's --new-only run
# over them. RUNS rounds (default 3), the best run counts; DELAY is the proxy's
# one-way delay in ms (default 50: a 100 ms round trip). With BEFORE_BIN_DIR
# (another build) it runs in the same rounds. The marks live under the state
# folder, one set per build.
# BENCH_MAX_LOAD, BENCH_WAIT and BENCH_STATE_DIR as for bench-walk.sh.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
bin=$(cd "${1:-$root/build/bin}" && pwd)
count=${2:-100000}
new=${3:-100}
runs=${4:-3}
delay=${5:-50}
state=${BENCH_STATE_DIR:-$(dirname "$bin")/bench-server}
# shellcheck source=bench-lib.sh
. "$here/bench-lib.sh"

# tiny_mail DIR FIRST N: N small plain messages, numbered from FIRST, one a file.
tiny_mail() {
    python3 - "$1" "$2" "$3" <<'PY'
import os, sys
out, first, n = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
os.makedirs(out, exist_ok=True)
for i in range(first, first + n):
    with open(os.path.join(out, "%09d.eml" % i), "wb") as f:
        f.write(("From: Ann <ann@example.org>\r\nTo: tester@example.org\r\nSubject: Tiny message %d\r\n"
                 "Date: Mon, 2 Jun 2025 12:00:00 +0000\r\nMessage-ID: <tiny-%d@example.org>\r\n"
                 "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n"
                 "Body of message %d.\r\n" % (i, i, i)).encode())
PY
}

bench_server
mark="$state/bench-filled-Big"
if [ "$(cat "$mark" 2>/dev/null)" != "$port $count tiny" ]; then
    doveadm -c "$state/dovecot.conf" mailbox delete -u tester Big 2>/dev/null || true
    doveadm -c "$state/dovecot.conf" mailbox create -u tester Big
    gen=$(mktemp -d)
    tiny_mail "$gen" 1 "$count"
    bash "$root/scripts/test-server.sh" load "$state" Big "$gen" tester >/dev/null
    rm -rf "$gen"
    rm -rf "$state/bench-marks"
    echo "$port $count tiny" >"$mark"
fi
delivered=$(doveadm -c "$state/dovecot.conf" mailbox status -u tester messages Big | sed 's/.*messages=//')

# new_only PORT BUILD: the --new-only run of BUILD ("" or "before") against PORT.
new_only() {
    local c
    c="env XDG_DATA_HOME=$state/bench-marks/${2:-now} $(cli_all "$1" Big) --new-only"
    if [ -n "$2" ]; then c="env XDG_DATA_HOME=$state/bench-marks/$2 $(with_before "$(cli_all "$1" Big)") --new-only"; fi
    echo "$c"
}
fetched() { if [ -f "$log" ]; then grep -c 'FETCH [0-9]*: OK' "$log" || true; else echo 0; fi; }
builds=("")
[ -z "$before" ] || builds+=(before)
catch_up() {
    local b
    for b in "${builds[@]}"; do
        # shellcheck disable=SC2046
        $(new_only "$proxy_port" "$b") >/dev/null 2>&1 || { echo "failed: $(new_only "$proxy_port" "$b")" >&2; exit 1; }
    done
}
deliver_new() {
    local gen
    gen=$(mktemp -d)
    tiny_mail "$gen" $((delivered + 1)) "$new"
    bash "$root/scripts/test-server.sh" load "$state" Big "$gen" tester >/dev/null
    rm -rf "$gen"
    delivered=$((delivered + new))
}

# The marks are per server as the program names it, the proxy's port with
# it: every run goes through the proxy.
start_proxy "$delay"
catch_up
declare -A best best_cpu
for ((r = 0; r < runs; r++)); do
    catch_up
    deliver_new
    [ "$r" -gt 0 ] || { wait_quiet; before_note=$(load_note); }
    for b in "${builds[@]}"; do
        rm -f "$log"
        out=$(mktemp)
        # shellcheck disable=SC2046
        /usr/bin/time -f '%e %U %S' -o "$out" $(new_only "$proxy_port" "$b") >/dev/null 2>&1 ||
            { echo "failed: $(new_only "$proxy_port" "$b")" >&2; exit 1; }
        read -r e u s <"$out"
        rm -f "$out"
        [ "$(fetched)" -eq "$new" ] || { echo "--new-only fetched $(fetched) messages, not $new" >&2; exit 1; }
        k=${b:-now}
        if [ -z "${best[$k]:-}" ] || awk -v a="$e" -v b="${best[$k]}" 'BEGIN { exit !(a < b) }'; then
            best[$k]=$e
            best_cpu[$k]=$(awk -v u="$u" -v s="$s" 'BEGIN { printf "%.2f", u + s }')
        fi
    done
done
echo
echo "--new-only, $new new messages in a folder of $((delivered - new)) ($((2 * delay)) ms round trip), best of $runs"
printf '%-40s %8s %8s   %s\n' "" "seconds" "cpu s" "round trips"
for b in "${builds[@]}"; do
    catch_up
    deliver_new
    k=${b:-now}
    printf '%-40s %8s %8s   %s\n' "vellumcast-cli --new-only${b:+ ($b)}" "${best[$k]}" "${best_cpu[$k]}" \
        "$(round_trips "$proxy_port" "$(new_only "$proxy_port" "$b")")"
done
stop_proxy
echo "before: $before_note"
echo "after:  $(load_note)"
load_warning
