#include "mail/PdfText.h"

#include "core/Convert.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>

#include <sys/resource.h>

#ifndef VC_PDFTEXT_FROM_BINDIR
#define VC_PDFTEXT_FROM_BINDIR "../libexec/vellumcast"
#endif

// An address-sanitized helper reserves terabytes of shadow memory at start, so
// an address-space limit would stop it before it reads anything.
#if defined(__SANITIZE_ADDRESS__)
#define VC_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VC_ADDRESS_SANITIZER 1
#endif
#endif

namespace vc {

namespace {

constexpr int kStartMs = 10000;
constexpr int kSliceMs = 100;

QString megabytes(qint64 bytes)
{
    if (bytes < (1 << 20))
        return QStringLiteral("%1 bytes").arg(bytes);
    if (bytes % (1 << 20) == 0)
        return QStringLiteral("%1 MB").arg(bytes >> 20);
    return QStringLiteral("%1 MB").arg(double(bytes) / (1 << 20), 0, 'f', 1);
}

template <typename Resource>
void limit(Resource resource, rlim_t value)
{
    const struct rlimit r = {value, value};
    setrlimit(resource, &r);
}

}  // namespace

QString pdfTextHelper()
{
    const QString name = QStringLiteral("vellumcast-pdftext");
    const QString dir = QCoreApplication::applicationDirPath();
    if (dir.isEmpty())
        return {};
    for (const QString &candidate :
         {dir + QLatin1Char('/') + name, dir + QStringLiteral("/" VC_PDFTEXT_FROM_BINDIR "/") + name}) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable())
            return info.absoluteFilePath();
    }
    return {};
}

PdfText readPdfText(const QByteArray &pdf, const PdfTextOptions &options)
{
    if (pdf.size() > options.maxPdfBytes)
        return {{},
                QStringLiteral("the PDF is larger than %1; its text was not read").arg(megabytes(options.maxPdfBytes))};
    const QString helper = options.helper.isEmpty() ? pdfTextHelper() : options.helper;
    if (helper.isEmpty())
        return {{}, QStringLiteral("the PDF was not read: the PDF text helper vellumcast-pdftext is not installed")};

    QProcess process;
    process.setProgram(helper);
    process.setArguments({QStringLiteral("--max-bytes"), QString::number(options.maxPdfBytes)});
    process.setStandardErrorFile(QProcess::nullDevice());
    const rlim_t memory = rlim_t(qMax<qint64>(options.maxMemoryBytes, 16 << 20));
    const rlim_t cpuSeconds = rlim_t(options.timeoutMs / 1000 + 2);
    process.setChildProcessModifier([memory, cpuSeconds] {
    // Only async-signal-safe calls here: this runs between fork and exec.
#ifndef VC_ADDRESS_SANITIZER
        limit(RLIMIT_AS, memory);
#else
        (void)memory;
#endif
        limit(RLIMIT_CPU, cpuSeconds);
        limit(RLIMIT_CORE, 0);
        limit(RLIMIT_FSIZE, 0);
    });
    process.start(QIODevice::ReadWrite);
    if (!process.waitForStarted(kStartMs))
        return {{},
                QStringLiteral("the PDF was not read: the PDF text helper could not be started (%1)")
                    .arg(process.errorString())};
    process.write(pdf);
    process.closeWriteChannel();

    const QDeadlineTimer deadline(options.timeoutMs);
    QByteArray out;
    bool timedOut = false;
    bool cut = false;
    while (process.state() != QProcess::NotRunning) {
        if (deadline.hasExpired()) {
            timedOut = true;
            break;
        }
        process.waitForReadyRead(int(qBound(qint64(1), deadline.remainingTime(), qint64(kSliceMs))));
        out += process.readAllStandardOutput();
        if (out.size() > options.maxTextBytes) {
            cut = true;
            break;
        }
    }
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(kStartMs);
    } else {
        out += process.readAllStandardOutput();
        cut = cut || out.size() > options.maxTextBytes;
    }
    if (cut) {
        out.truncate(options.maxTextBytes);
        // Leave no half character at the end.
        while (!out.isEmpty() && (uchar(out.back()) & 0xC0) == 0x80)
            out.chop(1);
        if (!out.isEmpty() && uchar(out.back()) >= 0xC0)
            out.chop(1);
        return {convert::withCrLf(QString::fromUtf8(out), true),
                QStringLiteral("the PDF's text is longer than %1; the rest was left out")
                    .arg(megabytes(options.maxTextBytes))};
    }
    if (timedOut)
        return {{},
                QStringLiteral("reading the PDF took longer than %1 s; it was given up")
                    .arg((options.timeoutMs + 999) / 1000)};
    if (process.exitStatus() == QProcess::CrashExit) {
        // A crash, running out of memory included (an allocation that fails
        // under the memory limit ends the helper).
        return {{}, QStringLiteral("the PDF could not be read: the PDF reader failed on it")};
    }
    const QString text = convert::withCrLf(QString::fromUtf8(out), true);
    switch (process.exitCode()) {
    case kPdfTextOk: return {text, {}};
    case kPdfTextEncrypted: return {{}, QStringLiteral("the PDF is encrypted; its text cannot be read")};
    case kPdfTextUnreadable: return {{}, QStringLiteral("the PDF is damaged or not a PDF; its text cannot be read")};
    case kPdfTextNoText: return {{}, QStringLiteral("the PDF has no text, only images (a scan?)")};
    case kPdfTextTooLarge:
        return {{},
                QStringLiteral("the PDF is larger than %1; its text was not read").arg(megabytes(options.maxPdfBytes))};
    case kPdfTextDamaged: return {text, QStringLiteral("the PDF is damaged; its text may be incomplete")};
    default:
        return {{},
                QStringLiteral("the PDF could not be read: the PDF text helper ended with status %1")
                    .arg(process.exitCode())};
    }
}

}  // namespace vc
