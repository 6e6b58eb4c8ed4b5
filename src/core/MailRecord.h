#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

namespace vc {

// One header field of a message, its value decoded (encoded words, charsets,
// folding undone).
struct HeaderField {
    QString name;  // as the message spells it ("Reply-To")
    QString value;
};

// One attachment of a message: a part with a file name or a disposition of
// "attachment".
struct AttachmentInfo {
    QString name;         // decoded file name; may be empty
    QString contentType;  // lower case, "application/pdf"
    qint64 size = 0;      // decoded bytes
    QString text;         // its text, when the run asked for attachment text and the kind has text
    QString problem;      // why no text could be taken ("the PDF is encrypted"); empty otherwise
};

// One message as the walk delivers it: the eight values the listing handler
// has always worked on, then where the message came from and what templates
// and the message viewer read.
struct MailRecord {
    // The sender, its name and address, the subject, the date already turned
    // into text, both bodies, and the sequence number that was fetched (1-based
    // position in the folder, not a server-side unique identifier).
    QString From, FromName, FromAddress, Subject, ReceivedDate, PlainTextBody, HTMLTextBody;
    int uID = 0;

    // Where it came from: the folder as the server names it, the message's UID
    // and the folder's UIDVALIDITY (0 when unknown).
    QString folder;
    quint32 uid = 0;
    quint32 uidValidity = 0;
    QString messageId;  // the Message-ID header, without its angle brackets
    QDateTime date;     // the Date header with the message's own offset; invalid when missing or unreadable

    // Every header field in message order, decoded; empty unless the run asked
    // for header fields.
    QList<HeaderField> headers;
    // The attachments in message order (names and types always; their text
    // only when the run asked for it).
    QList<AttachmentInfo> attachments;
    // The decoded bytes of attachments (same index; null where not held), only
    // while a run that saves attachments holds them between the decoder and the
    // save; the run empties it before anything else sees the record.
    QList<QByteArray> heldAttachmentBytes;
    QStringList gmailLabels;  // X-GM-LABELS, when the server has them and the run asked

    // The walk's progress when the message was delivered: it is `position` of
    // the `total` messages the walk reads.
    qint64 position = 0;
    qint64 total = 0;

    // The value of the first header field called `name` (letter case does not
    // matter), or an empty text.
    QString header(QStringView name) const
    {
        for (const HeaderField &f : headers)
            if (QStringView(f.name).compare(name, Qt::CaseInsensitive) == 0)
                return f.value;
        return QString();
    }
};

}  // namespace vc
