#!/usr/bin/env python3
"""The waits of a vellumcast-cli walk, from an strace log of it:

    strace -f -T -e trace=poll,ppoll,futex -o walk.strace \\
        build/bin/vellumcast-cli ... >/dev/null
    scripts/bench/idle_gaps.py walk.strace [MIN_MS]

For the main thread (the first process id of the log) and for the other
threads together: how often and how long they blocked in poll (waiting for
the socket or a timer: the read-ahead ran dry) and in futex waits (one thread
waiting for the other), with the gaps of at least MIN_MS (default 0.1 ms) in
buckets. strace slows every system call down, so the figures are an upper
bound; compare runs of one build with another only when taken alike."""
import re
import sys
from collections import defaultdict

LINE = re.compile(r"^(\d+)\s+(?:\d+:\d+:\d+\.\d+\s+)?(poll|ppoll|futex)\((.*)<([\d.]+)>$")
BUCKETS = [0.1, 0.5, 1, 5, 10, 50, 1e9]


def main() -> int:
    path = sys.argv[1]
    floor = float(sys.argv[2]) if len(sys.argv) > 2 else 0.1
    main_pid = None
    total = defaultdict(float)
    count = defaultdict(int)
    hist = defaultdict(lambda: [0] * len(BUCKETS))
    resumed = {}
    with open(path, errors="replace") as f:
        for raw in f:
            pid_match = re.match(r"^(\d+)\s", raw)
            if not pid_match:
                continue
            pid = int(pid_match.group(1))
            if main_pid is None:
                main_pid = pid
            line = raw.rstrip("\n")
            if "<unfinished ...>" in line:
                resumed[pid] = line.split(" <unfinished")[0]
                continue
            if "resumed>" in line and pid in resumed:
                line = resumed.pop(pid) + line.split("resumed>", 1)[1]
            m = LINE.match(line)
            if not m:
                continue
            call, args, secs = m.group(2), m.group(3), float(m.group(4))
            if call == "futex" and "FUTEX_WAIT" not in args:
                continue
            who = "main" if pid == main_pid else "others"
            key = (who, "poll" if call != "futex" else "futex wait")
            ms = secs * 1000
            total[key] += ms
            count[key] += 1
            if ms >= floor:
                for i, b in enumerate(BUCKETS):
                    if ms < b:
                        hist[key][i] += 1
                        break
    labels = ["<%g ms" % b if b < 1e9 else ">=50 ms" for b in BUCKETS]
    print("%-20s %8s %10s  gaps of at least %g ms: %s" % ("thread, wait", "calls", "ms in all", floor,
                                                      " ".join("%8s" % l for l in labels[1:])))
    for key in sorted(total):
        print("%-20s %8d %10.1f  %s%s" % ("%s, %s" % key, count[key], total[key], " " * 30,
                                        " ".join("%8d" % n for n in hist[key][1:])))
    return 0


if __name__ == "__main__":
    sys.exit(main())
