#!/usr/bin/env python3
"""Baseline for the walk benchmark: log in over TLS, select a folder and fetch
every message once with BODY.PEEK[], one FETCH per message, nothing else."""
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
    for n in range(1, count + 1):
        typ, data = imap.fetch(str(n), "(BODY.PEEK[])")
        if typ == "OK" and data and isinstance(data[0], tuple):
            total += len(data[0][1])
    imap.logout()
    print(f"{count} messages, {total} bytes", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
