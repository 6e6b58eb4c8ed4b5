// The response parser on any byte stream. The first two bytes pick how the rest
// is cut into pieces; the stream is also parsed whole, and both must agree:
// the same responses, the same error. Small limits let literal floods and deep
// lines reach the response budget within a short input.
#include "mail/ImapParser.h"
#include "mail/ImapSearch.h"

#include <QList>

#include <cstddef>
#include <cstdint>

namespace {

struct Result {
    QList<QByteArray> raws;
    QString error;
};

void touch(const vc::ImapResponse &r)
{
    (void)r.name();
    (void)r.number();
    for (const vc::ImapValue &v : r.values)
        (void)v.item("BODY[]");
    // SEARCH and ESEARCH answers: a UID set read back from its own text is the same set.
    if (const auto s = vc::searchAnswer(r);
        s && s->ok() && vc::UidSet::parse((*s)->toImap()).value_or(vc::UidSet()) != **s)
        __builtin_trap();
    if (const auto e = vc::esearchAnswer(r);
        e && e->uids.ok() && !e->uids->isEmpty() && vc::UidSet::parse(e->uids->toImap()) != *e->uids)
        __builtin_trap();
}

Result parse(const QByteArray &stream, quint16 chunking)
{
    vc::ImapParser p;
    p.setMaxLiteralBytes(64);
    p.setMaxLineBytes(256);
    Result out;
    qsizetype at = 0;
    quint32 state = chunking;
    while (at < stream.size() && !p.hasError()) {
        qsizetype piece = stream.size();
        if (chunking != 0) {
            state = state * 1103515245u + 12345u;
            piece = qsizetype(1 + (state >> 16) % 97);
        }
        p.feed(stream.mid(at, piece));
        at += piece;
        while (p.hasResponse()) {
            const vc::ImapResponse r = p.takeResponse();
            touch(r);
            out.raws.append(r.raw);
        }
    }
    out.error = p.errorText();
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const quint16 chunking = quint16(data[0] | data[1] << 8);
    const QByteArray stream(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2));
    const Result whole = parse(stream, 0);
    const Result pieces = parse(stream, chunking | 1);
    if (whole.raws != pieces.raws || whole.error != pieces.error)
        __builtin_trap();
    // Nothing comes out of nothing: every response stands for bytes of the stream.
    if (whole.raws.size() > stream.size())
        __builtin_trap();
    return 0;
}
