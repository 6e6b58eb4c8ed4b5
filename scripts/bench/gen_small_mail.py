#!/usr/bin/env python3
"""Writes COUNT generated messages, one raw message per file, into OUT_DIR, in
the order the folder should hold them (file names sort that way); load them
with `scripts/test-server.sh load STATE FOLDER OUT_DIR`.

    gen_small_mail.py OUT_DIR [COUNT] [--seed N] [--days D]

The shape: many small messages of short lines. 95% have 20 to 200 lines of
1 to 8 words (about 30 bytes a line), every 20th is large (600 to 900 lines);
10,000 make about 75 MB and 1.43 million body lines. A header block of the
usual size (Received, DKIM-like and list fields, encoded words), and the body
kinds mail really comes in: plain UTF-8, plain Latin-1 quoted-printable, plain
base64, multipart/alternative (plain and HTML), HTML only, and plain with a
small attachment. The same seed gives the same bytes. Subjects read "Small
message N"; prints "<count> messages, <bytes> bytes, <lines> body lines" on
standard output.

With --days D the messages are dated over D days from 1 Jan 2025 on, in
order, the same number each day (message n on day (n - 1) * D // COUNT, at
noon give or take an hour): the last P percent of the folder is then what a
search for mail sent since day D - D * P / 100 finds. Without it every
message is dated 2 Jun 2025."""
import argparse
import base64
import datetime
import os
import quopri
import random
import sys

WORDS = ("alpha beta gamma delta epsilon order invoice shipment account meeting "
         "report budget review schedule customer project update request reply "
         "thanks regards please attached details number total amount payment "
         "Grüße déjà Köln naïve café").split()
NAMES = ("Anna Berg", "Bruno Costa", "Chloé Durand", "Dmitri Ivanov", "Eva Jansen", "Farid Haddad",
         "Greta Olsen", "Hiro Tanaka", "Inés Moreno", "Jonas Weber")


def line(rng: random.Random) -> str:
    return " ".join(rng.choice(WORDS) for _ in range(rng.randint(1, 8)))


def html_of(lines) -> str:
    body = "".join("<p>%s</p>\r\n" % l.replace("&", "&amp;") for l in lines)
    return ("<html><head><style>p { margin: 0 }</style></head><body>\r\n" + body
            + "<div>Sent from my <b>phone</b> &amp; tablet</div></body></html>\r\n")


def b64_lines(data: bytes) -> str:
    s = base64.b64encode(data).decode("ascii")
    return "".join(s[i:i + 76] + "\r\n" for i in range(0, len(s), 76))


DAYS = ("Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun")
MONTHS = ("Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec")


def date_of(n: int, count: int, days: int) -> str:
    if days <= 0:
        return "Mon, 2 Jun 2025 %02d:%02d:%02d +0200" % (n // 3600 % 24, n // 60 % 60, n % 60)
    d = datetime.date(2025, 1, 1) + datetime.timedelta(days=(n - 1) * days // count)
    return "%s, %d %s %d %02d:%02d:%02d +0200" % (DAYS[d.weekday()], d.day, MONTHS[d.month - 1], d.year,
                                                 11 + n % 2, n // 60 % 60, n % 60)


def headers(n: int, rng: random.Random, date: str) -> str:
    name = NAMES[n % len(NAMES)]
    addr = name.split()[0].lower().encode("ascii", "ignore").decode() + "%d@example.org" % (n % 31)
    subject = "Small message %d" % n
    h = []
    for hop in range(rng.randint(2, 4)):
        h.append("Received: from mx%d.example.net (mx%d.example.net [192.0.2.%d])\r\n"
                 "\tby mail.example.org with ESMTPS id %08x;\r\n"
                 "\tMon, 2 Jun 2025 10:%02d:%02d +0200" % (hop, hop, n % 250 + 1, rng.getrandbits(32), n % 60, hop))
    h.append("DKIM-Signature: v=1; a=rsa-sha256; d=example.org; s=sel; h=from:to:subject:date;\r\n"
             "\tbh=%s;\r\n\tb=%s" % (b64_lines(rng.randbytes(24)).strip(), b64_lines(rng.randbytes(96)).replace("\r\n", "\r\n\t").strip()))
    if n % 3 == 0:
        quoted = "=?utf-8?b?%s?=" % base64.b64encode(name.encode("utf-8")).decode()
    elif n % 3 == 1:
        quoted = '"%s"' % name
    else:
        quoted = "=?utf-8?q?%s?=" % "".join(
            c if c.isascii() and c.isalnum() else "_" if c == " " else "".join("=%02X" % b for b in c.encode("utf-8"))
            for c in name)
    h.append("From: %s <%s>" % (quoted, addr))
    h.append("To: tester@example.org")
    if n % 5 == 0:
        h.append("Cc: team@example.org, \"Bruno Costa\" <bruno@example.org>")
    h.append("Subject: %s" % subject)
    h.append("Date: " + date)
    h.append("Message-ID: <small-%d.%08x@example.org>" % (n, rng.getrandbits(32)))
    if n % 4 == 0:
        h.append("List-Id: <news.example.org>\r\nList-Unsubscribe: <mailto:leave@example.org>")
    h.append("X-Mailer: Generated %d" % (n % 7))
    h.append("MIME-Version: 1.0")
    return "\r\n".join(h) + "\r\n"


def message(n: int, rng: random.Random, date: str):
    large = n % 20 == 0
    count = rng.randint(600, 900) if large else rng.randint(20, 200)
    lines = [line(rng) for _ in range(count)]
    text = "".join(l + "\r\n" for l in lines)
    kind = rng.random()
    if kind < 0.40:
        body = "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" + text
    elif kind < 0.60:
        b = "alt%d" % n
        body = ("Content-Type: multipart/alternative; boundary=\"%s\"\r\n\r\n--%s\r\n"
                "Content-Type: text/plain; charset=utf-8\r\n\r\n%s\r\n--%s\r\n"
                "Content-Type: text/html; charset=utf-8\r\n\r\n%s\r\n--%s--\r\n") % (b, b, text, b, html_of(lines), b)
    elif kind < 0.75:
        qp = quopri.encodestring(text.encode("iso-8859-1", "replace").replace(b"\r\n", b"\n")).replace(b"\n", b"\r\n")
        body = ("Content-Type: text/plain; charset=iso-8859-1\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
                + qp.decode("ascii"))
    elif kind < 0.85:
        body = ("Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n"
                + b64_lines(text.encode("utf-8")))
    elif kind < 0.95:
        body = "Content-Type: text/html; charset=utf-8\r\n\r\n" + html_of(lines)
    else:
        b = "mix%d" % n
        body = ("Content-Type: multipart/mixed; boundary=\"%s\"\r\n\r\n--%s\r\n"
                "Content-Type: text/plain; charset=utf-8\r\n\r\n%s\r\n--%s\r\n"
                "Content-Type: application/octet-stream; name=\"data%d.bin\"\r\n"
                "Content-Disposition: attachment; filename=\"data%d.bin\"\r\n"
                "Content-Transfer-Encoding: base64\r\n\r\n%s--%s--\r\n") % (
                    b, b, text, b, n, n, b64_lines(rng.randbytes(rng.randint(500, 4000))), b)
    return (headers(n, rng, date) + body).encode("utf-8"), count


def main() -> int:
    ap = argparse.ArgumentParser()
    ap.add_argument("out_dir")
    ap.add_argument("count", nargs="?", type=int, default=10000)
    ap.add_argument("--seed", type=int, default=23)
    ap.add_argument("--days", type=int, default=0)
    a = ap.parse_args()
    os.makedirs(a.out_dir, exist_ok=True)
    rng = random.Random(a.seed)
    total = 0
    lines = 0
    width = len(str(a.count))
    for n in range(1, a.count + 1):
        raw, count = message(n, rng, date_of(n, a.count, a.days))
        with open(os.path.join(a.out_dir, "m%0*d.eml" % (width, n)), "wb") as f:
            f.write(raw)
        total += len(raw)
        lines += count
    print("%d messages, %d bytes, %d body lines" % (a.count, total, lines))
    return 0


if __name__ == "__main__":
    sys.exit(main())
