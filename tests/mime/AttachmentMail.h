#pragma once
// Messages with attachments and the PDFs inside them, made in the tests.
#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QList>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

namespace vc::test {

// One part of a multipart/mixed message.
struct MailPart {
    QByteArray contentType;  // the whole value, parameters included
    QByteArray disposition;  // the whole value; empty: none
    QByteArray bytes;        // the decoded content
    QByteArray encoding = "base64";
};

inline QByteArray base64Lines(const QByteArray &bytes)
{
    const QByteArray b64 = bytes.toBase64();
    QByteArray out;
    out.reserve(b64.size() + b64.size() / 38 + 2);
    for (qsizetype i = 0; i < b64.size(); i += 76)
        out += b64.mid(i, 76) + "\r\n";
    return out;
}

// A multipart/mixed message: a text/plain body, then the parts.
inline QByteArray mixedMessage(const QByteArray &body, const QList<MailPart> &parts,
                               const QByteArray &subject = "Invoices")
{
    const QByteArray boundary = "=-=boundary-7f3a=-=";
    QByteArray m = "From: Ann <ann@example.org>\r\nTo: orders@example.org\r\nSubject: " + subject
                   + "\r\nDate: Mon, 2 Mar 2015 10:00:00 +0000\r\nMIME-Version: 1.0\r\n"
                     "Content-Type: multipart/mixed; boundary=\""
                   + boundary + "\"\r\n\r\n--" + boundary + "\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" + body
                   + "\r\n";
    for (const MailPart &p : parts) {
        m += "--" + boundary + "\r\nContent-Type: " + p.contentType + "\r\n";
        if (!p.disposition.isEmpty())
            m += "Content-Disposition: " + p.disposition + "\r\n";
        m += "Content-Transfer-Encoding: " + p.encoding + "\r\n\r\n";
        m += p.encoding == "base64" ? base64Lines(p.bytes) : p.bytes + "\r\n";
    }
    return m + "--" + boundary + "--\r\n";
}

inline MailPart attached(const QByteArray &type, const QByteArray &name, const QByteArray &bytes)
{
    return {type, "attachment; filename=\"" + name + "\"", bytes};
}

// A PDF with one page per entry; each page holds its lines top to bottom, and
// a line with tabs is a table row whose cells stand in columns.
inline QByteArray makePdf(const QList<QStringList> &pages)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(72);
        QPainter painter(&writer);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(11);
        painter.setFont(font);
        for (qsizetype i = 0; i < pages.size(); ++i) {
            if (i > 0)
                writer.newPage();
            int y = 40;
            for (const QString &line : pages[i]) {
                const QStringList cells = line.split(QLatin1Char('\t'));
                for (qsizetype c = 0; c < cells.size(); ++c)
                    painter.drawText(40 + int(c) * 140, y, cells[c]);
                y += 18;
            }
        }
    }
    return buffer.data();
}

// A PDF whose only page is a picture (as a scanner makes it).
inline QByteArray imageOnlyPdf()
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(72);
        QPainter painter(&writer);
        QImage scan(200, 100, QImage::Format_RGB32);
        scan.fill(Qt::white);
        QPainter onScan(&scan);
        onScan.fillRect(20, 20, 160, 10, Qt::black);
        onScan.end();
        painter.drawImage(QPoint(40, 40), scan);
    }
    return buffer.data();
}

// `pdf` encrypted with a user password (qpdf); empty when qpdf failed.
inline QByteArray encryptedPdf(const QByteArray &pdf)
{
    QTemporaryDir dir;
    const QString in = dir.filePath(QStringLiteral("in.pdf"));
    const QString out = dir.filePath(QStringLiteral("out.pdf"));
    QFile f(in);
    if (!f.open(QIODevice::WriteOnly) || f.write(pdf) != pdf.size())
        return {};
    f.close();
    QProcess qpdf;
    qpdf.start(QStringLiteral("qpdf"),
               {QStringLiteral("--encrypt"), QStringLiteral("user-secret"), QStringLiteral("owner-secret"),
                QStringLiteral("256"), QStringLiteral("--"), in, out});
    if (!qpdf.waitForFinished(30000) || qpdf.exitStatus() != QProcess::NormalExit || qpdf.exitCode() != 0)
        return {};
    QFile result(out);
    return result.open(QIODevice::ReadOnly) ? result.readAll() : QByteArray();
}

}  // namespace vc::test
