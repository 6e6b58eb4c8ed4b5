#pragma once
#include "core/MailRecord.h"
#include "mail/ImapSearch.h"
#include "mail/MimeDecode.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace vc {

// What a kept record holds beyond what every record has (sender, subject,
// date, plain-text body, Message-ID). A run that needs more than a record holds
// fetches the message again.
struct CacheContent {
    bool headers = false;         // every header field
    bool attachments = false;     // the attachments' names, types and sizes
    bool attachmentText = false;  // the text of the attachments that have text
    bool gmailLabels = false;     // X-GM-LABELS
    bool htmlBody = false;        // the HTML body (a run may leave it out)

    quint32 bits() const
    {
        return (headers ? 1u : 0u) | (attachmentText ? 2u : 0u) | (gmailLabels ? 4u : 0u) | (attachments ? 8u : 0u)
               | (htmlBody ? 16u : 0u);
    }
    static CacheContent fromBits(quint32 b)
    {
        return {(b & 1u) != 0, (b & 8u) != 0, (b & 2u) != 0, (b & 4u) != 0, (b & 16u) != 0};
    }
    // The bits a kept record must match to serve a run that needs this: the
    // ones needed, and the attachment text either way (it is part of the
    // plain-text body, so a record with it does not serve a run without it).
    quint32 mask() const { return bits() | 2u; }
    // Whether a record with this content serves a run that needs `need`.
    bool covers(const CacheContent &need) const { return (bits() & need.mask()) == need.bits(); }
};

// What the decoder was asked for, as cached content.
inline CacheContent contentOf(const DecodeNeeds &needs, bool gmailLabels = false)
{
    CacheContent c;
    c.headers = needs.headers;
    c.attachments = needs.wantsAttachments();
    c.attachmentText = needs.attachmentText;
    c.gmailLabels = gmailLabels;
    c.htmlBody = needs.htmlBody;
    return c;
}

// Where kept messages came from: the account as signed in, the server
// ("host:port"), the folder as the server names it, and its UIDVALIDITY.
struct MailCacheKey {
    QString account;
    QString server;
    QString folder;
    quint32 uidValidity = 0;
};

// The local copy of decoded messages: an SQLite database (through Qt SQL) in
// the per-user cache folder, so that a walk over a folder it has read before
// takes those messages from disk and fetches only the rest. A message is kept
// under its account, server, folder, UIDVALIDITY and UID, with the version of
// the decoder that made it (records of another version count as not kept).
// Attachment bytes are never kept.
//
// One instance is one connection, to be used on the thread that opened it.
// Several programs may use the same file at once (write-ahead log, waits for
// each other's writes). A file that is damaged, cut short or not ours is set
// aside (renamed) and a new one made, with one warning text; a row that
// cannot be read back counts as not kept. The file stays under a size cap:
// the records used least recently go first.
class MailCache {
public:
    static constexpr qint64 kDefaultSizeCap = qint64(2) << 30;
    static constexpr char kFileName[] = "mail-cache.sqlite";

    // The per-user cache folder (QStandardPaths::CacheLocation).
    static QString defaultFolder();

    // `folder` empty: the per-user cache folder. A folder that does not exist
    // yet is made, readable by its owner only; the file is too.
    explicit MailCache(const QString &folder = QString());
    ~MailCache();
    MailCache(const MailCache &) = delete;
    MailCache &operator=(const MailCache &) = delete;

    struct Opened {
        bool ok = false;
        QString warning;  // the file was set aside; empty otherwise
        QString error;    // why the cache cannot be used (then ok is false)
    };
    Opened open();
    bool isOpen() const;
    QString path() const { return path_; }
    // A problem met after open(): the file turned out damaged and was set
    // aside and made afresh meanwhile. Given once, then empty.
    QString takeWarning();

    void setSizeCap(qint64 bytes) { sizeCap_ = qMax<qint64>(1, bytes); }
    qint64 sizeCap() const { return sizeCap_; }

    // Which of `uids` are kept with at least `need`.
    UidSet cached(const MailCacheKey &key, const UidSet &uids, CacheContent need);

    // Reads the records of `uids` in ascending UID order, a batch at a time:
    // next() gives each UID of `uids` once, with its record, or with none when
    // the record is not kept (any more) or cannot be read back, so the caller
    // fetches it. Reading marks the records as used.
    class Reader {
    public:
        struct Entry {
            quint32 uid = 0;
            std::optional<MailRecord> record;
        };
        std::optional<Entry> next();
        qint64 left() const { return left_.size() + qint64(batch_.size()) - qint64(at_); }

    private:
        friend class MailCache;
        void fill();
        MailCache *cache_ = nullptr;
        MailCacheKey key_;
        CacheContent need_;
        UidSet left_;
        std::vector<Entry> batch_;
        size_t at_ = 0;
    };
    Reader read(const MailCacheKey &key, const UidSet &uids, CacheContent need);

    // Keeps `records` (their uid fields name them) in one transaction; a
    // record already kept under its UID is replaced. False when the database
    // could not take them (busy beyond the wait, disk full).
    bool put(const MailCacheKey &key, const QList<MailRecord> &records, CacheContent content);
    // Drops the folder's records whose UIDs the server no longer has, those of
    // an older UIDVALIDITY of the folder and those of another decoder version;
    // the number dropped.
    qint64 dropMissing(const MailCacheKey &key, const UidSet &onServer);
    // What the select of a folder showed at the start of its last complete
    // walk through the copy (EXISTS, UIDNEXT; the UIDVALIDITY is the key's),
    // and the UIDs that walk found the folder to hold. With the same three
    // values at a later select, the folder holds the same UIDs: nothing was
    // appended (UIDNEXT would have grown) and so nothing expunged either
    // (EXISTS would have shrunk).
    struct FolderState {
        qint64 exists = 0;
        quint32 uidNext = 0;
        UidSet uids;
    };
    // The state kept for the key's folder and UIDVALIDITY; none when there is
    // none (or it cannot be read).
    std::optional<FolderState> folderState(const MailCacheKey &key);
    // The state kept for the key's folder under the UIDVALIDITY its last
    // complete walk saw, which goes into `key`; none when there is none.
    std::optional<FolderState> lastFolderState(MailCacheKey &key);
    // The folders of an account on a server that a complete walk is kept of,
    // by name.
    QStringList completeFolders(const QString &account, const QString &server);
    // Replaces what is kept for the folder; false when the database would not take it.
    bool setFolderState(const MailCacheKey &key, const FolderState &state);

    // Drops everything of an account (on `server`; every server when empty).
    qint64 forgetAccount(const QString &account, const QString &server = QString());

    struct Stats {
        qint64 records = 0;
        qint64 recordBytes = 0;  // of the stored records (compressed)
        qint64 fileBytes = 0;    // the file and its write-ahead log on disk
    };
    Stats stats();

    // The stored form of a record (compressed), and back; nothing when the
    // bytes are not a record of `uid` in a folder of `uidValidity`.
    static QByteArray encodeRecord(const MailRecord &record);
    static std::optional<MailRecord> decodeRecord(const QByteArray &stored, quint32 uid, quint32 uidValidity);

private:
    struct Db;
    friend class Reader;

    bool openFile(QString *warning, QString *error);
    void close();
    // Renames the file (and its log) aside; the warning text for it.
    QString setAside(const QString &why);
    // After a failed statement: whether it says the file is damaged. Then the
    // next call sets it aside, makes a new one and keeps the warning for
    // takeWarning() (not while statements of this call are still open).
    void checkDamage(const QString &sqliteCode);
    void recover();
    qint64 folderId(const MailCacheKey &key, bool create);
    void enforceCap();
    void readBatch(Reader &reader);

    QString folder_;
    QString path_;
    bool defaultFolder_ = false;
    qint64 sizeCap_ = kDefaultSizeCap;
    QString warning_;
    bool damaged_ = false;
    std::unique_ptr<Db> db_;
};

}  // namespace vc
