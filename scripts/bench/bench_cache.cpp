// The local mail copy: its size on disk and its speed, on generated mail of
// the shapes test-server.sh fill makes (plain, multipart with HTML,
// quoted-printable Latin-1, base64; every 50th about 200 KiB).
//
//   bench-cache [--messages N] [--dir DIR [--read-only]]
//
// Decodes N messages (default 10,000) as a walk would, keeps them through the
// cache's writer thread, then reads them all back the way a re-run does
// (which are kept, then each record in UID order). Prints the times, the file
// size (also per 10,000 messages) and the peak RSS.
#include "extract/MailCache.h"
#include "extract/MailCacheWriter.h"
#include "mail/MimeDecode.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>

namespace {

QByteArray generated(int n)
{
    static const QByteArray para = "Line of the message body with some words to look for: alpha beta gamma delta.";
    static const QByteArray text = [] {
        QByteArray t;
        for (int i = 1; i <= 40; ++i)
            t += QByteArray::number(i) + ". " + para + "\r\n";
        return t;
    }();
    static const QByteArray big = text.repeated(62);
    static const QByteArray html =
        "<html><body><p>Hello <b>there</b> &amp; welcome</p><div>Second line</div></body></html>";
    QByteArray m = "From: \"Sender " + QByteArray::number(n % 97) + "\" <sender" + QByteArray::number(n % 97)
                   + "@example.org>\r\nTo: tester@example.org\r\nSubject: Generated message " + QByteArray::number(n)
                   + "\r\nDate: Mon, 2 Jun 2025 10:00:00 +0200\r\nMessage-ID: <bench-" + QByteArray::number(n)
                   + "@example.org>\r\nMIME-Version: 1.0\r\n";
    if (n % 50 == 0)
        return m + "Content-Type: text/plain; charset=utf-8\r\n\r\n" + big;
    switch (n % 4) {
    case 0: return m + "Content-Type: text/plain; charset=utf-8\r\n\r\n" + text;
    case 1:
        return m
               + "Content-Type: multipart/alternative; boundary=\"b\"\r\n\r\n--b\r\nContent-Type: text/plain; "
                 "charset=utf-8\r\n\r\n"
               + text + "\r\n--b\r\nContent-Type: text/html; charset=utf-8\r\n\r\n" + html + "\r\n--b--\r\n";
    case 2:
        return m + "Content-Type: text/plain; charset=iso-8859-1\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
               + "Gr=FC=DFe aus K=F6ln, d=E9j=E0 vu: " + para + "=\r\n\r\n" + text;
    default: {
        QByteArray b64 = text.toBase64();
        QByteArray wrapped;
        for (qsizetype at = 0; at < b64.size(); at += 76)
            wrapped += b64.mid(at, 76) + "\r\n";
        return m + "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n" + wrapped;
    }
    }
}

long peakRssKiB()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser p;
    p.addHelpOption();
    p.addOption({QStringLiteral("messages"), QStringLiteral("How many messages (default 10000)."), QStringLiteral("N"),
                 QStringLiteral("10000")});
    p.addOption({QStringLiteral("dir"), QStringLiteral("Keep the cache in DIR (default: a temporary folder)."),
                 QStringLiteral("DIR")});
    p.addOption({QStringLiteral("read-only"), QStringLiteral("Only read back what an earlier run kept in DIR.")});
    p.process(app);
    const bool readOnly = p.isSet(QStringLiteral("read-only")) && p.isSet(QStringLiteral("dir"));
    const int count = qMax(1, p.value(QStringLiteral("messages")).toInt());
    QTemporaryDir temp;
    const QString folder = p.isSet(QStringLiteral("dir")) ? p.value(QStringLiteral("dir")) : temp.path();
    if (!readOnly)
        QFile::remove(QDir(folder).filePath(QLatin1String(vc::MailCache::kFileName)));
    const vc::MailCacheKey key{QStringLiteral("tester"), QStringLiteral("127.0.0.1:993"), QStringLiteral("INBOX"), 1};

    QElapsedTimer t;
    t.start();
    qint64 rawBytes = 0;
    qint64 decodeNs = 0;
    if (!readOnly) {
        vc::MailCacheWriter writer(folder);
        for (int n = 1; n <= count; ++n) {
            const QByteArray raw = generated(n);
            rawBytes += raw.size();
            QElapsedTimer d;
            d.start();
            vc::MailRecord r = vc::decodeMessage(raw);
            decodeNs += d.nsecsElapsed();
            r.uid = quint32(n);
            r.uidValidity = key.uidValidity;
            writer.add(key, std::move(r), {});
        }
        const vc::MailCacheWriter::Done done = writer.finish();
        if (!done.error.isEmpty() || done.failed > 0) {
            std::fprintf(stderr, "bench-cache: %s (%lld not written)\n", qPrintable(done.error), done.failed);
            return 1;
        }
    }
    const double putSeconds = t.nsecsElapsed() / 1e9;

    vc::MailCache cache(folder);
    const vc::MailCache::Opened opened = cache.open();
    if (!opened.ok) {
        std::fprintf(stderr, "bench-cache: %s\n", qPrintable(opened.error));
        return 1;
    }
    const vc::UidSet all = *vc::UidSet::parse("1:" + QByteArray::number(count));
    t.restart();
    const vc::UidSet kept = cache.cached(key, all, {});
    vc::MailCache::Reader reader = cache.read(key, kept, {});
    qint64 readRecords = 0;
    qint64 textChars = 0;
    while (std::optional<vc::MailCache::Reader::Entry> e = reader.next()) {
        if (e->record) {
            ++readRecords;
            textChars += e->record->PlainTextBody.size();
        }
    }
    const double readSeconds = t.nsecsElapsed() / 1e9;
    const vc::MailCache::Stats s = cache.stats();

    std::printf("messages              %d (%.1f MB raw)\n", count, rawBytes / 1e6);
    std::printf("decode, for reference %.2f s\n", decodeNs / 1e9);
    std::printf("decode + keep         %.2f s (writer thread, batches of 200)\n", putSeconds);
    std::printf("read back             %.3f s for %lld records: %.0f records/s, %.1f M text chars/s\n", readSeconds,
                readRecords, readRecords / readSeconds, textChars / readSeconds / 1e6);
    std::printf("records stored        %lld, %.1f MB compressed\n", s.records, s.recordBytes / 1e6);
    std::printf("file on disk          %.1f MB, %.1f MB per 10,000 messages\n", s.fileBytes / 1e6,
                s.fileBytes / 1e6 * 10000.0 / count);
    std::printf("peak RSS              %ld MiB\n", peakRssKiB() / 1024);
    return readRecords == count ? 0 : 1;
}
