# Shared by the bench-*.sh scripts (sourced, not run).
#
# Expects: root (the repository), here (scripts/bench), bin (holds vellumcast-cli),
# state (the server's state folder), runs (timed runs per command).

cli="$bin/vellumcast-cli"
[ -x "$cli" ] || { echo "no vellumcast-cli in $bin" >&2; exit 1; }
command -v /usr/bin/time >/dev/null || { echo "needs /usr/bin/time (apt-get install time)" >&2; exit 1; }

bench_started=0
proxy_pid=""
bench_cleanup() {
    if [ -n "$proxy_pid" ]; then kill "$proxy_pid" 2>/dev/null || true; wait "$proxy_pid" 2>/dev/null || true; fi
    proxy_pid=""
    if [ "$bench_started" = 1 ]; then bash "$root/scripts/test-server.sh" stop "$state" >/dev/null; fi
}
trap bench_cleanup EXIT

server_running() {  # the state folder's server answers on its port
    [ -s "$state/port" ] && (exec 3<>"/dev/tcp/127.0.0.1/$(cat "$state/port")") 2>/dev/null
}

# bench_server: starts the server unless it runs (a new server holds none of
# the folders filled before), then sets port and log.
bench_server() {
    if ! server_running; then
        rm -f "$state"/bench-filled-*
        bash "$root/scripts/test-server.sh" start "$state" >/dev/null
        bench_started=1
    fi
    port=$(cat "$state/port")
    log="$state/bench-errorlog.txt"
}

# bench_folder FOLDER COUNT [SHAPE]: starts the server unless it runs and fills
# FOLDER of "tester" with COUNT generated messages of SHAPE (see shape_folder).
# A folder filled with that count and shape by an earlier call on the same
# running server is kept (filling 100,000 takes minutes).
bench_folder() {
    local folder=$1 count=$2 shape=${3:-varied} mark="$state/bench-filled-$1"
    bench_server
    if [ "$(cat "$mark" 2>/dev/null)" != "$(cat "$state/port") $count $shape" ]; then
        local box=$folder
        [ "${box^^}" = INBOX ] && box=INBOX
        doveadm -c "$state/dovecot.conf" expunge -u tester mailbox "$box" all 2>/dev/null || true
        case $shape in
            varied) bash "$root/scripts/test-server.sh" fill "$state" "$folder" "$count" tester ;;
            small | dated)
                local gen
                gen=$(mktemp -d)
                local days=()
                [ "$shape" = dated ] && days=(--days "$bench_dated_days")
                python3 "$here/gen_small_mail.py" "$gen" "$count" "${days[@]}"
                bash "$root/scripts/test-server.sh" load "$state" "$folder" "$gen" tester
                rm -rf "$gen"
                ;;
            *) echo "unknown shape $shape (varied, small or dated)" >&2; exit 2 ;;
        esac
        echo "$(cat "$state/port") $count $shape" >"$mark"
    fi
    port=$(cat "$state/port")
    log="$state/bench-errorlog.txt"
}

# The two shapes of mail, each in a folder of its own: "varied" (test-server.sh
# fill: a few KiB each, every 50th about 200 KiB, plain, multipart, quoted-
# printable and base64 bodies) in Inbox, "small" (gen_small_mail.py: many small
# messages of short lines, every 20th large, the header block of real mail) in
# "Small"; "dated" (the small shape spread over bench_dated_days days, the same
# number of messages each day, see gen_small_mail.py --days) in "Dated".
# shape_folder SHAPE prints the folder, shape_subject SHAPE the start of each
# message's subject.
bench_dated_days=100
shape_folder() {
    case $1 in
        small) echo Small ;;
        dated) echo Dated ;;
        *) echo Inbox ;;
    esac
}
shape_subject() { if [ "$1" = varied ]; then echo "Generated message "; else echo "Small message "; fi; }

# The second vellumcast-cli timed beside the first: BEFORE_BIN_DIR (an older build).
before=""
if [ -n "${BEFORE_BIN_DIR:-}" ]; then
    before="$(cd "$BEFORE_BIN_DIR" && pwd)/vellumcast-cli"
    [ -x "$before" ] || { echo "no vellumcast-cli in $BEFORE_BIN_DIR" >&2; exit 1; }
fi
# A command line of vellumcast-cli run with the older build.
with_before() { echo "$before ${1#"$cli "}"; }

# Waits (up to BENCH_WAIT seconds, default 900) until the machine's one-minute
# load is below BENCH_MAX_LOAD (default 1.0; 0 does not wait): on a shared
# machine wall times taken under load say little.
wait_quiet() {
    local max=${BENCH_MAX_LOAD:-1.0} waited=0 limit=${BENCH_WAIT:-900}
    awk -v m="$max" 'BEGIN { exit !(m > 0) }' || return 0
    while awk -v l="$(cut -d' ' -f1 /proc/loadavg)" -v m="$max" 'BEGIN { exit !(l >= m) }'; do
        if [ "$waited" -ge "$limit" ]; then
            echo "(load still $(cut -d' ' -f1 /proc/loadavg) after ${limit} s: measuring anyway)" >&2
            return 0
        fi
        sleep 15
        waited=$((waited + 15))
    done
}

# After a measurement: a warning when the load rose meanwhile beyond what the
# benchmark itself adds (the program and the server keep up to two cores busy,
# so the one-minute load after a table is about 2 on an otherwise idle machine).
load_warning() {
    local max=${BENCH_MAX_LOAD:-1.0}
    if awk -v l="$(cut -d' ' -f1 /proc/loadavg)" -v m="$max" 'BEGIN { exit !(m > 0 && l >= m + 2) }'; then
        echo "warning: load $(cut -d' ' -f1 /proc/loadavg) above $max + 2: other work ran meanwhile, repeat these figures"
    fi
}

# start_proxy DELAY_MS: a delaying proxy in front of the server; sets proxy_port.
start_proxy() {
    local fifo
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    python3 "$here/latency_proxy.py" --target-port "$port" --delay-ms "$1" >"$fifo" &
    proxy_pid=$!
    read -r _ _ proxy_port <"$fifo"
    rm -f "$fifo"
    [ -n "$proxy_port" ] || { echo "the latency proxy did not start" >&2; exit 1; }
}

stop_proxy() {
    if [ -n "$proxy_pid" ]; then kill "$proxy_pid" 2>/dev/null || true; wait "$proxy_pid" 2>/dev/null || true; fi
    proxy_pid=""
}

# The commands compared, against PORT (and FOLDER). The program's runs fetch
# every message (--no-cache); bench-cache.sh times the local mail copy.
cli_all() { echo "$cli --user tester --password-file $state/password --server 127.0.0.1:$1 --ca-file $state/ca.pem --folder ${2:-Inbox} --rule all --format text --error-log $log --no-cache"; }
cli_few() { echo "$cli --user tester --password-file $state/password --server 127.0.0.1:$1 --ca-file $state/ca.pem --folder ${2:-Inbox} --rule containing --text no-such-text-anywhere --format text --error-log $log --no-cache"; }
py_bulk() { echo "python3 $here/imap_fetch_loop.py --port $1 --ca-file $state/ca.pem --user tester --password-file $state/password --folder ${2:-INBOX} --bulk"; }
py_each() { echo "python3 $here/imap_fetch_loop.py --port $1 --ca-file $state/ca.pem --user tester --password-file $state/password --folder ${2:-INBOX} ${3:+--limit $3}"; }

# measure CMD1 CMD2 ...: each argument a whole command line (split at blanks).
# The commands run in turn, round after round, $runs rounds, so a change of the
# machine's load hits them alike; output goes to /dev/null and the fetch log is
# removed before each run. Sets secs[i] (best wall time, seconds), cpu[i] (user
# plus system CPU seconds of that run), mcpu[i] (the CPU seconds the whole
# machine spent during that run: the program, the server and everything else)
# and rss[i] (largest peak resident set, MiB) per command. A failed run ends
# the benchmark.
measure() {
    local i k out e m u s before after
    local -a cmd
    out=$(mktemp)
    secs=(); rss=(); cpu=(); mcpu=()
    for ((i = 0; i < runs; i++)); do
        for ((k = 1; k <= $#; k++)); do
            read -r -a cmd <<<"${!k}"
            rm -f "$log"
            before=$(machine_ticks)
            if ! /usr/bin/time -f '%e %M %U %S' -o "$out" "${cmd[@]}" >/dev/null 2>"$out.err"; then
                echo "failed: ${!k}" >&2
                tail -n 5 "$out.err" >&2
                rm -f "$out" "$out.err"
                exit 1
            fi
            after=$(machine_ticks)
            read -r e m u s <"$out"
            if [ -z "${secs[k]:-}" ] || awk -v a="$e" -v b="${secs[k]}" 'BEGIN { exit !(a < b) }'; then
                secs[k]=$e
                cpu[k]=$(awk -v u="$u" -v s="$s" 'BEGIN { printf "%.2f", u + s }')
                mcpu[k]=$(awk -v a="$before" -v b="$after" -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%.2f", (b - a) / hz }')
            fi
            m=$((m / 1024))
            if [ -z "${rss[k]:-}" ] || [ "$m" -gt "${rss[k]}" ]; then rss[k]=$m; fi
        done
    done
    rm -f "$out" "$out.err"
}

# machine_ticks: the clock ticks all CPUs of the machine have spent busy so
# far (user, nice, system, interrupts), from /proc/stat.
machine_ticks() { awk '/^cpu / { print $2 + $3 + $4 + $7 + $8; exit }' /proc/stat; }

# round_trips PORT CMD: the connections and round trips one run of CMD (a whole
# command line) makes to PORT, counted from an strace log (round_trips.py).
round_trips() {
    local out
    local -a cmd
    out=$(mktemp)
    read -r -a cmd <<<"$2"
    rm -f "$log"
    command -v strace >/dev/null || { echo "(no strace: round trips not counted)"; return 0; }
    strace -f -e trace=network,read,write,close -o "$out" "${cmd[@]}" >/dev/null 2>&1 || true
    python3 "$here/round_trips.py" "$out" "$1"
    rm -f "$out"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "-" }'; }

load_note() { echo "uptime: $(uptime) ($(nproc) cores)"; }
