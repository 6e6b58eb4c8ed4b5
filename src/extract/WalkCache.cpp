#include "extract/WalkCache.h"

namespace vc {

bool mailCacheOffInEnvironment()
{
    const QByteArray off = qgetenv("VC_NO_CACHE");
    return !off.isEmpty() && off != "0";
}

MailCacheKey mailCacheKey(const QString &account, const QString &host, int port, const QString &folder)
{
    MailCacheKey key;
    key.account = account;
    key.server = host.toLower() + QLatin1Char(':') + QString::number(port);
    key.folder = folder;
    return key;
}

void leaveOutBeyond(MailRecord &record, const CacheContent &content)
{
    if (!content.headers)
        record.headers.clear();
    if (!content.htmlBody)
        record.HTMLTextBody.clear();
    if (!content.attachments)
        record.attachments.clear();
    if (!content.gmailLabels)
        record.gmailLabels.clear();
}

WalkCache::WalkCache(const MailCacheSettings &settings, MailCacheKey key, const DecodeNeeds &needs)
    : settings_(settings), key_(std::move(key)), content_(contentOf(needs)),
      // Attachment bytes are never kept: a run that saves them fetches every
      // message, and keeps what it decoded for the runs after it.
      reusable_(!needs.attachmentBytes && !needs.keepBytes), reading_(settings.folder)
{
    reading_.setSizeCap(settings.sizeCap);
}

WalkCache::~WalkCache()
{
    finish();
}

void WalkCache::noteWarning(const QString &text)
{
    if (!text.isEmpty() && !figures_.warnings.contains(text))
        figures_.warnings << text;
}

bool WalkCache::open()
{
    const MailCache::Opened opened = reading_.open();
    noteWarning(opened.warning);
    if (!opened.ok) {
        noteWarning(opened.error);
        return false;
    }
    figures_.used = true;
    writer_ = std::make_unique<MailCacheWriter>(settings_.folder, settings_.sizeCap);
    return true;
}

void WalkCache::plan(const UidSet &uids, bool wholeFolder)
{
    if (wholeFolder)
        figures_.dropped = reading_.dropMissing(key_, uids);
    kept_ = reusable_ ? reading_.cached(key_, uids, content_) : UidSet();
    toFetch_ = uids.minus(kept_);
    reader_.emplace(reading_.read(key_, kept_, content_));
    pending_.reset();
    noteWarning(reading_.takeWarning());
}

std::optional<UidSet> WalkCache::unchangedFolder(qint64 exists, quint32 uidNext)
{
    if (uidNext == 0)
        return std::nullopt;
    std::optional<MailCache::FolderState> state = reading_.folderState(key_);
    noteWarning(reading_.takeWarning());
    if (!state || state->exists != exists || state->uidNext != uidNext)
        return std::nullopt;
    figures_.unchanged = true;
    return std::move(state->uids);
}

void WalkCache::noteFolderState(qint64 exists, quint32 uidNext, const UidSet &uids)
{
    if (uidNext == 0 || uids.size() != exists || (!uids.isEmpty() && uids.last() >= uidNext))
        return;
    reading_.setFolderState(key_, MailCache::FolderState{exists, uidNext, uids});
    noteWarning(reading_.takeWarning());
}

std::optional<MailRecord> WalkCache::take(quint32 uid)
{
    if (!reader_ || !kept_.contains(uid))
        return std::nullopt;
    while (!pending_ || pending_->uid < uid) {
        pending_ = reader_->next();
        if (!pending_)
            return std::nullopt;
    }
    if (pending_->uid != uid || !pending_->record)
        return std::nullopt;
    MailRecord record = std::move(*pending_->record);
    pending_->record.reset();
    leaveOutBeyond(record, content_);
    ++figures_.fromDisk;
    return record;
}

void WalkCache::keep(const MailRecord &record)
{
    if (!writer_ || record.uid == 0)
        return;
    MailRecord copy = record;
    copy.heldAttachmentBytes.clear();
    copy.uidValidity = key_.uidValidity;
    writer_->add(key_, std::move(copy), content_);
    ++figures_.fetched;
}

const CacheFigures &WalkCache::finish()
{
    if (finished_)
        return figures_;
    finished_ = true;
    reader_.reset();
    noteWarning(reading_.takeWarning());
    if (writer_) {
        const MailCacheWriter::Done done = writer_->finish();
        noteWarning(done.warning);
        noteWarning(done.error);
    }
    return figures_;
}

}  // namespace vc
