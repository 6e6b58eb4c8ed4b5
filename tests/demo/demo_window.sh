#!/usr/bin/env bash
# README's first command with a display (a virtual one here): the real window
# program opens, signs in to the demo server by itself, and when the program ends
# (as when its window is closed) the server stops.
#
#   demo_window.sh SOURCE_DIR STATE_DIR
set -euo pipefail
src=$1
state=$2
rm -rf "$state"
mkdir -p "$state"
log=$state/demo-output.txt
xvfb-run -a -s "-screen 0 1280x1024x24" bash "$src/scripts/demo.sh" --state "$state" >"$log" 2>&1 &
runner=$!
fail() {
    echo "FAIL: $*" >&2
    cat "$log" >&2
    [ -f "$state/window.pid" ] && kill "$(cat "$state/window.pid")" 2>/dev/null
    wait "$runner" 2>/dev/null || true
    exit 1
}

# The window signs in at start-up: the server logs the demo account's login.
signed_in=0
for _ in $(seq 1 600); do
    if grep -q 'imap-login: Info: Login: user=<demo>' "$state/server/dovecot.log" 2>/dev/null; then
        signed_in=1
        break
    fi
    kill -0 "$runner" 2>/dev/null || fail "the demo ended before the window signed in"
    sleep 0.1
done
[ $signed_in -eq 1 ] || fail "the window did not sign in within a minute"
[ -f "$state/window.pid" ] || fail "no window process recorded"
kill -0 "$(cat "$state/window.pid")" 2>/dev/null || fail "the window program is not running"
grep -q 'no such option\|Unknown option' "$log" && fail "the window program refused its options"

# The program ends: the demo stops its server.
kill -TERM "$(cat "$state/window.pid")"
wait "$runner" || true
[ ! -e "$state/server/port" ] || fail "the demo server was left running"
if [ -f "$state/server/run/master.pid" ] && kill -0 "$(cat "$state/server/run/master.pid")" 2>/dev/null; then
    fail "dovecot still runs"
fi
echo "demo window: signed in, server stopped with the program"
