#!/usr/bin/env bash
# test-server.sh start removes the mail area that an earlier start made in
# /var/tmp, but only when DIR/mail really leads there. A link that only looks
# like one of ours (/var/tmp/vc-test-server.X/../somewhere/mail) loses the link
# itself; what it leads to stays.
#
#   foreign-link.sh SCRIPTS_DIR
set -euo pipefail
script=$1/test-server.sh
work=$(mktemp -d)  # 0700: nobody cannot reach it, so the server's mail lives in /var/tmp
decoy=$(mktemp -d /var/tmp/vc-test-server.XXXXXX)
victim=$(mktemp -d /var/tmp/vc-victim.XXXXXX)
state=$work/state
cleanup() {
    bash "$script" stop "$state" >/dev/null 2>&1 || true
    local area
    area=$(readlink "$state/mail" 2>/dev/null || true)
    case $area in /var/tmp/vc-test-server.??????/mail) rm -rf "${area%/mail}" ;; esac
    rm -rf "$work" "$decoy" "$victim"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir -p "$victim/mail" "$state"
echo keep > "$victim/mail/letter"
ln -s "$decoy/../$(basename "$victim")/mail" "$state/mail"
bash "$script" start "$state" >/dev/null || { cat "$state/dovecot.log" >&2 2>/dev/null; exit 1; }
[ -f "$victim/mail/letter" ] || fail "start removed what a foreign link led to"
[ -d "$decoy" ] || fail "start removed a folder that it did not make"
new=$(readlink "$state/mail") || fail "start made no mail area of its own"
[[ $new == /var/tmp/vc-test-server.*/mail ]] && [ -d "$new" ] || fail "the new mail area is missing: $new"
echo "foreign link: ok"
