#pragma once
#include <QByteArray>
#include <QString>

namespace vc {

// How the text of one PDF is read: by our helper program vellumcast-pdftext in
// a process of its own, so that a file that crashes or hangs the PDF reader
// ends only the helper. Its time, memory and output are bounded.
struct PdfTextOptions {
    qint64 maxPdfBytes = qint64(50) << 20;    // larger files are not read
    int timeoutMs = 30000;                    // the helper is stopped after this long
    qint64 maxMemoryBytes = qint64(1) << 30;  // the helper's address space
    qint64 maxTextBytes = qint64(32) << 20;   // text beyond this is left out
    QString helper;                           // the helper to run; empty: pdfTextHelper()
};

// What came of it: the text of every page in reading order, lines ending in
// CR LF; and, when the text is missing or incomplete, why, in one line ("the
// PDF is encrypted"). A damaged file can give both.
struct PdfText {
    QString text;
    QString problem;
};

// The exit statuses of vellumcast-pdftext (src/pdftext/main.cpp).
enum PdfTextExit {
    kPdfTextOk = 0,
    kPdfTextUsage = 2,
    kPdfTextEncrypted = 3,
    kPdfTextUnreadable = 4,
    kPdfTextNoText = 5,
    kPdfTextTooLarge = 6,
    kPdfTextDamaged = 7,
};

// Reads the text of `pdf`. Blocks the calling thread until the helper is done
// (at most the time limit); safe on any thread, several at a time.
PdfText readPdfText(const QByteArray &pdf, const PdfTextOptions &options = {});

// Where the helper is: beside the running program (the build tree), else in
// the install layout's libexec folder; empty when neither has it.
QString pdfTextHelper();

}  // namespace vc
