#!/usr/bin/env bash
# A throw-away Dovecot IMAP server (TLS only, 127.0.0.1) for the tests.
#
#   test-server.sh start   DIR                       start (a running one is stopped first)
#   test-server.sh stop    DIR                       stop; exit 0 also when nothing runs
#   test-server.sh reset   DIR [USER]                empty every folder of USER, recreate the set
#   test-server.sh deliver DIR FOLDER [USER]         save one raw message from stdin, unseen
#   test-server.sh fill    DIR FOLDER COUNT [USER]   generate COUNT varied messages, unseen
#   test-server.sh load    DIR FOLDER SRCDIR [USER]  every file of SRCDIR, in name order, unseen
#   test-server.sh kick    DIR [USER]                kill USER's IMAP processes: their connections drop
#   test-server.sh restart DIR                       crash (connections drop) and start again: same port, CA, mail
#   test-server.sh doveadm DIR ARGS...               doveadm with the server's configuration (search, expunge, flags)
#
# USER defaults to "tester"; FOLDER "Inbox" (any case) means INBOX.
#
# State in DIR after start:
#   port, ca.pem                 where to connect and the CA that signed the server
#   other-name-host              an address (127.0.0.2) where the same server, on the same
#                                port, shows a certificate of the same CA made out to
#                                another name (imap.other-name.test): a name mismatch
#   password, password2, password3, password-demo
#                                passwords of "tester", "quoter", "special" and "demo"
#                                (UTF-8, no newline)
#   oauth-port                   the OAuth 2.0 provider stand-in (scripts/oauth-provider.py) on
#                                127.0.0.1; Dovecot also takes its access tokens (XOAUTH2,
#                                OAUTHBEARER), asking it at /introspect
#   dovecot.conf, dovecot.log, users, server.pem, server.key, other-name.pem,
#   other-name.key, ca.key
#   (users and mail/ sit in /var/tmp/vc-test-server.* when nobody cannot reach DIR;
#   DIR/mail is then a link there)
#   mail/<user>/                 the maildirs (owned by nobody)
#
# Folders: tester, quoter and demo have INBOX, Drafts, Sent, Junk, Deleted; special has INBOX,
# Drafts, "Sent Items", "Junk Email", "Deleted Items" (no "Sent", "Junk" or "Deleted"),
# marked \Sent, \Junk and \Trash. Sent/Junk/Deleted/Drafts of the others carry the
# same attributes.
#
# Runs as root (dovecot's master must); the mail processes run as nobody:nogroup.
set -euo pipefail

die() { echo "test-server.sh: $*" >&2; exit 1; }
usage() { sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }

[ $# -ge 2 ] || usage
cmd=$1
dir=$2
shift 2
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
conf="$dir/dovecot.conf"
area=$dir   # where users and mail/ really live (see cmd_start)

TESTER_PASSWORD='tester-Secret-42'
QUOTER_PASSWORD='Qu"ote\Slash-é9'
SPECIAL_PASSWORD='special-Use-77'
DEMO_PASSWORD='demo-Vellum-25'
USERS=(tester quoter special demo)
OTHER_NAME_HOST=127.0.0.2
STANDARD_FOLDERS=(Drafts Sent Junk Deleted)
SPECIAL_FOLDERS=(Drafts "Sent Items" "Junk Email" "Deleted Items")

folders_of() {
    if [ "$1" = special ]; then printf '%s\n' "${SPECIAL_FOLDERS[@]}"; else printf '%s\n' "${STANDARD_FOLDERS[@]}"; fi
}

mailbox_name() {
    local f=$1
    if [ "${f^^}" = INBOX ]; then echo INBOX; else echo "$f"; fi
}

doveadm_() { doveadm -c "$conf" "$@"; }

ensure_dovecot() {
    if command -v dovecot >/dev/null 2>&1 && command -v doveadm >/dev/null 2>&1 &&
       command -v openssl >/dev/null 2>&1; then
        return
    fi
    [ "$(id -u)" -eq 0 ] || die "dovecot is not installed and we are not root"
    export DEBIAN_FRONTEND=noninteractive
    local policy_added=0
    # Keep the distribution's own Dovecot service from starting.
    if [ ! -e /usr/sbin/policy-rc.d ]; then
        printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d
        chmod +x /usr/sbin/policy-rc.d
        policy_added=1
    fi
    apt-get update -qq || true
    apt-get install -y -qq --no-install-recommends dovecot-imapd openssl >/dev/null
    [ $policy_added -eq 1 ] && rm -f /usr/sbin/policy-rc.d
    command -v dovecot >/dev/null 2>&1 || die "dovecot could not be installed"
}

master_pid() {
    local f="$dir/run/master.pid"
    [ -f "$f" ] || return 1
    local pid
    pid=$(cat "$f" 2>/dev/null) || return 1
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 1
    echo "$pid"
}

# stop_server [crash]: asks the master to end and waits for it; the processes
# that serve connections (imap-login, imap) are killed at once, so that no
# session outlives the server (left alone, a session busy with a long FETCH goes
# on serving it after the master has ended). With "crash" every process of the
# server is killed at once, as a crash would end them (and without the seconds
# the master takes over an orderly end).
stop_server() {
    local pid
    pid=$(master_pid) || { rm -f "$dir/run/master.pid"; return 0; }
    local children
    if [ "${1:-}" = crash ]; then
        children=$(ps -o pid= --ppid "$pid" 2>/dev/null)
        kill -KILL "$pid" 2>/dev/null || true
    else
        children=$(ps -o pid=,comm= --ppid "$pid" 2>/dev/null | awk '$2 == "imap" || $2 == "imap-login" { print $1 }')
        kill -TERM "$pid" 2>/dev/null || true
    fi
    [ -z "$children" ] || kill -KILL $children 2>/dev/null || true
    local i
    for i in $(seq 1 200); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    if kill -0 "$pid" 2>/dev/null; then
        kill -KILL "$pid" 2>/dev/null || true
        sleep 0.2
    fi
    rm -f "$dir/run/master.pid"
}

port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

pick_port() {
    local p i
    for i in $(seq 1 200); do
        p=$(( 20000 + (RANDOM * 32768 + RANDOM) % 40000 ))
        port_in_use "$p" || { echo "$p"; return 0; }
    done
    die "no free port found"
}

make_certificates() {
    local d=$dir
    rm -f "$d/ca.key" "$d/ca.pem" "$d/server.key" "$d/server.csr" "$d/server.pem" "$d/ca.srl" \
        "$d/other-name.key" "$d/other-name.pem"
    openssl req -x509 -newkey rsa:2048 -nodes -days 30 -sha256 \
        -keyout "$d/ca.key" -out "$d/ca.pem" -subj "/CN=Vellumcast throw-away test CA" \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
        2>/dev/null
    server_certificate server localhost "IP:127.0.0.1,DNS:localhost"
    server_certificate other-name imap.other-name.test "DNS:imap.other-name.test"
    rm -f "$d/ca.srl"
    chmod 600 "$d/ca.key"
    chmod 644 "$d/ca.pem"
}

# server_certificate NAME CN SUBJECT_ALT_NAMES: NAME.pem and NAME.key, signed by the CA.
server_certificate() {
    local d=$dir name=$1 cn=$2 san=$3
    openssl req -newkey rsa:2048 -nodes -keyout "$d/$name.key" -out "$d/$name.csr" \
        -subj "/CN=$cn" 2>/dev/null
    cat > "$d/$name.ext" <<EOF
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=$san
EOF
    openssl x509 -req -in "$d/$name.csr" -CA "$d/ca.pem" -CAkey "$d/ca.key" -CAcreateserial \
        -days 30 -sha256 -extfile "$d/$name.ext" -out "$d/$name.pem" 2>/dev/null
    rm -f "$d/$name.csr" "$d/$name.ext"
    chmod 600 "$d/$name.key"
    chmod 644 "$d/$name.pem"
}

write_config() {
    local port=$1 dh=""
    [ -f /usr/share/dovecot/dh.pem ] && dh="ssl_dh = </usr/share/dovecot/dh.pem"
    cat > "$conf" <<EOF
# Generated by test-server.sh; throw-away server for the tests.
base_dir = $dir/run
state_dir = $dir/state
instance_name = vc-test-$port
log_path = $dir/dovecot.log
info_log_path = $dir/dovecot.log
protocols = imap
listen = 127.0.0.1, $OTHER_NAME_HOST
shutdown_clients = yes

ssl = required
ssl_cert = <$dir/server.pem
ssl_key = <$dir/server.key
$dh
local $OTHER_NAME_HOST {
  ssl_cert = <$dir/other-name.pem
  ssl_key = <$dir/other-name.key
}
disable_plaintext_auth = yes
auth_mechanisms = plain login xoauth2 oauthbearer
# Tests refuse logins on purpose: no delays after failures, and no growing
# penalty per address (its anvil socket is closed below).
auth_failure_delay = 0

passdb {
  driver = passwd-file
  mechanisms = plain login none
  args = scheme=PLAIN username_format=%u $area/users
}
passdb {
  driver = oauth2
  mechanisms = xoauth2 oauthbearer
  args = $area/oauth2.conf.ext
}
userdb {
  driver = static
  args = uid=nobody gid=nogroup home=$area/mail/%u
}
mail_location = maildir:~
first_valid_uid = 1
mail_privileged_group =

namespace inbox {
  inbox = yes
  separator = /
  mailbox Drafts {
    special_use = \\Drafts
  }
  mailbox Sent {
    special_use = \\Sent
  }
  mailbox Junk {
    special_use = \\Junk
  }
  mailbox Deleted {
    special_use = \\Trash
  }
  mailbox "Sent Items" {
    special_use = \\Sent
  }
  mailbox "Junk Email" {
    special_use = \\Junk
  }
  mailbox "Deleted Items" {
    special_use = \\Trash
  }
}

service imap-login {
  inet_listener imap {
    port = 0
  }
  inet_listener imaps {
    address = 127.0.0.1, $OTHER_NAME_HOST
    port = $port
    ssl = yes
  }
}
service anvil {
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
service stats {
  unix_listener stats-reader {
    mode = 0600
  }
  unix_listener stats-writer {
    mode = 0666
  }
}
EOF
}

# Dovecot asks the provider stand-in whether a bearer token is active and whose it is.
write_oauth2_config() {
    local oport=$1
    cat > "$area/oauth2.conf.ext" <<EOF
introspection_mode = post
introspection_url = http://127.0.0.1:$oport/introspect
force_introspection = yes
username_attribute = username
active_attribute = active
active_value = true
EOF
    chmod 644 "$area/oauth2.conf.ext"
}

provider_pid() {
    local f="$dir/oauth-provider.pid" pid
    [ -f "$f" ] || return 1
    pid=$(cat "$f" 2>/dev/null) || return 1
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 1
    echo "$pid"
}

stop_provider() {
    local pid i
    if pid=$(provider_pid); then
        kill -TERM "$pid" 2>/dev/null || true
        for i in $(seq 1 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$pid" 2>/dev/null || true
    fi
    rm -f "$dir/oauth-provider.pid" "$dir/oauth-port"
}

# Starts the provider stand-in on a free port of 127.0.0.1 and prints that port.
start_provider() {
    command -v python3 >/dev/null 2>&1 || die "python3 is needed for the OAuth provider stand-in"
    rm -f "$dir/oauth-port"
    setsid python3 "$(dirname "$0")/oauth-provider.py" --port-file "$dir/oauth-port" \
        </dev/null >>"$dir/oauth-provider.log" 2>&1 &
    echo $! > "$dir/oauth-provider.pid"
    local i
    for i in $(seq 1 150); do
        [ -s "$dir/oauth-port" ] && { cat "$dir/oauth-port"; return 0; }
        provider_pid >/dev/null || break
        sleep 0.1
    done
    die "the OAuth provider stand-in did not start (see $dir/oauth-provider.log)"
}

write_users() {
    printf '%s' "$TESTER_PASSWORD" > "$dir/password"
    printf '%s' "$QUOTER_PASSWORD" > "$dir/password2"
    printf '%s' "$SPECIAL_PASSWORD" > "$dir/password3"
    printf '%s' "$DEMO_PASSWORD" > "$dir/password-demo"
    {
        printf 'tester:{PLAIN}%s::::::\n' "$TESTER_PASSWORD"
        printf 'quoter:{PLAIN}%s::::::\n' "$QUOTER_PASSWORD"
        printf 'special:{PLAIN}%s::::::\n' "$SPECIAL_PASSWORD"
        printf 'demo:{PLAIN}%s::::::\n' "$DEMO_PASSWORD"
    } > "$area/users"
    chmod 644 "$area/users" "$dir/password" "$dir/password2" "$dir/password3" "$dir/password-demo"
}

# Creates the folder set of a user; missing ones only.
create_folders() {
    local user=$1 f
    mkdir -p "$dir/mail/$user"
    chown nobody:nogroup "$dir/mail" "$dir/mail/$user"
    local existing
    existing=$(doveadm_ mailbox list -u "$user" 2>/dev/null || true)
    local missing=()
    while IFS= read -r f; do
        grep -qxF -- "$f" <<<"$existing" || missing+=("$f")
    done < <(folders_of "$user")
    if [ ${#missing[@]} -gt 0 ]; then
        doveadm_ mailbox create -u "$user" -s "${missing[@]}"
    fi
    # INBOX is created on first access; make sure it exists and is subscribed.
    doveadm_ mailbox status -u "$user" messages INBOX >/dev/null
}

wait_ready() {
    local port=$1 i out
    for i in $(seq 1 60); do
        # The daemon writes its pid file a moment after the dovecot command has
        # returned: no file yet is not an end, a file whose process is gone is.
        if ! master_pid >/dev/null && { [ -f "$dir/run/master.pid" ] || [ "$i" -gt 8 ]; }; then
            tail -n 20 "$dir/dovecot.log" >&2 2>/dev/null || true
            die "dovecot ended during start-up (see $dir/dovecot.log)"
        fi
        out=$( { sleep 0.5; printf 'a LOGOUT\r\n'; } |
              timeout 5 openssl s_client -quiet -connect "127.0.0.1:$port" -CAfile "$dir/ca.pem" \
                  -verify_return_error -verify_ip 127.0.0.1 2>/dev/null || true)
        if grep -q '^\* OK' <<<"$out"; then
            return 0
        fi
        sleep 0.25
    done
    die "dovecot does not answer on 127.0.0.1:$port"
}

cmd_start() {
    [ "$(id -u)" -eq 0 ] || die "start must run as root"
    ensure_dovecot
    stop_server
    stop_provider
    chmod 755 "$dir"
    # Every start begins with empty mailboxes. The area an earlier start made
    # in /var/tmp goes too, but only when the link really leads to one of ours:
    # resolved, it must be /var/tmp/vc-test-server.XXXXXX/mail exactly, in a
    # folder of ours (a link with "..", through another link or to any other
    # place loses only the link itself).
    local old area_dir
    if [ -L "$dir/mail" ] && old=$(realpath -e "$dir/mail" 2>/dev/null); then
        area_dir=${old%/mail}
        if [ "$old" = "$area_dir/mail" ] && [ "$(dirname "$area_dir")" = /var/tmp ] &&
            [[ $(basename "$area_dir") =~ ^vc-test-server\.[A-Za-z0-9]{6}$ ]] &&
            [ "$(stat -c %u "$area_dir")" = "$(id -u)" ]; then
            rm -rf "$area_dir"
        fi
    fi
    rm -rf "$dir/mail" "$dir/state"
    mkdir -p "$dir/run" "$dir/state"
    chmod 755 "$dir/run"
    # The auth process (user dovecot) and the mail processes (nobody) must reach
    # the password file and the maildirs. When DIR lies below a private folder
    # (a home directory, say) those live in /var/tmp and DIR/mail links there.
    area=$dir
    if ! runuser -u nobody -- test -x "$dir" 2>/dev/null; then
        area=$(mktemp -d /var/tmp/vc-test-server.XXXXXX)
        chmod 755 "$area"
        mkdir "$area/mail"
        ln -s "$area/mail" "$dir/mail"
    else
        mkdir "$dir/mail"
    fi
    chmod 755 "$dir/mail"
    chown nobody:nogroup "$dir/mail"
    : > "$dir/dovecot.log"
    : > "$dir/oauth-provider.log"
    local port oport
    port=$(pick_port)
    oport=$(start_provider)
    make_certificates
    write_users
    write_oauth2_config "$oport"
    write_config "$port"
    rm -f "$dir/port" "$dir/other-name-host"
    # Detached from our output: whoever waits for this script must not wait for dovecot.
    dovecot -c "$conf" </dev/null >>"$dir/dovecot.log" 2>&1 || die "dovecot did not start (see $dir/dovecot.log)"
    wait_ready "$port"
    local u
    for u in "${USERS[@]}"; do
        create_folders "$u"
    done
    echo "$OTHER_NAME_HOST" > "$dir/other-name-host"
    echo "$port" > "$dir/port"
    echo "test server on 127.0.0.1:$port (state in $dir)"
}

cmd_stop() {
    stop_server
    stop_provider
    rm -f "$dir/port"
}

cmd_kick() {
    local user=${1:-tester} pid killed=0
    master_pid >/dev/null || die "the server is not running"
    for pid in $(doveadm_ who -1 "$user" 2>/dev/null | awk 'NR > 1 && $2 == "imap" { print $3 }'); do
        kill -KILL "$pid" 2>/dev/null && killed=$((killed + 1))
    done
    echo "killed $killed IMAP process(es) of $user"
}

cmd_restart() {
    [ "$(id -u)" -eq 0 ] || die "restart must run as root"
    [ -f "$dir/port" ] && [ -f "$conf" ] || die "the server was never started in $dir"
    stop_server crash
    dovecot -c "$conf" </dev/null >>"$dir/dovecot.log" 2>&1 || die "dovecot did not start (see $dir/dovecot.log)"
    wait_ready "$(cat "$dir/port")"
    echo "test server restarted on 127.0.0.1:$(cat "$dir/port")"
}

cmd_reset() {
    local user=${1:-tester}
    master_pid >/dev/null || die "the server is not running"
    local boxes=() b
    while IFS= read -r b; do
        [ -n "$b" ] && boxes+=("$b")
    done < <(doveadm_ mailbox list -u "$user")
    # Drop folders outside the standard set (children first), empty the rest.
    local wanted extra=()
    wanted=$(printf 'INBOX\n'; folders_of "$user")
    for b in "${boxes[@]}"; do
        grep -qxF -- "$b" <<<"$wanted" || extra+=("$b")
    done
    if [ ${#extra[@]} -gt 0 ]; then
        mapfile -t extra < <(printf '%s\n' "${extra[@]}" | awk '{ print length($0) "\t" $0 }' | sort -rn | cut -f2-)
        doveadm_ mailbox delete -u "$user" -s "${extra[@]}" || true
    fi
    doveadm_ expunge -u "$user" mailbox '*' all
    create_folders "$user"
}

cmd_deliver() {
    [ $# -ge 1 ] || usage
    local folder user
    folder=$(mailbox_name "$1")
    user=${2:-tester}
    master_pid >/dev/null || die "the server is not running"
    local tmp
    tmp=$(mktemp)
    trap 'rm -f "$tmp"' RETURN
    cat > "$tmp"
    if ! doveadm_ save -u "$user" -m "$folder" < "$tmp" 2>/dev/null; then
        doveadm_ mailbox create -u "$user" -s "$folder" 2>/dev/null || true
        doveadm_ save -u "$user" -m "$folder" < "$tmp"
    fi
}

# The maildir of USER's FOLDER (created when missing), ready for files in tmp/.
folder_maildir() {
    local user=$1 folder=$2 path
    master_pid >/dev/null || die "the server is not running"
    doveadm_ mailbox create -u "$user" -s "$folder" 2>/dev/null || true
    path=$(doveadm_ mailbox path -u "$user" "$folder")
    [ -d "$path" ] || die "no maildir for $folder"
    mkdir -p "$path/new" "$path/tmp" "$path/cur"
    echo "$path"
}

# Moves the files of tmp/ matching PATTERN to new/ (unseen) and lets dovecot index them.
publish_new() {
    local path=$1 pattern=$2 user=$3 folder=$4
    find "$path/tmp" -maxdepth 1 -name "$pattern" -exec mv -t "$path/new/" {} +
    chown -R nobody:nogroup "$path"
    doveadm_ force-resync -u "$user" "$folder"
}

# Generates COUNT messages straight into the folder's maildir "new/" (unseen), then
# lets dovecot index them.
cmd_fill() {
    [ $# -ge 2 ] || usage
    local folder count user
    folder=$(mailbox_name "$1")
    count=$2
    user=${3:-tester}
    [[ $count =~ ^[0-9]+$ ]] || die "COUNT must be a number"
    local path
    path=$(folder_maildir "$user" "$folder")

    # Building blocks, made once.
    local para="Line of the message body with some words to look for: alpha beta gamma delta."
    local text="" i
    for i in $(seq 1 40); do text+="$i. $para"$'\r\n'; done
    local big=""
    for i in $(seq 1 62); do big+="$text"; done          # ~200 KiB
    local qp
    qp=$(printf 'Grüße aus Köln, déjà vu: %s=\r\n' "$para" | sed 's/ü/=FC/g; s/ö/=F6/g; s/é/=E9/g; s/à/=E0/g')
    local b64
    b64=$(printf '%s' "$text" | base64 -w 76 | sed 's/$/\r/')
    local html="<html><body><p>Hello <b>there</b> &amp; welcome</p><div>Second line</div></body></html>"

    local stamp host n kind date start
    stamp=$(date +%s)
    host=$(hostname -s 2>/dev/null || echo host)
    start=$(date +%s%N)
    for ((n = 1; n <= count; n++)); do
        local f="$path/tmp/$stamp.M${n}P$$.$host"
        printf -v date "Date: Mon, 2 Jun 2025 %02d:%02d:%02d +0200" $((n / 3600 % 24)) $((n / 60 % 60)) $((n % 60))
        local head="From: \"Sender $((n % 97))\" <sender$((n % 97))@example.org>"$'\r\n'"To: tester@example.org"$'\r\n'"Subject: Generated message $n"$'\r\n'"$date"$'\r\n'"Message-ID: <fill-$stamp-$n@example.org>"$'\r\n'"MIME-Version: 1.0"$'\r\n'
        if (( n % 50 == 0 )); then
            kind="Content-Type: text/plain; charset=utf-8"$'\r\n\r\n'"$big"
        else
            case $((n % 4)) in
                0) kind="Content-Type: text/plain; charset=utf-8"$'\r\n\r\n'"$text" ;;
                1) kind="Content-Type: multipart/alternative; boundary=\"b$n\""$'\r\n\r\n'"--b$n"$'\r\n'"Content-Type: text/plain; charset=utf-8"$'\r\n\r\n'"$text"$'\r\n'"--b$n"$'\r\n'"Content-Type: text/html; charset=utf-8"$'\r\n\r\n'"$html"$'\r\n'"--b$n--"$'\r\n' ;;
                2) kind="Content-Type: text/plain; charset=iso-8859-1"$'\r\n'"Content-Transfer-Encoding: quoted-printable"$'\r\n\r\n'"$qp"$'\r\n'"$text" ;;
                3) kind="Content-Type: text/plain; charset=utf-8"$'\r\n'"Content-Transfer-Encoding: base64"$'\r\n\r\n'"$b64"$'\n' ;;
            esac
        fi
        printf '%s%s' "$head" "$kind" > "$f"
    done
    publish_new "$path" "$stamp.M*P$$.*" "$user" "$folder"
    local ms=$(( ($(date +%s%N) - start) / 1000000 ))
    echo "filled $folder of $user with $count messages in ${ms} ms"
}

# Copies every file of SRCDIR (one raw message each) into the folder, unseen. Maildir
# names begin with a time stamp and dovecot numbers new mail in stamp order, so the
# files' name order becomes the folder's message order.
cmd_load() {
    [ $# -ge 2 ] || usage
    local folder src user
    folder=$(mailbox_name "$1")
    src=$2
    user=${3:-tester}
    [ -d "$src" ] || die "no folder $src"
    local path
    path=$(folder_maildir "$user" "$folder")
    # One process for all files: a fork per file costs more than the copy.
    local n
    n=$(python3 - "$src" "$path/tmp" "$$" <<'EOF'
import os, shutil, sys, time
src, tmp, pid = sys.argv[1:]
base = int(time.time())
names = sorted(n for n in os.listdir(src) if os.path.isfile(os.path.join(src, n)))
for i, name in enumerate(names, 1):
    shutil.copyfile(os.path.join(src, name), os.path.join(tmp, "%d.M%dP%s.load" % (base + i, i, pid)))
print(len(names))
EOF
)
    publish_new "$path" "*.M*P$$.load" "$user" "$folder"
    echo "loaded $n messages into $folder of $user"
}

case $cmd in
    start) cmd_start ;;
    stop) cmd_stop ;;
    reset) cmd_reset "$@" ;;
    deliver) cmd_deliver "$@" ;;
    fill) cmd_fill "$@" ;;
    load) cmd_load "$@" ;;
    kick) cmd_kick "$@" ;;
    restart) cmd_restart ;;
    doveadm) master_pid >/dev/null || die "the server is not running"; doveadm_ "$@" ;;
    *) usage ;;
esac
