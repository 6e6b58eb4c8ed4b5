// bench-pdf-text: what reading the text of PDF attachments costs.
//
//   bench-pdf-text [RUNS]     (from the build's bin folder, beside vellumcast-pdftext)
//
// Makes PDFs with QPdfWriter (1 page, and 100 pages of 40 lines each), then
// times, best of RUNS (default 5):
//   - readPdfText() through the helper process (what the decoder does);
//   - Poppler in this process on the same bytes, for the cost of the process;
//   - decodeMessage() of a message carrying the 100-page PDF, attachment text on.
#include "mail/MimeDecode.h"
#include "mail/PdfText.h"

#include <poppler-qt6.h>

#include <QBuffer>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>

#include <cstdio>
#include <functional>

namespace {

QByteArray makePdf(int pages, int linesPerPage)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(72);
        QPainter painter(&writer);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(10);
        painter.setFont(font);
        for (int p = 0; p < pages; ++p) {
            if (p > 0)
                writer.newPage();
            for (int l = 0; l < linesPerPage; ++l)
                painter.drawText(40, 40 + l * 18,
                                 QStringLiteral("Page %1 line %2: order 4711, Widget, qty %3, price %4.50 EUR")
                                     .arg(p + 1)
                                     .arg(l + 1)
                                     .arg(l % 9 + 1)
                                     .arg(l + 3));
        }
    }
    return buffer.data();
}

// The best of `runs` wall times of `work`, in milliseconds.
double best(int runs, const std::function<void()> &work)
{
    double fastest = 1e18;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        fastest = qMin(fastest, t.nsecsElapsed() / 1e6);
    }
    return fastest;
}

QString inProcess(const QByteArray &pdf)
{
    const auto doc = Poppler::Document::loadFromData(pdf);
    QString text;
    for (int i = 0; doc && i < doc->numPages(); ++i)
        text += doc->page(i)->text(QRectF()) + QLatin1Char('\f');
    return text;
}

QByteArray messageWith(const QByteArray &pdf)
{
    const QByteArray b64 = pdf.toBase64();
    QByteArray m = "From: a@example.org\r\nSubject: order\r\nMIME-Version: 1.0\r\n"
                   "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nbody\r\n"
                   "--b\r\nContent-Type: application/pdf; name=order.pdf\r\nContent-Transfer-Encoding: base64\r\n\r\n";
    for (qsizetype i = 0; i < b64.size(); i += 76)
        m += b64.mid(i, 76) + "\r\n";
    return m + "--b--\r\n";
}

}  // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int runs = argc > 1 ? qMax(1, atoi(argv[1])) : 5;
    if (vc::pdfTextHelper().isEmpty()) {
        std::fprintf(stderr, "bench-pdf-text: no vellumcast-pdftext beside this program\n");
        return 1;
    }
    const QByteArray one = makePdf(1, 40);
    const QByteArray hundred = makePdf(100, 40);

    vc::PdfText got = vc::readPdfText(hundred);
    if (!got.problem.isEmpty() || !got.text.contains(QStringLiteral("Page 100 line 40"))) {
        std::fprintf(stderr, "bench-pdf-text: the 100-page PDF was not read: %s\n", qPrintable(got.problem));
        return 1;
    }
    const QByteArray message = messageWith(hundred);
    vc::DecodeNeeds needs;
    needs.attachmentText = true;

    const double helperOne = best(runs * 4, [&] { vc::readPdfText(one); });
    const double poppler1 = best(runs * 4, [&] { inProcess(one); });
    const double helperHundred = best(runs, [&] { got = vc::readPdfText(hundred); });
    const double poppler100 = best(runs, [&] { inProcess(hundred); });
    const double decode = best(runs, [&] { vc::decodeMessage(message, needs); });

    std::printf("PDF text, best of %d runs (1-page rows: best of %d)\n", runs, runs * 4);
    std::printf("  %-44s %10s %10s\n", "", "1 page", "100 pages");
    std::printf("  %-44s %10s %10s\n", "PDF size", qPrintable(QString::number(one.size() / 1024.0, 'f', 1) + " KB"),
                qPrintable(QString::number(hundred.size() / 1024.0, 'f', 1) + " KB"));
    std::printf("  %-44s %8.1f ms %8.1f ms\n", "readPdfText (helper process)", helperOne, helperHundred);
    std::printf("  %-44s %8.1f ms %8.1f ms\n", "Poppler in this process", poppler1, poppler100);
    std::printf("  %-44s %8.1f ms %8.1f ms\n", "cost of the process", helperOne - poppler1, helperHundred - poppler100);
    std::printf("  %-44s %10s %8.1f ms\n", "decodeMessage, attachment text on", "", decode);
    std::printf("  text of the 100 pages: %lld characters\n", static_cast<long long>(got.text.size()));
    return 0;
}
