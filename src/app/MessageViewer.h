#pragma once
#include "core/MailRecord.h"
#include "rules/ResultsModel.h"

#include <QStringList>
#include <QWidget>

class QLabel;
class QPlainTextEdit;

namespace vc {

// The message a result row came from: where it lies (folder, UID, number),
// its header fields and its text, with the row's text marked wherever the
// message holds it. One window for the program, kept once opened and shown
// again with the next message.
class MessageViewer : public QWidget {
    Q_OBJECT
public:
    // The program's viewer, created on first use.
    static MessageViewer *instance();
    static void destroyInstance();

    MessageViewer();

    // Shows `m` from `source`, each of `marks` highlighted where it occurs in
    // the headers and the text; the first mark in the text is scrolled into view.
    void showMessage(const RowOrigin &source, const MailRecord &m, const QStringList &marks);

    QLabel *sourceLabel() const { return source_; }
    QPlainTextEdit *headersBox() const { return headers_; }
    QPlainTextEdit *textBox() const { return text_; }

private:
    QLabel *source_;
    QPlainTextEdit *headers_;
    QPlainTextEdit *text_;
};

// Where a row came from, as the viewer's first line says it:
// "Inbox, UID 42, message 7".
QString originText(const RowOrigin &source);

}  // namespace vc
