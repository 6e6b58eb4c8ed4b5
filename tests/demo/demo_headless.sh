#!/usr/bin/env bash
# README's first command on a machine without a display: scripts/demo.sh starts the
# demo server, prints extractions of vellumcast-cli from the demo mailbox, tells how
# to open the window, and stops the server again.
#
#   demo_headless.sh SOURCE_DIR STATE_DIR
set -euo pipefail
src=$1
state=$2
rm -rf "$state"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY bash "$src/scripts/demo.sh" --state "$state" 2>&1) || {
    printf '%s\n' "$out"
    echo "demo.sh failed" >&2
    exit 1
}
printf '%s\n' "$out"
fail() { echo "FAIL: $*" >&2; exit 1; }

# Between '#' and a blank: the order numbers, each once.
orders=$(sed -n '/^== Order numbers/,/^== /p' <<<"$out")
[ "$(grep -cE '^   \| [0-9]{5}$' <<<"$orders")" -eq 5 ] || fail "the first five order numbers are not shown"
grep -qE '^   \(34 rows\)$' <<<"$orders" || fail "expected 34 distinct order numbers"
# Between 'Tracking number: ' and ' (': the tracking codes.
tracking=$(sed -n '/^== Tracking numbers/,/^== /p' <<<"$out")
[ "$(grep -cE '^   \| [A-Z0-9][A-Z0-9-]{9,}$' <<<"$tracking")" -eq 5 ] || fail "no tracking codes listed"
# The text set, and the unsubscribe address of the Junk folder.
grep -qE '^   \| Total: ' <<<"$out" || fail "no text-set line"
junk=$(sed -n '/^== Unsubscribe addresses in Junk/,$p' <<<"$out")
grep -qE '^   \| robin@example\.net$' <<<"$junk" || fail "no address between 'remove=' and '\"'"
grep -qE '^   \(1 row\)$' <<<"$junk" || fail "the address is not listed once"
# How to open the window.
grep -q "xvfb-run -a -s '-screen 0 1280x1024x24' bash scripts/run-app.sh" <<<"$out" ||
    fail "no hint how to open the window"
# The server is down again.
[ ! -e "$state/server/port" ] || fail "the demo server was left running"
if [ -f "$state/server/run/master.pid" ] && kill -0 "$(cat "$state/server/run/master.pid")" 2>/dev/null; then
    fail "dovecot still runs"
fi
echo "demo headless: ok"
