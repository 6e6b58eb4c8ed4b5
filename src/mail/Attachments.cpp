#include "mail/Attachments.h"

#include "core/Convert.h"
#include "mail/Charsets.h"
#include "mail/HtmlText.h"
#include "mail/MimeDecode.h"
#include "mail/PdfText.h"

#include <gmime/gmime.h>

#include <limits>
#include <memory>

namespace vc {

namespace {

// How deep attached messages inside attached messages have their own
// attachments read; deeper ones give their body text only.
constexpr int kMaxMessageNesting = 3;
constexpr int kMaxPartDepth = 64;

thread_local int tMessageNesting = 0;

struct Unref {
    void operator()(gpointer p) const { g_object_unref(p); }
};
using StreamRef = std::unique_ptr<GMimeStream, Unref>;

// What text an attachment has, and how it is read.
enum class TextKind { None, Plain, Html, Pdf, Message };

TextKind kindByExtension(const QString &name)
{
    const QString n = name.toLower();
    if (n.endsWith(QLatin1String(".pdf")))
        return TextKind::Pdf;
    if (n.endsWith(QLatin1String(".txt")) || n.endsWith(QLatin1String(".csv")) || n.endsWith(QLatin1String(".tsv")))
        return TextKind::Plain;
    if (n.endsWith(QLatin1String(".html")) || n.endsWith(QLatin1String(".htm")))
        return TextKind::Html;
    if (n.endsWith(QLatin1String(".eml")))
        return TextKind::Message;
    return TextKind::None;
}

TextKind kindOf(const QString &type, const QString &name)
{
    if (type == QLatin1String("message/rfc822"))
        return TextKind::Message;
    if (type == QLatin1String("text/html"))
        return TextKind::Html;
    if (type == QLatin1String("text/rtf") || type == QLatin1String("text/enriched"))
        return TextKind::None;
    if (type.startsWith(QLatin1String("text/")) || type == QLatin1String("application/csv"))
        return TextKind::Plain;
    if (type == QLatin1String("application/pdf") || type == QLatin1String("application/x-pdf")
        || type == QLatin1String("application/acrobat"))
        return TextKind::Pdf;
    // Many mailers send every file as a stream of bytes: its name tells.
    if (type == QLatin1String("application/octet-stream") || type == QLatin1String("application/x-download")
        || type == QLatin1String("application/force-download") || type.isEmpty())
        return kindByExtension(name);
    return TextKind::None;
}

QString fromUtf8(const char *s)
{
    return s ? QString::fromUtf8(s) : QString();
}

QString contentTypeOf(GMimeObject *object)
{
    GMimeContentType *type = g_mime_object_get_content_type(object);
    if (!type)
        return {};
    char *mime = g_mime_content_type_get_mime_type(type);
    const QString text = fromUtf8(mime).toLower();
    g_free(mime);
    return text;
}

QByteArray bytesOf(GMimeStream *mem)
{
    GByteArray *array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem));
    if (!array || array->len == 0)
        return {};
    return QByteArray(reinterpret_cast<const char *>(array->data), qsizetype(array->len));
}

// The decoded size of a part's content, counted without keeping it.
qint64 decodedSize(GMimeDataWrapper *content)
{
    StreamRef counter(g_mime_stream_null_new());
    g_mime_data_wrapper_write_to_stream(content, counter.get());
    return qint64(GMIME_STREAM_NULL(counter.get())->written);
}

// The decoded bytes of a part, unless there are more than `max` of them; the
// size is set either way.
bool decodedBytes(GMimePart *part, qint64 max, QByteArray *bytes, qint64 *size)
{
    *size = 0;
    GMimeDataWrapper *content = g_mime_part_get_content(part);
    if (!content)
        return true;
    // No transfer encoding makes content longer, so the encoded length bounds the decoded one.
    GMimeStream *encoded = g_mime_data_wrapper_get_stream(content);
    const gint64 encodedLength = encoded ? g_mime_stream_length(encoded) : -1;
    if (encodedLength < 0 || encodedLength > max) {
        *size = decodedSize(content);
        if (*size > max)
            return false;
    }
    StreamRef sink(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(content, sink.get());
    *bytes = bytesOf(sink.get());
    *size = bytes->size();
    return true;
}

// The text of an attached message as a reader sees it: sender, date and
// subject lines, a blank line, then its body (and, not too deep down, the
// text of its own attachments).
QString messageText(const QByteArray &raw, const DecodeNeeds &outer)
{
    DecodeNeeds needs;
    needs.attachmentText = outer.attachmentText && tMessageNesting < kMaxMessageNesting;
    needs.attachments = needs.attachmentText;
    ++tMessageNesting;
    const MailRecord inner = decodeMessage(raw, needs);
    --tMessageNesting;
    QString text;
    if (!inner.From.isEmpty())
        text += QStringLiteral("From: ") + inner.From + QLatin1String("\r\n");
    if (!inner.ReceivedDate.isEmpty())
        text += QStringLiteral("Date: ") + inner.ReceivedDate + QLatin1String("\r\n");
    text += QStringLiteral("Subject: ") + inner.Subject + QLatin1String("\r\n\r\n");
    return text + convert::withCrLf(inner.PlainTextBody);
}

// Attached messages are written out with CR LF line ends, as mail travels.
GMimeFormatOptions *messageFormat()
{
    static GMimeFormatOptions *options = [] {
        GMimeFormatOptions *o = g_mime_format_options_new();
        g_mime_format_options_set_newline_format(o, GMIME_NEWLINE_FORMAT_DOS);
        return o;
    }();
    return options;
}

QString tooLarge(qint64 size)
{
    return QStringLiteral("the attachment is larger than %1 MB (%2 MB); its text was not read")
        .arg(kAttachmentTextMaxBytes >> 20)
        .arg(QString::number(double(size) / (1 << 20), 'f', 1));
}

class Reader {
public:
    Reader(const QList<GMimeObject *> &body, const DecodeNeeds &needs, MailRecord &record)
        : body_(body), needs_(needs), record_(record)
    {}

    void walk(GMimeObject *object, int depth)
    {
        if (!object || depth > kMaxPartDepth)
            return;
        if (GMIME_IS_MULTIPART(object)) {
            GMimeMultipart *multipart = GMIME_MULTIPART(object);
            const int count = g_mime_multipart_get_count(multipart);
            for (int i = 0; i < count; ++i)
                walk(g_mime_multipart_get_part(multipart, i), depth + 1);
        } else if (GMIME_IS_MESSAGE_PART(object)) {
            attachedMessage(GMIME_MESSAGE_PART(object));
        } else if (GMIME_IS_PART(object) && !body_.contains(object) && isAttachment(object)) {
            part(GMIME_PART(object));
        }
    }

private:
    static bool isAttachment(GMimeObject *object)
    {
        GMimeContentDisposition *disposition = g_mime_object_get_content_disposition(object);
        if (disposition && g_mime_content_disposition_is_attachment(disposition))
            return true;
        return g_mime_part_get_filename(GMIME_PART(object)) != nullptr;
    }

    bool sinkWants(const AttachmentInfo &info) const
    {
        return needs_.attachmentBytes && (!needs_.attachmentBytes.wants || needs_.attachmentBytes.wants(info));
    }
    bool keeps(const AttachmentInfo &info) const { return needs_.keepBytes && needs_.keepBytes(info); }

    void part(GMimePart *part)
    {
        AttachmentInfo info;
        info.name = fromUtf8(g_mime_part_get_filename(part)).trimmed();
        info.contentType = contentTypeOf(GMIME_OBJECT(part));
        const TextKind kind = kindOf(info.contentType, info.name);
        const bool wantText = needs_.attachmentText && kind != TextKind::None;
        const bool keep = keeps(info);
        const bool toSink = sinkWants(info);
        const bool wantBytes = toSink || keep;
        if (!wantText && !wantBytes) {
            GMimeDataWrapper *content = g_mime_part_get_content(part);
            info.size = content ? decodedSize(content) : 0;
            add(std::move(info));
            return;
        }
        QByteArray bytes;
        const bool held = decodedBytes(part, wantBytes ? std::numeric_limits<qint64>::max() : kAttachmentTextMaxBytes,
                                       &bytes, &info.size);
        if (toSink && held)
            needs_.attachmentBytes.take(info, bytes);
        if (wantText) {
            if (!held || info.size > kAttachmentTextMaxBytes)
                info.problem = tooLarge(info.size);
            else
                readText(kind, bytes, GMIME_OBJECT(part), info);
        }
        add(std::move(info), keep && held ? std::move(bytes) : QByteArray());
    }

    void attachedMessage(GMimeMessagePart *part)
    {
        GMimeObject *object = GMIME_OBJECT(part);
        GMimeMessage *message = g_mime_message_part_get_message(part);
        AttachmentInfo info;
        info.name = fromUtf8(g_mime_object_get_content_disposition_parameter(object, "filename")).trimmed();
        if (info.name.isEmpty())
            info.name = fromUtf8(g_mime_object_get_content_type_parameter(object, "name")).trimmed();
        if (info.name.isEmpty() && message) {
            const QString subject = fromUtf8(g_mime_message_get_subject(message)).simplified();
            if (!subject.isEmpty())
                info.name = subject + QStringLiteral(".eml");
        }
        info.contentType = contentTypeOf(object);
        const bool wantText = needs_.attachmentText;
        const bool keep = keeps(info);
        const bool toSink = sinkWants(info);
        const bool wantBytes = toSink || keep;
        if (!message) {
            add(std::move(info));
            return;
        }
        if (!wantText && !wantBytes) {
            StreamRef counter(g_mime_stream_null_new());
            g_mime_object_write_to_stream(GMIME_OBJECT(message), messageFormat(), counter.get());
            info.size = qint64(GMIME_STREAM_NULL(counter.get())->written);
            add(std::move(info));
            return;
        }
        StreamRef sink(g_mime_stream_mem_new());
        g_mime_object_write_to_stream(GMIME_OBJECT(message), messageFormat(), sink.get());
        const QByteArray raw = bytesOf(sink.get());
        sink.reset();
        info.size = raw.size();
        if (toSink)
            needs_.attachmentBytes.take(info, raw);
        if (wantText) {
            if (info.size > kAttachmentTextMaxBytes)
                info.problem = tooLarge(info.size);
            else
                info.text = messageText(raw, needs_);
        }
        add(std::move(info), keep ? raw : QByteArray());
    }

    void readText(TextKind kind, const QByteArray &bytes, GMimeObject *object, AttachmentInfo &info)
    {
        const QByteArray charset = g_mime_object_get_content_type_parameter(object, "charset");
        switch (kind) {
        case TextKind::None: break;
        case TextKind::Plain: info.text = convert::withCrLf(decodeCharset(bytes, charset)); break;
        case TextKind::Html: info.text = convert::withCrLf(htmlToPlainText(decodeCharset(bytes, charset))); break;
        case TextKind::Message: info.text = messageText(bytes, needs_); break;
        case TextKind::Pdf: {
            PdfText pdf = readPdfText(bytes);
            info.text = std::move(pdf.text);
            info.problem = std::move(pdf.problem);
            break;
        }
        }
    }

    void add(AttachmentInfo info, QByteArray held = QByteArray())
    {
        if (!held.isNull()) {
            record_.heldAttachmentBytes.resize(record_.attachments.size());
            record_.heldAttachmentBytes.append(std::move(held));
        }
        if (needs_.attachmentText && (!info.text.isEmpty() || !info.problem.isEmpty())) {
            QString &body = record_.PlainTextBody;
            if (!body.isEmpty() && !body.endsWith(QLatin1String("\r\n")))
                body += QLatin1String("\r\n");
            body += attachmentMarker(info.name) + QLatin1String("\r\n") + info.text;
            if (!info.problem.isEmpty())
                body += info.problem + QLatin1String("\r\n");
        }
        record_.attachments.append(std::move(info));
    }

    const QList<GMimeObject *> &body_;
    const DecodeNeeds &needs_;
    MailRecord &record_;
};

}  // namespace

QString attachmentMarker(const QString &name)
{
    QString clean;
    clean.reserve(name.size());
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        // Controls (a line break would split the line) and the bidi controls
        // that would make the rest of the line read backwards.
        if (u < 0x20 || (u >= 0x7F && u < 0xA0) || (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069)
            || u == 0x200E || u == 0x200F || u == 0x061C)
            clean += QLatin1Char(' ');
        else
            clean += c;
    }
    clean = clean.simplified();
    return clean.isEmpty() ? QStringLiteral("--- attachment ---")
                           : QStringLiteral("--- attachment ") + clean + QStringLiteral(" ---");
}

void readAttachments(GMimeObject *message, const QList<GMimeObject *> &bodyParts, const DecodeNeeds &needs,
                     MailRecord &record)
{
    if (!message || !GMIME_IS_MESSAGE(message))
        return;
    Reader reader(bodyParts, needs, record);
    reader.walk(g_mime_message_get_mime_part(GMIME_MESSAGE(message)), 0);
}

}  // namespace vc
