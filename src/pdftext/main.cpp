// vellumcast-pdftext: the text of a PDF, in a process of its own.
//
// Reads one PDF from standard input and writes the text of every page to
// standard output as UTF-8, in reading order, the pages separated by a form
// feed. The exit status says what became of it (PdfTextExit in
// src/mail/PdfText.h holds the same numbers). A PDF reader meets hostile files;
// running it apart means that a crash or a hang ends this process, never the
// program that asked, which also bounds its time and memory.
#include <poppler-qt6.h>

#include <QByteArray>
#include <QString>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <unistd.h>

namespace {

enum Exit {
    kText = 0,        // the text is on standard output
    kUsage = 2,       // bad arguments
    kEncrypted = 3,   // a password is needed to open it
    kUnreadable = 4,  // not a PDF, or too damaged to open
    kNoText = 5,      // opened, but no page has any text (scanned images)
    kTooLarge = 6,    // more input than --max-bytes
    kDamaged = 7,     // the text is on standard output, but parts of the file were broken
};

// Syntax errors met while reading; warnings and notes do not count.
int gErrors = 0;

void noteMessage(const QString &message, const QVariant &)
{
    if (message.contains(QLatin1String("Error"), Qt::CaseSensitive))
        ++gErrors;
}

bool readAll(int fd, qint64 maxBytes, QByteArray *out)
{
    char chunk[65536];
    while (true) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return true;  // what arrived is all there is
        }
        if (out->size() + n > maxBytes)
            return false;
        out->append(chunk, n);
    }
}

bool writeAll(const QByteArray &bytes)
{
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = write(STDOUT_FILENO, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    qint64 maxBytes = qint64(50) << 20;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--max-bytes") == 0 && i + 1 < argc) {
            maxBytes = std::strtoll(argv[++i], nullptr, 10);
        } else {
            std::fprintf(stderr, "usage: vellumcast-pdftext [--max-bytes N] < file.pdf\n");
            return kUsage;
        }
    }
    if (maxBytes <= 0)
        return kUsage;

    QByteArray pdf;
    if (!readAll(STDIN_FILENO, maxBytes, &pdf))
        return kTooLarge;

    Poppler::setDebugErrorFunction(noteMessage, QVariant());
    const std::unique_ptr<Poppler::Document> document = Poppler::Document::loadFromData(pdf);
    pdf = QByteArray();
    if (!document)
        return kUnreadable;
    if (document->isLocked())
        return kEncrypted;
    const int pages = document->numPages();
    if (pages <= 0)
        return kUnreadable;

    bool anyText = false;
    for (int i = 0; i < pages; ++i) {
        const std::unique_ptr<Poppler::Page> page = document->page(i);
        QString text = page ? page->text(QRectF()) : QString();
        if (!text.trimmed().isEmpty())
            anyText = true;
        QByteArray bytes = text.toUtf8();
        if (i + 1 < pages)
            bytes += '\f';
        if (!writeAll(bytes))
            return kText;  // the reader stopped listening: it has what it wants
    }
    if (!anyText)
        return gErrors > 0 ? kUnreadable : kNoText;
    return gErrors > 0 ? kDamaged : kText;
}
