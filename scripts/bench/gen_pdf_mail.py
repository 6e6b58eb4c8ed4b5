#!/usr/bin/env python3
"""Writes one raw message carrying a generated PDF invoice of PAGES pages
(LINES text lines a page, each a table row of three cells, the standard
Helvetica font, Flate-compressed page contents) to standard output, or the
PDF alone with --pdf.

    gen_pdf_mail.py [PAGES] [LINES] [--pdf]

Line l of page p reads "Invoice 7001 page p line l: widget 3 x 4.50 = 13.50"
(the cells: that text up to the colon, "widget 3 x 4.50", "= 13.50");
the last page ends with "Total due: 118.45 EUR". The message: a short plain
text body and the PDF as a base64 attachment "invoice-7001.pdf"."""
import argparse
import base64
import sys
import zlib


def pdf(pages: int, lines: int) -> bytes:
    objects = []  # object n + 1 is objects[n]

    def add(body: bytes) -> int:
        objects.append(body)
        return len(objects)

    catalog = add(b"")  # filled in once the page tree is known
    tree = add(b"")
    font = add(b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>")
    kids = []
    for p in range(1, pages + 1):
        text = ["BT /F1 10 Tf"]
        y = 800
        for l in range(1, lines + 1):
            text.append("1 0 0 1 50 %d Tm (Invoice 7001 page %d line %d:) Tj" % (y, p, l))
            text.append("1 0 0 1 250 %d Tm (widget 3 x 4.50) Tj" % y)
            text.append("1 0 0 1 400 %d Tm (= 13.50) Tj" % y)
            y -= 12
        if p == pages:
            text.append("1 0 0 1 50 %d Tm (Total due: 118.45 EUR) Tj" % y)
        text.append("ET")
        stream = zlib.compress("\n".join(text).encode("ascii"))
        content = add(b"<< /Length %d /Filter /FlateDecode >>\nstream\n%s\nendstream" % (len(stream), stream))
        kids.append(add(b"<< /Type /Page /Parent %d 0 R /MediaBox [0 0 595 842] "
                        b"/Resources << /Font << /F1 %d 0 R >> >> /Contents %d 0 R >>" % (tree, font, content)))
    objects[catalog - 1] = b"<< /Type /Catalog /Pages %d 0 R >>" % tree
    objects[tree - 1] = b"<< /Type /Pages /Kids [%s] /Count %d >>" % (
        b" ".join(b"%d 0 R" % k for k in kids), len(kids))

    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for n, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n%s\nendobj\n" % (n, body)
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for o in offsets:
        out += b"%010d 00000 n \n" % o
    out += b"trailer\n<< /Size %d /Root %d 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, catalog, xref)
    return bytes(out)


def message(data: bytes) -> bytes:
    b64 = base64.b64encode(data).decode("ascii")
    lines = "".join(b64[i:i + 76] + "\r\n" for i in range(0, len(b64), 76))
    return ("From: Billing <billing@example.org>\r\nTo: tester@example.org\r\nSubject: Invoice 7001\r\n"
            "Date: Mon, 2 Jun 2025 10:00:00 +0200\r\nMessage-ID: <invoice-7001@example.org>\r\nMIME-Version: 1.0\r\n"
            "Content-Type: multipart/mixed; boundary=\"inv\"\r\n\r\n--inv\r\n"
            "Content-Type: text/plain; charset=utf-8\r\n\r\nYour invoice is attached.\r\n--inv\r\n"
            "Content-Type: application/pdf; name=\"invoice-7001.pdf\"\r\n"
            "Content-Disposition: attachment; filename=\"invoice-7001.pdf\"\r\n"
            "Content-Transfer-Encoding: base64\r\n\r\n" + lines + "--inv--\r\n").encode("ascii")


def main() -> int:
    ap = argparse.ArgumentParser()
    ap.add_argument("pages", nargs="?", type=int, default=100)
    ap.add_argument("lines", nargs="?", type=int, default=40)
    ap.add_argument("--pdf", action="store_true", help="write the PDF alone")
    a = ap.parse_args()
    data = pdf(a.pages, a.lines)
    sys.stdout.buffer.write(data if a.pdf else message(data))
    return 0


if __name__ == "__main__":
    sys.exit(main())
