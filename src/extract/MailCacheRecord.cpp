// MailCache: the stored form of one message record: the length of the record
// (4 bytes, big-endian), then the record compressed by zlib, whose own
// checksum tells bytes that changed on disk. Texts in it as UTF-8.
#include "core/DateText.h"
#include "extract/MailCache.h"

#include <QDataStream>
#include <QIODevice>
#include <QTimeZone>
#include <QtEndian>

#include <zlib.h>

namespace vc {

namespace {

constexpr quint8 kRecordFormat = 1;
// zlib cannot inflate more than about 1032 bytes from one.
constexpr qint64 kMostInflation = 1100;
constexpr qint64 kMostRecordBytes = qint64(1) << 30;

void text(QDataStream &out, const QString &s)
{
    out << s.toUtf8();
}

bool text(QDataStream &in, QString &s)
{
    QByteArray bytes;
    in >> bytes;
    s = QString::fromUtf8(bytes);
    return in.status() == QDataStream::Ok;
}

// A count read back: no more items than the bytes left could hold.
bool count(QDataStream &in, quint32 &n)
{
    in >> n;
    return in.status() == QDataStream::Ok && qint64(n) * 4 <= in.device()->bytesAvailable();
}

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
    uLongf packed = compressBound(uLong(raw.size()));
    QByteArray stored(qsizetype(4 + packed), Qt::Uninitialized);
    qToBigEndian<quint32>(quint32(raw.size()), stored.data());
    if (compress2(reinterpret_cast<Bytef *>(stored.data() + 4), &packed,
                  reinterpret_cast<const Bytef *>(raw.constData()), uLong(raw.size()), Z_DEFAULT_COMPRESSION)
        != Z_OK)
        return {};
    stored.resize(qsizetype(4 + packed));
    return stored;
}

std::optional<MailRecord> MailCache::decodeRecord(const QByteArray &stored, quint32 uid, quint32 uidValidity)
{
    if (stored.size() < 8)
        return std::nullopt;
    const qint64 claimed = qFromBigEndian<quint32>(stored.constData());
    if (claimed > qMin(kMostRecordBytes, qint64(stored.size()) * kMostInflation))
        return std::nullopt;
    QByteArray raw(qsizetype(claimed), Qt::Uninitialized);
    uLongf unpacked = uLongf(claimed);
    if (uncompress(reinterpret_cast<Bytef *>(raw.data()), &unpacked,
                   reinterpret_cast<const Bytef *>(stored.constData() + 4), uLong(stored.size() - 4))
            != Z_OK
        || qint64(unpacked) != claimed)
        return std::nullopt;
    QDataStream in(raw);
    in.setVersion(QDataStream::Qt_6_0);
    MailRecord r;
    quint8 format = 0;
    in >> format >> r.uid >> r.uidValidity;
    if (in.status() != QDataStream::Ok || format != kRecordFormat || r.uid != uid || r.uidValidity != uidValidity)
        return std::nullopt;
    for (QString *s :
         {&r.From, &r.FromName, &r.FromAddress, &r.Subject, &r.PlainTextBody, &r.HTMLTextBody, &r.messageId}) {
        if (!text(in, *s))
            return std::nullopt;
    }
    bool dated = false;
    qint64 ms = 0;
    qint32 offset = 0;
    in >> dated >> ms >> offset;
    if (dated)
        r.date = QDateTime::fromMSecsSinceEpoch(ms, QTimeZone(offset));
    // The date as text follows this system's settings now, as a fresh decode would.
    r.ReceivedDate = dateToText(r.date);
    quint32 n = 0;
    if (!count(in, n))
        return std::nullopt;
    for (quint32 i = 0; i < n; ++i) {
        HeaderField h;
        if (!text(in, h.name) || !text(in, h.value))
            return std::nullopt;
        r.headers << h;
    }
    if (!count(in, n))
        return std::nullopt;
    for (quint32 i = 0; i < n; ++i) {
        AttachmentInfo a;
        if (!text(in, a.name) || !text(in, a.contentType))
            return std::nullopt;
        in >> a.size;
        if (!text(in, a.text) || !text(in, a.problem))
            return std::nullopt;
        r.attachments << a;
    }
    if (!count(in, n))
        return std::nullopt;
    for (quint32 i = 0; i < n; ++i) {
        QString l;
        if (!text(in, l))
            return std::nullopt;
        r.gmailLabels << l;
    }
    if (in.status() != QDataStream::Ok || !in.atEnd())
        return std::nullopt;
    return r;
}

}  // namespace vc
