#!/usr/bin/env bash
# The demo: a throw-away IMAP server (scripts/test-server.sh) holding the demo mailbox
# (scripts/demo-mailbox.py, about 200 made-up messages in Inbox, Sent and Junk), and
# Vellumcast signed in to it. Expects built programs in build/bin (scripts/build.sh), or in
# the folder that VC_BIN_DIR names (a build elsewhere, as the tests give).
#
#   demo.sh [--state DIR] [PROGRAM OPTION ...]   run the demo (DIR defaults to build/demo)
#   demo.sh start DIR                            server up, mailbox loaded, settings written
#   demo.sh stop DIR                             server down
#
# With a display the window opens signed in as "demo"; closing it stops the server.
# Without one, vellumcast-cli reads the demo mailbox and prints a few extractions.
#
# State in DIR: server/ (the test server's state: port, ca.pem, password-demo, ...),
# mailbox/ (the generated messages), vellumcast-demo.ini (the window's settings, used
# instead of the user's own; the password is not in it: the window reads it from
# server/password-demo), window-arguments (the window's command line, one argument
# a line), window.pid, errorlog.txt (the fetch log of the command-line runs).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
bin=${VC_BIN_DIR:-$root/build/bin}
DEMO_USER=demo

die() { echo "demo.sh: $*" >&2; exit 1; }

# The server must run as root (dovecot's master does).
as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

server() { as_root bash "$root/scripts/test-server.sh" "$@"; }

# Settings the window starts with: the demo account remembered and connected at
# start-up (its password comes with --password-file), Inbox chosen, and the rule
# entries ready for the three things to try.
write_settings() {
    local file=$1
    rm -f "$file"
    (
        umask 077
        cat > "$file" <<EOF
[Vellumcast]
User="$DEMO_USER"
StayConnected=1
AutoConnect=1
Combo1=0
Option3=True
Option5=False
Option6=False
Option7=False
Option9=False
Text1="tracking"
Text2="http"
Text5="1,3"
StartWith="#"
EndWith=" "
TextSet="Tracking number!!!MORVA!!!Total:!!!MORVA!!!Expected delivery"
EOF
    )
}

cmd_start() {
    local state=$1
    mkdir -p "$state"
    state=$(cd "$state" && pwd)
    server start "$state/server" >/dev/null
    python3 "$root/scripts/demo-mailbox.py" "$state/mailbox" >/dev/null
    local folder
    for folder in Inbox Sent Junk; do
        server load "$state/server" "$folder" "$state/mailbox/$folder" "$DEMO_USER" >/dev/null
    done
    write_settings "$state/vellumcast-demo.ini"
    # The window's command line, one argument per line.
    printf '%s\n' --settings "$state/vellumcast-demo.ini" --password-file "$state/server/password-demo" \
        --server "127.0.0.1:$(cat "$state/server/port")" --ca-file "$state/server/ca.pem" --no-online-check \
        > "$state/window-arguments"
    echo "demo server on 127.0.0.1:$(cat "$state/server/port") (user $DEMO_USER, state in $state)"
}

cmd_stop() {
    server stop "$1/server"
}

have_display() { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }

# A few extractions of the command-line program, each shown with its command.
print_extractions() {
    local port
    port=$(cat "$state/server/port")
    local common=(--user "$DEMO_USER" --password-file "$state/server/password-demo" --server "127.0.0.1:$port"
                  --ca-file "$state/server/ca.pem" --error-log "$state/errorlog.txt")
    show() {
        local title=$1 shown="" arg out rows
        shift
        for arg in "$@"; do
            [[ $arg =~ ^[A-Za-z0-9_.:/=-]+$ ]] && shown+=" $arg" || shown+=" '$arg'"
        done
        echo
        echo "== $title"
        echo "   vellumcast-cli$shown"
        out=$("$bin/vellumcast-cli" "${common[@]}" "$@" 2>"$state/cli-stderr.txt") ||
            { cat "$state/cli-stderr.txt" >&2; die "vellumcast-cli failed"; }
        out=${out//$'\r'/}
        rows=0
        [ -z "$out" ] || rows=$(printf '%s\n' "$out" | grep -c '')
        printf '%s\n' "$out" | sed -n '1,5s/^/   | /p'
        [ "$rows" = 1 ] && echo "   (1 row)" || echo "   ($rows rows)"
    }
    show "Order numbers: between '#' and a blank" --folder Inbox --rule between --start '#' --end ' '
    show "Tracking numbers: between 'Tracking number: ' and ' ('" --folder Inbox --rule between \
        --start 'Tracking number: ' --end ' ('
    show "Text set: 'Total:' and 'Expected delivery'" --folder Inbox --rule text-set --item 'Total:' \
        --item 'Expected delivery'
    show "Unsubscribe addresses in Junk: between 'remove=' and '\"'" --folder Junk --rule between \
        --start 'remove=' --end '"'
    cat <<EOF

No display here, so the window did not open. To see it, run the same command in a
desktop session (or over ssh -X). On a machine without any screen it runs on a
virtual display (where the tests take their screenshot):
    xvfb-run -a -s '-screen 0 1280x1024x24' bash scripts/run-app.sh
The demo server stops now; its messages stay in $state/mailbox.
EOF
}

cmd_run() {
    state=$root/build/demo  # global: the exit trap stops its server
    if [ "${1:-}" = --state ]; then
        [ $# -ge 2 ] || die "--state needs a folder"
        state=$2
        shift 2
    fi
    [ -x "$bin/vellumcast-cli" ] || die "build the programs first (bash scripts/build.sh)"
    mkdir -p "$state"
    state=$(cd "$state" && pwd)
    prog=""
    trap 'status=$?; [ -n "$prog" ] && kill "$prog" 2>/dev/null; server stop "$state/server" >/dev/null 2>&1; exit $status' EXIT
    trap 'exit 130' INT TERM
    cmd_start "$state"
    if ! have_display; then
        print_extractions
        return 0
    fi
    local arguments
    mapfile -t arguments < "$state/window-arguments"
    "$bin/vellumcast" "${arguments[@]}" "$@" &
    prog=$!
    echo "$prog" > "$state/window.pid"
    local status=0
    wait "$prog" || status=$?
    prog=""
    return "$status"
}

case ${1:-} in
    start) [ $# -eq 2 ] || die "usage: demo.sh start DIR"; cmd_start "$2" ;;
    stop) [ $# -eq 2 ] || die "usage: demo.sh stop DIR"; cmd_stop "$2" ;;
    *) cmd_run "$@" ;;
esac
