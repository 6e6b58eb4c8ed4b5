#!/usr/bin/env python3
"""Where the CPU work of one vellumcast-cli walk goes, per message, from a
callgrind profile (instruction counts do not depend on the machine's load):

    valgrind --tool=callgrind --callgrind-out-file=cg.out \\
        build/bin/vellumcast-cli ... --folder Small --rule all >/dev/null
    scripts/bench/callgrind_breakdown.py cg.out MESSAGES [CPU_SECONDS]

Prints the instructions of each step (thousands per message) and, with the
run's CPU seconds (user + system of a run outside valgrind, /usr/bin/time),
the microseconds they stand for, shared out by instructions (an estimate:
steps differ in instructions per second, and system time is spread alike).
Several profiles side by side: give them as cg1.out,cg2.out.

The steps are inclusive costs of the functions named below, chosen so that
they do not nest; what is left (the event loop, socket notifications, the
walk, the read-ahead's and the session's bookkeeping, progress texts) is
"the rest". Costs of connecting and signing in (twice per run) are shown
apart, in instructions per run."""
import os
import re
import subprocess
import sys
import tempfile

# Inlined helpers of the decoder show as calls their callers make.
TRIM = ["vc::mime::withHeaderBlockEnd(QByteArray const&)", "prefix:vc::mime::singlePartBodyStart(",
        "prefix:vc::mime::withRecordFieldsOnly(", "edge:vc::decodeMessage>QByteArray::insert",
        "edge:vc::decodeMessage>QByteArray::indexOf", "edge:vc::decodeMessage>qstrnicmp",
        "edge:vc::decodeMessage>QtPrivate::startsWith"]
PART_BYTES = ["prefix:vc::(anonymous namespace)::partBytes(", "edge:vc::(anonymous namespace)::partText>g_mime_encoding_step",
              "edge:vc::(anonymous namespace)::partText>QByteArray::QByteArray",
              "edge:vc::(anonymous namespace)::partText>vc::(anonymous namespace)::partBytesCopied",
              "edge:vc::(anonymous namespace)::partText>g_mime_data_wrapper_write_to_stream"]
CHARSETS = ["edge:vc::(anonymous namespace)::partText>vc::decodeCharset",
            "edge:vc::(anonymous namespace)::unsplitMultipartText>vc::decodeCharset"]

# step: function names (as callgrind_annotate shows them, without file and
# object); a leading "-" subtracts, "edge:A>B" is the cost of A's calls to B.
STEPS = [
    ("TLS (decrypting and encrypting records)", ["SSL_read", "SSL_write"]),
    ("socket buffer copies (QIODevice reads)", ["QIODevice::readAll()", "prefix:QIODevice::read(char*"]),
    ("response parser (literal copies included)", ["vc::ImapParser::feed(char const*, long long)",
                                                  "prefix:vc::ImapParser::room(", "prefix:vc::ImapParser::filled(",
                                                  "vc::ImapParser::takeResponse()"]),
    ("MIME: GMime parse and tear-down", ["g_mime_parser_construct_message", "edge:vc::decodeMessage>g_object_unref"]),
    ("MIME: header block checks and trimming", TRIM),
    ("MIME: part bytes (transfer decoding, copies)", PART_BYTES),
    ("MIME: charset conversion to UTF-16", CHARSETS),
    ("MIME: HTML to text", ["vc::htmlToPlainText(QString const&)"]),
    ("MIME: the record's strings, parser set-up",
     ["vc::decodeMessage", "-g_mime_parser_construct_message", "-edge:vc::decodeMessage>g_object_unref",
      "-vc::htmlToPlainText(QString const&)"] + ["-" + t for t in TRIM + PART_BYTES + CHARSETS]),
    ("rules (and the rows kept until written)", ["prefix:vc::rules::allEmailData(", "prefix:vc::rules::linesContaining(",
                                                 "prefix:vc::rules::linesNotContaining(", "prefix:vc::rules::textSetLines(",
                                                 "prefix:vc::rules::betweenMarkers(", "prefix:vc::rules::linesByNumber(",
                                                 "prefix:vc::ResultsModel::appendRows(", "vc::ResultsModel::clear()"]),
    ("writing rows", ["prefix:vc::cli::RowWriter::add("]),
    ("fetch log", ["prefix:vc::errorlog::append("]),
    ("thread hand-offs (both sides)", ["prefix:vc::DecodeAhead::start(", "prefix:vc::DecodeAhead::take(", "start_thread",
                                       "-vc::decodeMessage", "edge:vc::ImapClient::handOut>vc::decodeMessage"]),
]
SETUP = ["prefix:vc::ImapClient::Connect(", "prefix:vc::ImapClient::Login(", "prefix:vc::ImapClient::SelectMailbox(",
         "prefix:vc::ImapClient::SendRawCommand(", "prefix:vc::ImapClient::Disconnect(",
         "prefix:vc::ImapClient::ListMailboxes("]

LINE = re.compile(r"^\s*([\d,]+) \([ \d.]+%\)\s+([*<>])\s+(.*)$")


def name_of(text: str) -> str:
    text = re.sub(r" \[[^\]]*\]$", "", text.strip())  # the object file
    text = re.sub(r" \([\d,]+x\)$", "", text)       # call counts
    text = text.split(":", 1)[1] if ":" in text else text  # the source file
    return re.sub(r"'\d+$", "", text)                # recursion marks


def load(path: str):
    """Inclusive cost per function and per call edge, file parts merged."""
    with open(path, encoding="utf-8", errors="replace") as f:
        lines = [l for l in f if not l.startswith(("fi=", "fe="))]
    with tempfile.NamedTemporaryFile("w", delete=False, suffix=".out") as t:
        t.writelines(lines)
    try:
        out = subprocess.run(["callgrind_annotate", "--inclusive=yes", "--tree=calling", "--threshold=100", t.name],
                             capture_output=True, text=True, check=True).stdout
    finally:
        os.unlink(t.name)
    incl, edges, total = {}, {}, 0
    current = None
    for line in out.splitlines():
        if "PROGRAM TOTALS" in line:
            total = int(line.split()[0].replace(",", ""))
            continue
        m = LINE.match(line)
        if not m:
            continue
        cost, mark, text = int(m.group(1).replace(",", "")), m.group(2), m.group(3)
        name = name_of(text)
        if mark == "*":
            current = name
            incl[name] = max(incl.get(name, 0), cost)
        elif mark == ">" and current:
            key = (current, name)
            edges[key] = edges.get(key, 0) + cost
    return total, incl, edges


def matches(names, pattern):
    if pattern.startswith("prefix:"):
        return [n for n in names if n.startswith(pattern[7:])]
    base = pattern
    return [n for n in names if n == base or (n.startswith(base + "(") and "(" not in base)]


def cost(term: str, incl, edges) -> int:
    if term.startswith("edge:"):
        a, b = term[5:].split(">")
        return sum(c for (x, y), c in edges.items() if (x == a or x.startswith(a + "(")) and (y == b or y.startswith(b + "(")))
    return sum(incl[n] for n in matches(incl.keys(), term))


def step_cost(terms, incl, edges) -> int:
    return sum(-cost(t[1:], incl, edges) if t.startswith("-") else cost(t, incl, edges) for t in terms)


def main() -> int:
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    paths = sys.argv[1].split(",")
    messages = int(sys.argv[2])
    cpus = [float(x) for x in sys.argv[3].split(",")] if len(sys.argv) > 3 else []
    profiles = [load(p) for p in paths]
    head = "%-48s" % "k instructions per message (us per message)"
    print(head + "".join("%22s" % os.path.basename(p)[:21] for p in paths))
    rows = []
    for label, terms in STEPS:
        rows.append((label, [step_cost(terms, incl, edges) for _, incl, edges in profiles]))
    setups = [step_cost(SETUP, incl, edges) for _, incl, edges in profiles]
    rest = [total - setup - sum(r[1][i] for r in rows) for i, ((total, _, _), setup) in enumerate(zip(profiles, setups))]
    rows.append(("the rest (event loop, walk, bookkeeping, progress)", rest))
    totals = [total - setup for (total, _, _), setup in zip(profiles, setups)]
    rows.append(("all per-message work", totals))

    def cell(i, c):
        k = c / messages / 1000
        if i < len(cpus):
            us = c / profiles[i][0] * cpus[i] * 1e6 / messages
            return "%13.1f (%5.1f)" % (k, us)
        return "%22.1f" % k

    for label, costs in rows:
        print("%-48s" % label + "".join("%22s" % cell(i, c) for i, c in enumerate(costs)))
    print("%-48s" % "connect, sign in, select (per run, M instructions)"
          + "".join("%22.1f" % (s / 1e6) for s in setups))
    return 0


if __name__ == "__main__":
    sys.exit(main())
