#include "mail/ImapResponses.h"

#include "mail/ModifiedUtf7.h"

namespace vc {

namespace {

QStringList atomsOf(const ImapValue &list)
{
    QStringList out;
    for (const ImapValue &v : list.list) {
        if (v.kind != ImapValue::List)
            out << QString::fromUtf8(v.text);
    }
    return out;
}

// The number after `name` in a response code ("UIDVALIDITY 3857529045"); false
// when the code is another one or its number does not fit 32 bits.
bool codeNumber(const QByteArray &code, const char *name, quint32 *out)
{
    const QByteArray upper = code.toUpper();
    const QByteArray prefix = QByteArray(name) + ' ';
    if (!upper.startsWith(prefix))
        return false;
    bool ok = false;
    const quint32 n = code.mid(prefix.size()).trimmed().toUInt(&ok);
    if (ok)
        *out = n;
    return ok;
}

}  // namespace

bool takeSelectResponse(const ImapResponse &r, MailboxStatus &status)
{
    if (r.kind != ImapResponse::Untagged)
        return false;
    if (r.status == "OK")
        return codeNumber(r.code, "UIDVALIDITY", &status.uidValidity) || codeNumber(r.code, "UIDNEXT", &status.uidNext);
    if (r.isStatus())
        return false;
    const QByteArray name = r.name();
    if (name == "EXISTS" && r.number() >= 0) {
        status.exists = r.number();
        return true;
    }
    if (name == "FLAGS" && r.values.size() >= 2 && r.values[1].kind == ImapValue::List) {
        status.flags = atomsOf(r.values[1]);
        return true;
    }
    return false;
}

std::optional<MailboxInfo> parseListResponse(const ImapResponse &r)
{
    // "* LIST (attributes) delimiter name"
    if (r.kind != ImapResponse::Untagged || r.isStatus() || r.name() != "LIST" || r.values.size() < 4)
        return std::nullopt;
    const ImapValue &attributes = r.values[1];
    const ImapValue &delimiter = r.values[2];
    const ImapValue &name = r.values[3];
    if (attributes.kind != ImapValue::List || delimiter.kind == ImapValue::List || !name.isString())
        return std::nullopt;
    MailboxInfo box;
    box.name = decodeMailboxName(name.text);
    if (delimiter.kind != ImapValue::Nil)
        box.delimiter = QString::fromUtf8(delimiter.text);
    box.attributes = atomsOf(attributes);
    return box;
}

std::optional<FetchResponse> takeFetchResponse(ImapResponse &r)
{
    // "* n FETCH (item value item value ...)"
    if (r.kind != ImapResponse::Untagged || r.isStatus() || r.name() != "FETCH" || r.number() < 0 || r.values.size() < 3
        || r.values[2].kind != ImapValue::List)
        return std::nullopt;
    ImapValue &items = r.values[2];
    FetchResponse f;
    f.number = r.number();
    if (const ImapValue *uid = items.item("UID"))
        f.uid = uid->text.toUInt();
    if (const ImapValue *size = items.item("RFC822.SIZE")) {
        bool ok = false;
        const qint64 n = size->text.toLongLong(&ok);
        if (ok && n >= 0)
            f.size = n;
    }
    if (const ImapValue *flags = items.item("FLAGS"); flags && flags->kind == ImapValue::List)
        f.flags = atomsOf(*flags);
    if (ImapValue *body = items.item("BODY[]")) {
        if (body->kind == ImapValue::String || body->kind == ImapValue::Atom) {
            f.has = FetchResponse::Body::Present;
            f.body = std::move(body->text);
        } else {
            f.has = FetchResponse::Body::Nil;
        }
    }
    return f;
}

}  // namespace vc
