#include "app/MessageViewer.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSplitter>
#include <QTextBlock>
#include <QVBoxLayout>

namespace vc {

namespace {

QPointer<MessageViewer> &slot()
{
    static QPointer<MessageViewer> viewer;
    return viewer;
}

// CR LF and lone CRs as the text box's line breaks.
QString boxText(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

// Marks every occurrence of each of `marks` in `box`; returns the first.
QTextCursor highlight(QPlainTextEdit *box, const QStringList &marks)
{
    QList<QTextEdit::ExtraSelection> found;
    QTextCharFormat format;
    format.setBackground(QColor(255, 226, 120));
    QTextCursor first;
    const QString text = box->toPlainText();
    for (const QString &raw : marks) {
        const QString mark = boxText(raw);
        if (mark.trimmed().isEmpty())
            continue;
        for (qsizetype at = text.indexOf(mark); at >= 0; at = text.indexOf(mark, at + mark.size())) {
            QTextCursor c(box->document());
            c.setPosition(int(at));
            c.setPosition(int(at + mark.size()), QTextCursor::KeepAnchor);
            found.append({c, format});
            if (first.isNull() || c.position() < first.position())
                first = c;
        }
    }
    box->setExtraSelections(found);
    return first;
}

}  // namespace

QString originText(const RowOrigin &s)
{
    QStringList parts;
    parts << (s.folder.isEmpty() ? QStringLiteral("(folder unknown)") : s.folder);
    if (s.uid != 0)
        parts << QStringLiteral("UID %1").arg(s.uid);
    if (s.seq > 0)
        parts << QStringLiteral("message %1").arg(s.seq);
    return parts.join(QStringLiteral(", "));
}

MessageViewer *MessageViewer::instance()
{
    if (!slot())
        slot() = new MessageViewer;
    return slot().data();
}

void MessageViewer::destroyInstance()
{
    delete slot().data();
}

MessageViewer::MessageViewer()
{
    setObjectName(QStringLiteral("MessageViewer"));
    setWindowTitle(QStringLiteral("Message"));
    setWindowFlag(Qt::Window);
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowIcon(QApplication::windowIcon());
    resize(760, 640);
    source_ = new QLabel;
    source_->setObjectName(QStringLiteral("viewerSource"));
    source_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    headers_ = new QPlainTextEdit;
    headers_->setObjectName(QStringLiteral("viewerHeaders"));
    headers_->setReadOnly(true);
    headers_->setLineWrapMode(QPlainTextEdit::NoWrap);
    text_ = new QPlainTextEdit;
    text_->setObjectName(QStringLiteral("viewerText"));
    text_->setReadOnly(true);
    auto *split = new QSplitter(Qt::Vertical);
    split->setObjectName(QStringLiteral("viewerSplitter"));
    split->addWidget(headers_);
    split->addWidget(text_);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 3);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(source_);
    layout->addWidget(split, 1);
}

void MessageViewer::showMessage(const RowOrigin &source, const MailRecord &m, const QStringList &marks)
{
    setWindowTitle(m.Subject.isEmpty() ? QStringLiteral("Message") : m.Subject);
    source_->setText(originText(source));
    QStringList lines;
    if (!m.headers.isEmpty()) {
        for (const HeaderField &f : m.headers)
            lines << f.name + QStringLiteral(": ") + f.value;
    } else {
        lines << QStringLiteral("From: ") + m.From << QStringLiteral("Date: ") + m.ReceivedDate
              << QStringLiteral("Subject: ") + m.Subject;
    }
    headers_->setPlainText(boxText(lines.join(u'\n')));
    highlight(headers_, marks);
    text_->setPlainText(boxText(m.PlainTextBody));
    const QTextCursor first = highlight(text_, marks);
    if (!first.isNull()) {
        QTextCursor at = first;
        at.clearSelection();
        text_->setTextCursor(at);
        text_->ensureCursorVisible();
    }
    show();
    raise();
    activateWindow();
}

}  // namespace vc
