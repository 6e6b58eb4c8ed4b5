// MailCache: the stored form of one message record: the length of the record
// (4 bytes, big-endian), then the record as one zstd frame with its content
// checksum, which tells bytes that changed on disk. Texts in it as UTF-8.
// Records written compressed by zlib (with zlib's own checksum) are read too.
#include "core/DateText.h"
#include "extract/MailCache.h"

#include <QDataStream>
#include <QIODevice>
#include <QTimeZone>
#include <QtEndian>

#include <zlib.h>
#include <zstd.h>

#include <cstring>
#include <memory>

namespace vc {

namespace {

constexpr quint8 kRecordFormat = 1;
// zlib cannot inflate more than about 1032 bytes from one.
constexpr qint64 kMostInflation = 1100;
constexpr qint64 kMostRecordBytes = qint64(1) << 30;
// zstd's first fast level: on generated mail text, against level 1, half the
// time to write, 0.4 times the time to read back, for a tenth more bytes.
constexpr int kZstdLevel = -1;
constexpr char kZstdMagic[] = "\x28\xb5\x2f\xfd";

// One compression and one decompression context per thread, made once: the
// cache writer and the walk's reader each have their own thread.
struct ZstdContexts {
    std::unique_ptr<ZSTD_CCtx, size_t (*)(ZSTD_CCtx *)> compress{ZSTD_createCCtx(), ZSTD_freeCCtx};
    std::unique_ptr<ZSTD_DCtx, size_t (*)(ZSTD_DCtx *)> decompress{ZSTD_createDCtx(), ZSTD_freeDCtx};
    ZstdContexts()
    {
        ZSTD_CCtx_setParameter(compress.get(), ZSTD_c_compressionLevel, kZstdLevel);
        ZSTD_CCtx_setParameter(compress.get(), ZSTD_c_checksumFlag, 1);
    }
};

ZstdContexts &zstd()
{
    thread_local ZstdContexts contexts;
    return contexts;
}

bool isZstd(const char *packed, qint64 size)
{
    return size >= 4 && memcmp(packed, kZstdMagic, 4) == 0;
}

// Whether a record may unpack to `claimed` bytes, before that much is made
// room for: a zstd frame says its size itself; zlib inflates a byte to at
// most about a thousand.
bool plausibleSize(qint64 claimed, const char *packed, qint64 size)
{
    if (claimed > kMostRecordBytes)
        return false;
    if (isZstd(packed, size))
        return ZSTD_getFrameContentSize(packed, size_t(size)) == quint64(claimed);
    return claimed <= size * kMostInflation;
}

// The packed bytes (after the length) inflated into `raw`, sized as claimed;
// false when they are not exactly that.
bool unpack(const char *packed, qint64 size, QByteArray &raw)
{
    if (isZstd(packed, size)) {
        const size_t got =
            ZSTD_decompressDCtx(zstd().decompress.get(), raw.data(), size_t(raw.size()), packed, size_t(size));
        return !ZSTD_isError(got) && qint64(got) == raw.size();
    }
    uLongf unpacked = uLongf(raw.size());
    return uncompress(reinterpret_cast<Bytef *>(raw.data()), &unpacked, reinterpret_cast<const Bytef *>(packed),
                      uLong(size))
               == Z_OK
           && qint64(unpacked) == raw.size();
}

void text(QDataStream &out, const QString &s)
{
    out << s.toUtf8();
}

// Reads a record back as QDataStream (big-endian, version 6.0) wrote it,
// straight from the bytes: texts are made from the bytes in place. Any read
// past the end leaves it failed, and every read after that gives nothing.
class RecordReader {
public:
    explicit RecordReader(const QByteArray &raw) : at_(raw.constData()), end_(raw.constData() + raw.size()) {}

    bool ok() const { return ok_; }
    bool atEnd() const { return ok_ && at_ == end_; }

    template <class T>
    T number()
    {
        if (!take(sizeof(T)))
            return T();
        const T v = qFromBigEndian<T>(at_ - sizeof(T));
        return v;
    }
    // A text: its length (0xffffffff for none), then its UTF-8 bytes.
    bool text(QString &s)
    {
        const quint32 n = number<quint32>();
        if (!ok_)
            return false;
        if (n == 0xffffffffu) {
            s = QString();
            return true;
        }
        if (!take(n))
            return false;
        s = QString::fromUtf8(at_ - n, qsizetype(n));
        return true;
    }
    // A count of items: no more than the bytes left could hold.
    bool count(quint32 &n)
    {
        n = number<quint32>();
        return ok_ && qint64(n) * 4 <= end_ - at_;
    }

private:
    bool take(size_t n)
    {
        if (!ok_ || size_t(end_ - at_) < n)
            return ok_ = false;
        at_ += n;
        return true;
    }
    const char *at_;
    const char *end_;
    bool ok_ = true;
};

}  // namespace

QByteArray MailCache::encodeRecord(const MailRecord &r)
{
    QByteArray raw;
    {
        QDataStream out(&raw, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_6_0);
        out << kRecordFormat << r.uid << r.uidValidity;
        for (const QString *s :
             {&r.From, &r.FromName, &r.FromAddress, &r.Subject, &r.PlainTextBody, &r.HTMLTextBody, &r.messageId})
            text(out, *s);
        out << r.date.isValid() << qint64(r.date.isValid() ? r.date.toMSecsSinceEpoch() : 0)
            << qint32(r.date.isValid() ? r.date.offsetFromUtc() : 0);
        out << quint32(r.headers.size());
        for (const HeaderField &h : r.headers) {
            text(out, h.name);
            text(out, h.value);
        }
        out << quint32(r.attachments.size());
        for (const AttachmentInfo &a : r.attachments) {
            text(out, a.name);
            text(out, a.contentType);
            out << a.size;
            text(out, a.text);
            text(out, a.problem);
        }
        out << quint32(r.gmailLabels.size());
        for (const QString &l : r.gmailLabels)
            text(out, l);
    }
    QByteArray stored(qsizetype(4 + ZSTD_compressBound(size_t(raw.size()))), Qt::Uninitialized);
    qToBigEndian<quint32>(quint32(raw.size()), stored.data());
    const size_t packed = ZSTD_compress2(zstd().compress.get(), stored.data() + 4, size_t(stored.size() - 4),
                                         raw.constData(), size_t(raw.size()));
    if (ZSTD_isError(packed))
        return {};
    stored.resize(qsizetype(4 + packed));
    return stored;
}

std::optional<MailRecord> MailCache::decodeRecord(const QByteArray &stored, quint32 uid, quint32 uidValidity)
{
    if (stored.size() < 8)
        return std::nullopt;
    const qint64 claimed = qFromBigEndian<quint32>(stored.constData());
    if (!plausibleSize(claimed, stored.constData() + 4, stored.size() - 4))
        return std::nullopt;
    QByteArray raw(qsizetype(claimed), Qt::Uninitialized);
    if (!unpack(stored.constData() + 4, stored.size() - 4, raw))
        return std::nullopt;
    RecordReader in(raw);
    MailRecord r;
    const quint8 format = in.number<quint8>();
    r.uid = in.number<quint32>();
    r.uidValidity = in.number<quint32>();
    if (!in.ok() || format != kRecordFormat || r.uid != uid || r.uidValidity != uidValidity)
        return std::nullopt;
    for (QString *s :
         {&r.From, &r.FromName, &r.FromAddress, &r.Subject, &r.PlainTextBody, &r.HTMLTextBody, &r.messageId}) {
        if (!in.text(*s))
            return std::nullopt;
    }
    const bool dated = in.number<quint8>() != 0;
    const qint64 ms = in.number<qint64>();
    const qint32 offset = in.number<qint32>();
    if (dated)
        r.date = QDateTime::fromMSecsSinceEpoch(ms, QTimeZone(offset));
    // The date as text follows this system's settings now, as a fresh decode would.
    r.ReceivedDate = dateToText(r.date);
    quint32 n = 0;
    if (!in.count(n))
        return std::nullopt;
    for (quint32 i = 0; i < n; ++i) {
        HeaderField h;
        if (!in.text(h.name) || !in.text(h.value))
            return std::nullopt;
        r.headers << h;
    }
    if (!in.count(n))
        return std::nullopt;
    for (quint32 i = 0; i < n; ++i) {
        AttachmentInfo a;
        if (!in.text(a.name) || !in.text(a.contentType))
            return std::nullopt;
        a.size = in.number<qint64>();
        if (!in.text(a.text) || !in.text(a.problem))
            return std::nullopt;
        r.attachments << a;
    }
    if (!in.count(n))
        return std::nullopt;
    for (quint32 i = 0; i < n; ++i) {
        QString l;
        if (!in.text(l))
            return std::nullopt;
        r.gmailLabels << l;
    }
    if (!in.atEnd())
        return std::nullopt;
    return r;
}

}  // namespace vc
