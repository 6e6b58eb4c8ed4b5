// What a template costs per message, beside the all-data rule on the same
// decoded messages: see README.md, "Templates per message".
//
//   bench-records DIR [COUNT] [ROUNDS] [TEMPLATE]
//
// Decodes every .eml file under DIR once (as a run decodes them), repeats
// them up to COUNT records (default 10,000), then times over all of them, best
// of ROUNDS (default 5): decoding, the all-data rule's rows, the template's
// rows (the five-field example of the issue unless TEMPLATE names a file), and
// the template's rows with their CSV encoding.
#include "mail/MimeDecode.h"
#include "output/RecordWriters.h"
#include "rules/RecordRows.h"
#include "rules/Rules.h"
#include "rules/Template.h"
#include "rules/TemplateFile.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace vc;

namespace {

const QByteArray kFiveFields = R"j({"version": 1, "rows": "message", "fields": [
  {"name": "order",  "between": {"start": "Order #", "end": "\n"}},
  {"name": "total",  "regex": "Total:\\s*\\$?([0-9][0-9.,]*)"},
  {"name": "from",   "builtin": "from_address"},
  {"name": "subject","header": "Subject"},
  {"name": "emails", "pattern": "email", "all": true, "separator": "; "}]})j";

// The best time of `rounds` runs of `work`, in nanoseconds per record.
double best(int rounds, qsizetype records, const std::function<qint64()> &work, qint64 *sink)
{
    qint64 fastest = -1;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer t;
        t.start();
        *sink += work();
        const qint64 ns = t.nsecsElapsed();
        fastest = fastest < 0 ? ns : std::min(fastest, ns);
    }
    return double(fastest) / double(records);
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: bench-records DIR [COUNT] [ROUNDS] [TEMPLATE]\n");
        return 2;
    }
    const qsizetype count = args.size() > 2 ? args[2].toLongLong() : 10000;
    const int rounds = args.size() > 3 ? args[3].toInt() : 5;
    QByteArray json = kFiveFields;
    if (args.size() > 4) {
        QFile f(args[4]);
        if (!f.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(args[4]));
            return 2;
        }
        json = f.readAll();
    }
    records::TemplateCompile compiled = records::loadTemplate(json);
    if (!compiled.ok()) {
        std::fprintf(stderr, "%s\n", qPrintable(records::problemsText(compiled.problems)));
        return 2;
    }
    const records::Template tmpl = *compiled.compiled;
    const DecodeNeeds needs{tmpl.needsHeaders()};

    QList<QByteArray> raw;
    QDirIterator it(args[1], {QStringLiteral("*.eml")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        if (f.open(QIODevice::ReadOnly))
            raw << f.readAll();
    }
    if (raw.isEmpty()) {
        std::fprintf(stderr, "no .eml files under %s\n", qPrintable(args[1]));
        return 2;
    }
    QList<MailRecord> mail;
    mail.reserve(count);
    for (qsizetype i = 0; i < count; ++i) {
        MailRecord m = decodeMessage(raw.at(i % raw.size()), needs);
        m.uid = quint32(i + 1);
        mail << m;
    }

    qint64 sink = 0;
    const double decode = best(
        rounds, count,
        [&] {
            qint64 n = 0;
            for (qsizetype i = 0; i < count; ++i)
                n += decodeMessage(raw.at(i % raw.size()), needs).PlainTextBody.size();
            return n;
        },
        &sink);
    const double allData = best(
        rounds, count,
        [&] {
            qint64 n = 0;
            for (const MailRecord &m : mail)
                n += rules::allEmailData(m).size();
            return n;
        },
        &sink);
    qint64 rowCount = 0;
    const double rows = best(
        rounds, count,
        [&] {
            records::RecordRows rr(tmpl);
            QList<records::Row> out;
            qint64 n = 0;
            for (const MailRecord &m : mail) {
                out.clear();
                n += rr.append(m, out);
            }
            rowCount = n;
            return n;
        },
        &sink);
    const double rowsCsv = best(
        rounds, count,
        [&] {
            records::RecordRows rr(tmpl);
            QList<records::Row> out;
            QByteArray csv;
            qint64 n = 0;
            for (const MailRecord &m : mail) {
                out.clear();
                rr.append(m, out);
                csv.truncate(0);
                for (const records::Row &r : out)
                    records::appendCsvRow(csv, tmpl.columns(), r, {});
                n += csv.size();
            }
            return n;
        },
        &sink);

    std::printf("%lld records from %lld files, %d rounds (best), %lld template rows\n", (long long)count,
                (long long)raw.size(), rounds, (long long)rowCount);
    std::printf("%-34s %10s %10s\n", "per message", "us", "x all-data");
    const auto line = [&](const char *what, double ns) {
        std::printf("%-34s %10.2f %10.2f\n", what, ns / 1000.0, ns / allData);
    };
    line("MIME decode (for scale)", decode);
    line("all-data rule rows", allData);
    line("template rows", rows);
    line("template rows + CSV", rowsCsv);
    return sink == 42 ? 1 : 0;  // keeps the work from being optimised away
}
