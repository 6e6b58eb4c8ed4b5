#include "mail/MimeDecode.h"

#include "core/DateText.h"
#include "mail/Charsets.h"
#include "mail/HeaderBlock.h"
#include "mail/HtmlText.h"

#include <gmime/gmime.h>

#include <QScopeGuard>
#include <QTimeZone>

#include <mutex>
#include <optional>

namespace vc {

namespace {

// Content types GMime could not read while this thread parsed its latest message.
thread_local int tInvalidContentTypes = 0;

void noteParserWarning(gint64, GMimeParserWarning warning, const gchar *, gpointer)
{
    if (warning == GMIME_WARN_INVALID_CONTENT_TYPE)
        ++tInvalidContentTypes;
}

// GMime needs one global initialisation; the parser options are shared read-only.
GMimeParserOptions *parserOptions()
{
    static std::once_flag once;
    static GMimeParserOptions *options = nullptr;
    std::call_once(once, [] {
        g_mime_init();
        options = g_mime_parser_options_new();
        g_mime_parser_options_set_rfc2047_compliance_mode(options, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_address_compliance_mode(options, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_parameter_compliance_mode(options, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_allow_addresses_without_domain(options, TRUE);
        // Raw 8-bit header text: UTF-8 when it is valid, else Windows-1252, else
        // Latin-1 (which never fails).
        const char *fallback[] = {"utf-8", "windows-1252", "iso-8859-1", nullptr};
        g_mime_parser_options_set_fallback_charsets(options, fallback);
        // GMime reads a content type it cannot parse as application/octet-stream;
        // the warning lets such parts be read as the plain text they almost always are.
        g_mime_parser_options_set_warning_callback(options, noteParserWarning, nullptr);
    });
    return options;
}

// Owns a GObject reference for the length of a scope.
template <typename T>
struct GRef {
    T *p = nullptr;
    explicit GRef(T *ptr = nullptr) : p(ptr) {}
    ~GRef() { reset(); }
    void reset(T *ptr = nullptr)
    {
        if (p)
            g_object_unref(p);
        p = ptr;
    }
    GRef(const GRef &) = delete;
    GRef &operator=(const GRef &) = delete;
    T *get() const { return p; }
    explicit operator bool() const { return p != nullptr; }
};

QString fromUtf8(const char *s)
{
    return s ? QString::fromUtf8(s) : QString();
}

// Where a part's content lies in the bytes the parser read: the parser keeps
// every part as a piece of the memory stream over the message, so a part
// needs no copy to be read. Nothing when the content lives elsewhere.
std::optional<QByteArrayView> contentInPlace(GMimeDataWrapper *content, const GByteArray *message)
{
    GMimeStream *stream = g_mime_data_wrapper_get_stream(content);
    if (!stream || !GMIME_IS_STREAM_MEM(stream)
        || g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream)) != message)
        return std::nullopt;
    const gint64 size = gint64(message->len);
    const gint64 start = qBound<gint64>(0, stream->bound_start, size);
    const gint64 end = stream->bound_end < 0 ? size : qBound<gint64>(start, stream->bound_end, size);
    return QByteArrayView(reinterpret_cast<const char *>(message->data) + start, qsizetype(end - start));
}

// The transfer-decoded bytes of a leaf part, written by GMime's own decoding filter.
QByteArray partBytesCopied(GMimeDataWrapper *content)
{
    GRef<GMimeStream> sink(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(content, sink.get());
    GByteArray *array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(sink.get()));
    if (!array || array->len == 0)
        return {};
    return QByteArray(reinterpret_cast<const char *>(array->data), qsizetype(array->len));
}

// The transfer-decoded bytes of a leaf part: in place in the message, or
// decoded into a buffer of their own.
class PartBytes {
public:
    explicit PartBytes(QByteArrayView inPlace = {}) : inPlace_(inPlace) {}
    explicit PartBytes(QByteArray decoded) : decoded_(std::move(decoded)), isDecoded_(true) {}
    QByteArrayView bytes() const { return isDecoded_ ? QByteArrayView(decoded_) : inPlace_; }

private:
    QByteArrayView inPlace_;
    QByteArray decoded_;
    bool isDecoded_ = false;
};

// The bytes of a leaf part of the message in `message` (the array the
// parser's stream reads). Content that needs no transfer decoding is read in
// place; base64 and quoted-printable go through GMime's decoder in one step;
// anything else through its decoding filter.
PartBytes partBytes(GMimePart *part, const GByteArray *message)
{
    GMimeDataWrapper *content = g_mime_part_get_content(part);
    if (!content)
        return PartBytes();
    const GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(content);
    const std::optional<QByteArrayView> in = contentInPlace(content, message);
    if (!in || encoding == GMIME_CONTENT_ENCODING_UUENCODE)
        return PartBytes(partBytesCopied(content));
    if (encoding != GMIME_CONTENT_ENCODING_BASE64 && encoding != GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE)
        return PartBytes(*in);  // 7bit, 8bit, binary: the bytes as they stand
    GMimeEncoding state;
    g_mime_encoding_init_decode(&state, encoding);
    QByteArray decoded(qsizetype(g_mime_encoding_outlen(&state, size_t(in->size()))), Qt::Uninitialized);
    decoded.truncate(qsizetype(g_mime_encoding_step(&state, in->data(), size_t(in->size()), decoded.data())));
    return PartBytes(std::move(decoded));
}

// A part whose Content-Type GMime could not read ("text", "text/", "garbage").
// Mail readers take such a part as text/plain.
bool hasInvalidContentType(GMimeObject *object)
{
    const char *value = g_mime_object_get_header(object, "Content-Type");
    if (!value)
        return false;
    const int before = tInvalidContentTypes;
    GMimeContentType *type = g_mime_content_type_parse(parserOptions(), value);
    const bool invalid = tInvalidContentTypes != before || !type || !*g_mime_content_type_get_media_type(type)
                         || !*g_mime_content_type_get_media_subtype(type);
    if (type)
        g_object_unref(type);
    return invalid;
}

// The charset named in a Content-Type value that GMime could not read as a
// whole ("text; charset=koi8-r"): its parameters are read on their own.
QByteArray charsetOfInvalidType(GMimeObject *object)
{
    const QByteArray value = g_mime_object_get_header(object, "Content-Type");
    const qsizetype semicolon = value.indexOf(';');
    if (semicolon < 0)
        return {};
    GMimeParamList *params = g_mime_param_list_parse(parserOptions(), value.constData() + semicolon + 1);
    if (!params)
        return {};
    GMimeParam *charset = g_mime_param_list_get_parameter(params, "charset");
    const QByteArray name = charset ? QByteArray(g_mime_param_get_value(charset)) : QByteArray();
    g_object_unref(params);
    return name;
}

QString partText(GMimePart *part, const GByteArray *message)
{
    GMimeObject *object = GMIME_OBJECT(part);
    const char *charset = g_mime_object_get_content_type_parameter(object, "charset");
    const PartBytes bytes = partBytes(part, message);
    if (!charset && tInvalidContentTypes > 0 && hasInvalidContentType(object))
        return decodeCharset(bytes.bytes(), charsetOfInvalidType(object));
    return decodeCharset(bytes.bytes(), QByteArrayView(charset));
}

// Text/plain, or a type GMime could not read (checked only when the parser met one).
bool isPlainText(GMimeObject *object, GMimeContentType *type)
{
    if (g_mime_content_type_is_type(type, "text", "plain"))
        return true;
    if (!*g_mime_content_type_get_media_type(type) || !*g_mime_content_type_get_media_subtype(type))
        return true;  // "/plain": read without a warning, but no type either
    return tInvalidContentTypes > 0 && g_mime_content_type_is_type(type, "application", "octet-stream")
           && hasInvalidContentType(object);
}

bool isAttachment(GMimeObject *object)
{
    GMimeContentDisposition *disposition = g_mime_object_get_content_disposition(object);
    return disposition && g_mime_content_disposition_is_attachment(disposition);
}

// Depth-first search for the first text/plain and the first text/html part that
// are not attachments. Attached messages (message/rfc822) are not entered: their
// text belongs to the attachment, not to this message.
void findTextParts(GMimeObject *object, GMimePart **plain, GMimePart **html, int depth = 0)
{
    if (!object || depth > 64 || (*plain && *html))
        return;
    if (GMIME_IS_MULTIPART(object)) {
        GMimeMultipart *multipart = GMIME_MULTIPART(object);
        const int count = g_mime_multipart_get_count(multipart);
        for (int i = 0; i < count && !(*plain && *html); ++i)
            findTextParts(g_mime_multipart_get_part(multipart, i), plain, html, depth + 1);
        return;
    }
    if (!GMIME_IS_PART(object) || isAttachment(object))
        return;
    GMimeContentType *type = g_mime_object_get_content_type(object);
    if (!type)
        return;
    if (!*plain && isPlainText(object, type))
        *plain = GMIME_PART(object);
    else if (!*html && g_mime_content_type_is_type(type, "text", "html"))
        *html = GMIME_PART(object);
}

// A multipart whose boundary is missing (or never occurs) has no parts. Its
// content is then shown as it stands: everything after the message's header
// block, line ends untouched. `raw` is the message with all its header fields
// (where the header block ends is looked for in it).
QString unsplitMultipartText(GMimeObject *object, const QByteArray &raw)
{
    if (!object || !GMIME_IS_MULTIPART(object) || g_mime_multipart_get_count(GMIME_MULTIPART(object)) > 0)
        return {};
    const qsizetype crlf = raw.indexOf("\r\n\r\n");
    const qsizetype lf = raw.indexOf("\n\n");
    qsizetype start = -1;
    if (crlf >= 0 && (lf < 0 || crlf < lf))
        start = crlf + 4;
    else if (lf >= 0)
        start = lf + 2;
    if (start < 0)
        return {};
    const char *charset = g_mime_object_get_content_type_parameter(object, "charset");
    return decodeCharset(QByteArrayView(raw).sliced(start), QByteArrayView(charset));
}

// The first mailbox of an address list, looking into groups.
InternetAddressMailbox *firstMailbox(InternetAddressList *list, int depth = 0)
{
    if (!list || depth > 8)
        return nullptr;
    const int count = internet_address_list_length(list);
    for (int i = 0; i < count; ++i) {
        InternetAddress *address = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_MAILBOX(address))
            return INTERNET_ADDRESS_MAILBOX(address);
        if (INTERNET_ADDRESS_IS_GROUP(address)) {
            if (auto *mailbox =
                    firstMailbox(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)), depth + 1))
                return mailbox;
        }
    }
    return nullptr;
}

void decodeSender(GMimeMessage *message, MailRecord &email)
{
    InternetAddressMailbox *mailbox = firstMailbox(g_mime_message_get_from(message));
    if (!mailbox) {
        // No usable address (e.g. "From: undisclosed-recipients:;"): keep the
        // header's decoded text so the sender is not silently lost.
        const char *value = g_mime_object_get_header(GMIME_OBJECT(message), "From");
        if (value) {
            char *decoded = g_mime_utils_header_decode_text(parserOptions(), value);
            email.From = fromUtf8(decoded).simplified();
            g_free(decoded);
        }
        return;
    }
    email.FromName = fromUtf8(internet_address_get_name(INTERNET_ADDRESS(mailbox))).trimmed();
    email.FromAddress = fromUtf8(internet_address_mailbox_get_addr(mailbox)).trimmed();
    if (email.FromName.isEmpty())
        email.From = email.FromAddress;
    else if (email.FromAddress.isEmpty())
        email.From = email.FromName;
    else
        email.From = email.FromName + QStringLiteral(" <") + email.FromAddress + QLatin1Char('>');
}

QDateTime decodeDate(GMimeMessage *message)
{
    GDateTime *date = g_mime_message_get_date(message);
    if (!date)
        return {};
    const qint64 seconds = g_date_time_to_unix(date);
    const int offsetSeconds = int(g_date_time_get_utc_offset(date) / G_TIME_SPAN_SECOND);
    // Mail of one folder mostly comes from a few offsets: the zone of the last one is kept.
    thread_local int lastOffset = 0;
    thread_local QTimeZone lastZone(0);
    if (offsetSeconds != lastOffset) {
        lastZone = QTimeZone(offsetSeconds);
        lastOffset = offsetSeconds;
    }
    return QDateTime::fromSecsSinceEpoch(seconds, lastZone);
}

// Every header field of the message, values unfolded and decoded.
QList<HeaderField> decodeHeaders(GMimeObject *object)
{
    QList<HeaderField> fields;
    GMimeHeaderList *list = g_mime_object_get_header_list(object);
    const int count = list ? g_mime_header_list_get_count(list) : 0;
    fields.reserve(count);
    for (int i = 0; i < count; ++i) {
        GMimeHeader *header = g_mime_header_list_get_header_at(list, i);
        const char *raw = g_mime_header_get_raw_value(header);
        QString value;
        if (raw) {
            char *unfolded = g_mime_utils_header_unfold(raw);
            char *decoded = g_mime_utils_header_decode_text(parserOptions(), unfolded);
            value = fromUtf8(decoded).trimmed();
            g_free(decoded);
            g_free(unfolded);
        }
        fields.append({fromUtf8(g_mime_header_get_name(header)), value});
    }
    return fields;
}

// A memory stream and a parser over it, kept from message to message: making
// them costs more than setting them to the next message's bytes.
class ReusedParser {
public:
    ReusedParser() = default;
    ReusedParser(const ReusedParser &) = delete;
    ReusedParser &operator=(const ReusedParser &) = delete;
    ~ReusedParser()
    {
        if (parser_)
            g_object_unref(parser_);
        if (stream_)
            g_object_unref(stream_);
    }

    // The parser, at the start of `bytes`, reading them up to `end` (all of
    // them when -1). The stream reads them in place and never frees them;
    // parts parsed keep referring to the stream's bytes, so no body is copied
    // before it is decoded. Once the message is decoded the stream still
    // points at them, but reads nothing until it is set again.
    GMimeParser *reading(GByteArray *bytes, gint64 end = -1)
    {
        if (!stream_)
            stream_ = g_mime_stream_mem_new();
        g_mime_stream_mem_set_byte_array(GMIME_STREAM_MEM(stream_), bytes);
        g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(stream_), FALSE);
        g_mime_stream_set_bounds(stream_, 0, end);
        if (!parser_)
            parser_ = g_mime_parser_new_with_stream(stream_);
        else
            g_mime_parser_init_with_stream(parser_, stream_);
        g_mime_parser_set_persist_stream(parser_, TRUE);
        return parser_;
    }

    GMimeStream *stream() const { return stream_; }

private:
    GMimeStream *stream_ = nullptr;
    GMimeParser *parser_ = nullptr;
};

// Gives the single part of a message parsed up to the start of its body (so
// GMime did not scan the body line by line for boundaries it cannot hold) the
// body: everything from where GMime saw the content begin to the end of the
// bytes, as reading the whole message would give it. False when the message
// parsed is not a single part after all.
bool singlePartBody(GMimeMessage *message, GMimeStream *stream, gint64 end)
{
    GMimeObject *top = g_mime_message_get_mime_part(message);
    if (!top || !GMIME_IS_PART(top))
        return false;
    GMimePart *part = GMIME_PART(top);
    GMimeDataWrapper *content = g_mime_part_get_content(part);
    GMimeStream *read = content ? g_mime_data_wrapper_get_stream(content) : nullptr;
    if (!read || read->bound_start < 0)
        return false;
    GRef<GMimeStream> body(g_mime_stream_substream(stream, read->bound_start, end));
    GRef<GMimeDataWrapper> wrapper(
        g_mime_data_wrapper_new_with_stream(body.get(), g_mime_data_wrapper_get_encoding(content)));
    g_mime_part_set_content(part, wrapper.get());
    return true;
}

}  // namespace

MailRecord decodeMessage(const QByteArray &message, const DecodeNeeds &needs)
{
    MailRecord email;
    if (message.isEmpty())
        return email;
    GMimeParserOptions *options = parserOptions();
    // Both share the bytes of `message` when they change nothing.
    const QByteArray whole = mime::withHeaderBlockEnd(message);
    // The trimmed copy goes into one buffer per thread that keeps its room
    // from message to message. An attached message is decoded while the
    // message around it still reads from that buffer: it gets one of its own.
    thread_local QByteArray tTrimmed;
    thread_local bool tTrimmedInUse = false;
    QByteArray nestedTrimmed;
    const bool outermost = !tTrimmedInUse;
    QByteArray &trimmed = outermost ? tTrimmed : nestedTrimmed;
    tTrimmedInUse = true;
    const auto release = qScopeGuard([outermost] {
        if (outermost)
            tTrimmedInUse = false;
    });
    const QByteArray &raw = needs.headers ? whole : mime::withRecordFieldsOnly(whole, trimmed);
    tInvalidContentTypes = 0;

    // The array's wrapper is released without freeing the data.
    GByteArray *view =
        g_byte_array_new_take(reinterpret_cast<guint8 *>(const_cast<char *>(raw.constData())), gsize(raw.size()));
    {
        // The outermost message of a thread reads with the thread's own stream
        // and parser, set to each message afresh; an attached message gets new ones.
        thread_local ReusedParser tParser;
        std::optional<ReusedParser> nestedParser;
        ReusedParser &reader = outermost ? tParser : nestedParser.emplace();
        // A single-part message is parsed up to its body, which is then given
        // to its part as it stands; any other is parsed whole.
        const std::optional<qsizetype> bodyStart = mime::singlePartBodyStart(raw);
        GRef<GMimeMessage> message;
        if (bodyStart) {
            message.reset(g_mime_parser_construct_message(reader.reading(view, *bodyStart), options));
            if (message && !singlePartBody(message.get(), reader.stream(), gint64(raw.size())))
                message.reset();
        }
        if (!message)
            message.reset(g_mime_parser_construct_message(reader.reading(view), options));
        if (message) {
            decodeSender(message.get(), email);
            email.Subject = fromUtf8(g_mime_message_get_subject(message.get()));
            email.date = decodeDate(message.get());
            email.ReceivedDate = dateToText(email.date);
            email.messageId = fromUtf8(g_mime_message_get_message_id(message.get()));
            if (needs.headers)
                email.headers = decodeHeaders(GMIME_OBJECT(message.get()));

            GMimePart *plain = nullptr;
            GMimePart *html = nullptr;
            findTextParts(g_mime_message_get_mime_part(message.get()), &plain, &html);
            if (plain) {
                email.PlainTextBody = partText(plain, view);
                if (html && needs.htmlBody)
                    email.HTMLTextBody = partText(html, view);
            } else if (html) {
                QString htmlText = partText(html, view);
                email.PlainTextBody = htmlToPlainText(htmlText);
                if (needs.htmlBody)
                    email.HTMLTextBody = std::move(htmlText);
            } else {
                email.PlainTextBody = unsplitMultipartText(g_mime_message_get_mime_part(message.get()), whole);
            }
            if (needs.wantsAttachments())
                readAttachments(GMIME_OBJECT(message.get()), {GMIME_OBJECT(plain), GMIME_OBJECT(html)}, needs, email);
        }
    }
    g_byte_array_free(view, FALSE);  // the data stays the caller's
    return email;
}

}  // namespace vc
