#!/usr/bin/env python3
"""Baselines for the walk benchmarks: log in over TLS, select a folder, fetch
its messages with BODY.PEEK[] and log out; nothing is decoded.

    imap_fetch_loop.py --port P --ca-file CA --user U --password-file F
                       [--bulk] [--limit N]

Without --bulk: one FETCH per message (a round trip each), of the first N
messages when --limit is given. With --bulk: one `FETCH 1:* (BODY.PEEK[])`.
Prints "<messages> messages, <bytes> bytes" on standard error."""
import argparse
import imaplib
import ssl
import sys


def main() -> int:
    ap = argparse.ArgumentParser()
    ap.add_argument("--host", default="127.0.0.1")
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--ca-file", required=True)
    ap.add_argument("--user", required=True)
    ap.add_argument("--password-file", required=True)
    ap.add_argument("--folder", default="INBOX")
    ap.add_argument("--bulk", action="store_true", help="one FETCH 1:* for the whole folder")
    ap.add_argument("--limit", type=int, default=0, help="one by one: only the first N messages")
    a = ap.parse_args()

    with open(a.password_file, encoding="utf-8") as f:
        password = f.readline().rstrip("\r\n")
    ctx = ssl.create_default_context(cafile=a.ca_file)
    imap = imaplib.IMAP4_SSL(a.host, a.port, ssl_context=ctx)
    imap.login(a.user, password)
    typ, data = imap.select(a.folder, readonly=True)
    if typ != "OK":
        print("select failed", file=sys.stderr)
        return 4
    count = int(data[0])
    total = 0
    fetched = 0
    if a.bulk:
        typ, data = imap.fetch("1:*", "(BODY.PEEK[])")
        for item in data if typ == "OK" else []:
            if isinstance(item, tuple):
                total += len(item[1])
                fetched += 1
    else:
        last = min(count, a.limit) if a.limit > 0 else count
        for n in range(1, last + 1):
            typ, data = imap.fetch(str(n), "(BODY.PEEK[])")
            if typ == "OK" and data and isinstance(data[0], tuple):
                total += len(data[0][1])
                fetched += 1
    imap.logout()
    print(f"{fetched} messages, {total} bytes", file=sys.stderr)
    return 0 if fetched > 0 or count == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
