#pragma once
#include "core/MailRecord.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

typedef struct _GMimeObject GMimeObject;

namespace vc {

struct DecodeNeeds;

// Hands the decoded bytes of chosen attachments to whoever saves them, without
// keeping them in the record. `wants` is asked with the name and content type
// of each attachment; `take` gets the info (size included) and the bytes of
// those it wanted. Both are called on the thread that decodes, which is a
// worker thread when messages are decoded ahead: they must be safe there.
struct AttachmentSink {
    std::function<bool(const AttachmentInfo &)> wants;
    std::function<void(const AttachmentInfo &, const QByteArray &bytes)> take;
    explicit operator bool() const { return bool(take); }
};

// An attachment larger than this has no text read (its size is still counted).
inline constexpr qint64 kAttachmentTextMaxBytes = qint64(50) << 20;

// The line that introduces an attachment's text in PlainTextBody (without its
// CR LF); characters that would break the line are left out of the name.
QString attachmentMarker(const QString &name);

// The attachments of a parsed message, for decodeMessage: every part with a file
// name or the disposition "attachment", and every attached message, in message
// order; the parts in `bodyParts` (the text bodies) are not attachments. Fills
// record.attachments and, when the needs ask for attachment text, adds each
// text after the body in record.PlainTextBody.
void readAttachments(GMimeObject *message, const QList<GMimeObject *> &bodyParts, const DecodeNeeds &needs,
                     MailRecord &record);

}  // namespace vc
