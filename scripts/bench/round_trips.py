#!/usr/bin/env python3
"""Counts the round trips a program made to a server from an strace log of it
(strace -f -e trace=network,read,write,close -o LOG ...): per connection to
PORT, the connect and every burst of bytes the program sent after bytes had
come back (so the LOGIN sent right behind an ID is no round trip of its own,
and nor is the LOGOUT nothing waits for when nothing comes back). The TLS
handshake counts as its exchanges do.

    round_trips.py LOG PORT

Prints "connections N round trips M".
"""
import re
import sys

OUT = {"write", "send", "sendto", "sendmsg", "writev"}
IN = {"read", "recv", "recvfrom", "recvmsg", "readv"}
call = re.compile(r"^(?:\[pid\s+)?(\d+)\]?\s+(?:\d+\.\d+\s+)?(\w+)\((\d+)(.*)\)\s+=\s+(-?\d+)")
connect_to = re.compile(r"htons\((\d+)\)")


def main() -> None:
    log, port = sys.argv[1], sys.argv[2]
    fds = {}  # (pid, fd) -> "sent" | "got" | "idle"
    connections = trips = 0
    for line in open(log, errors="replace"):
        m = call.match(line)
        if not m:
            continue
        pid, name, fd, rest, result = m.group(1), m.group(2), int(m.group(3)), m.group(4), int(m.group(5))
        key = fd  # threads share descriptors
        if name == "connect":
            p = connect_to.search(rest)
            # A connect that is under way is asked again for its outcome on the same descriptor.
            if p and p.group(1) == port and key not in fds:
                fds[key] = "got"  # the first bytes out (the TLS hello) wait for an answer too
                connections += 1
                trips += 1  # the TCP handshake
            continue
        if key not in fds:
            continue
        if name == "close":
            del fds[key]
        elif name in OUT and result > 0:
            if fds[key] == "got":
                trips += 1
            fds[key] = "sent"
        elif name in IN and result > 0:
            fds[key] = "got"
    print(f"connections {connections} round trips {trips}")


if __name__ == "__main__":
    main()
