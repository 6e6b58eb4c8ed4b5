#include "extract/ExtractionRun.h"

#include "core/AppError.h"
#include "core/TrapLocations.h"
#include "extract/RunFolders.h"

namespace vc {

namespace {

// One run between its trapped steps. The run holds its own reference to the
// connection object: a disconnect during the walk drops the host's reference,
// and the object must outlive the walk that is using it. The walk's messages
// and progress go straight on to the host.
class Run : private WalkObserver {
public:
    explicit Run(RunHost &host) : host_(host) {}

    RunOutcome go()
    {
        trap_(100, [&] { host_.setBusy(true); });
        trap_(102, [&] { host_.clearResults(); });
        if (connect()) {
            askForAttachments();
            countAndWalk();
            watchAfterWalk();
            doneWithAttachments();
        }
        trap_(122, [&] { host_.setConnection(nullptr); });
        trap_(124, [&] { host_.resetProgress(); });
        trap_(126, [&] { host_.setBusy(false); });
        out_.runTimeErrors = trap_.failures();
        return out_;
    }

private:
    clsChilkatIMAP &object()
    {
        if (!conn_)
            raise(err::ObjectNotSet);
        return *conn_;
    }

    void fail(const StepFault &failure, bool inWalk)
    {
        out_.kind = RunOutcome::Kind::Failed;
        out_.failure = failure;
        out_.inWalk = inWalk;
    }

    // Uses the host's connection object, or sets one up and logs in. False
    // when that login failed: the run then goes straight to its end.
    bool connect()
    {
        bool connected = true;
        trap_(106, [&] {
            conn_ = host_.connection();
            if (conn_)
                return;
            conn_ = setUpConnection(host_);
            host_.setConnection(conn_);
            if (const StepResult<void> r = object().Connect(); !r) {
                fail(r.fault(), false);
                connected = false;
            }
        });
        return connected;
    }

    // The decoder is told what the run needs before the walk, and set back
    // after it, so that the next run on the same component starts plain.
    void askForAttachments()
    {
        trap_(107, [&] {
            const AttachmentRequest request = host_.attachmentRequest();
            if (!request.any())
                return;
            attachments_.emplace(request, object().ErrorLogPath());
            if (ImapComponent *c = object().ChilkatIMAPObject()) {
                // The attachments come on top of what the host asked the
                // decoder for; what it asked for is given back after the walk.
                if (const DecodeNeeds *before = c->decodeNeeds())
                    needsBefore_ = *before;
                DecodeNeeds needs = attachments_->needs();
                needs.headers = needsBefore_.headers;
                needs.htmlBody = needsBefore_.htmlBody;
                needs.attachments = needs.attachments || needsBefore_.attachments;
                needs.attachmentText = needs.attachmentText || needsBefore_.attachmentText;
                c->setDecodeNeeds(needs);
            }
        });
    }

    void doneWithAttachments()
    {
        if (!attachments_)
            return;
        trap_(118, [&] {
            out_.attachmentsSaved = attachments_->saved();
            out_.attachmentSaveFailures = attachments_->saveFailures();
            out_.attachmentTextProblems = attachments_->textProblems();
            if (ImapComponent *c = object().ChilkatIMAPObject())
                c->setDecodeNeeds(needsBefore_);
        });
    }

    // Counts every folder of the run first (a folder that cannot be selected
    // ends the run before any is walked), then walks those with messages one
    // after another; a walk that fails or is stopped ends the run.
    void countAndWalk()
    {
        QStringList folders;
        trap_(108, [&] { folders = host_.folderNames(); });
        if (!listAllFolders(folders))
            return;
        if (folders.size() == 1)
            watchedFolder_ = folders.first();
        QList<int> counts;
        for (const QString &folder : folders) {
            std::optional<StepFault> notSelected;
            int messages = 0;
            trap_(110, [&] { object().setCurrentLocation(1); });
            trap_(112, [&] {
                const StepResult<int> count = object().GetTotalMessage(folder);
                messages = count ? *count : 0;
                object().setMaxRecord(messages);
                if (!count)
                    notSelected = count.fault();
            });
            if (notSelected) {
                fail(*notSelected, false);
                return;
            }
            counts << messages;
        }
        for (qsizetype i = 0; i < folders.size(); ++i) {
            const QString &folder = folders.at(i);
            bool walk = false;
            trap_(114, [&] {
                object().setCurrentLocation(1);
                object().setMaxRecord(counts.at(i));
                walk = object().MaxRecord() > 0;
            });
            if (!walk)
                continue;
            out_.walked = true;
            ++walks_;
            bool goOn = true;
            trap_(116, [&] {
                object().setSearchFilter(walkFilter());
                object().setMailCache(host_.mailCacheSettings());
                object().setNewMailAbove(
                    [this, folder](quint32 validity) { return host_.newMailAbove(folder, validity); });
                goOn = noteWalk(object().StartMailExtraction(folder, this));
            });
            if (!goOn)
                return;
        }
        if (walks_ == emptyWalks_) {
            out_.kind = RunOutcome::Kind::NoMessages;
            out_.walked = false;
        }
    }

    // With allFolders(), the server's folders replace `folders` (those named
    // are walked even when marked \Trash or \Junk). False when the list failed.
    bool listAllFolders(QStringList &folders)
    {
        bool all = false;
        trap_(108, [&] { all = host_.allFolders(); });
        if (!all)
            return true;
        bool listed = true;
        trap_(108, [&] {
            const StepResult<QList<MailboxInfo>> boxes = object().ListFolders();
            if (!boxes) {
                fail(boxes.fault(), false);
                listed = false;
                return;
            }
            folders = allFoldersToWalk(*boxes, folders);
        });
        return listed;
    }

    // One folder's walk added to the run's; false when the run ends with it.
    bool noteWalk(const WalkOutcome &w)
    {
        addWalk(out_.walk, w.stats);
        switch (w.end) {
        case WalkOutcome::End::ConnectFailed:
        case WalkOutcome::End::SelectFailed: fail(*w.failure, true); return false;
        case WalkOutcome::End::Stopped:
            out_.kind = RunOutcome::Kind::Stopped;
            out_.stoppedAt = w.lastVisited;
            return false;
        case WalkOutcome::End::Completed:
        case WalkOutcome::End::Broken:
            if (w.stats.asked == 0 && w.stats.byUid) {
                ++emptyWalks_;  // the server selected none of this folder
                return true;
            }
            walkedMessages_ = true;
            out_.kind = out_.walk.unread() > 0 ? RunOutcome::Kind::Incomplete : RunOutcome::Kind::Completed;
            return true;
        }
        return true;
    }

    // The walks of a run over several folders, as one: counts added up, the
    // latest folder's UIDVALIDITY, count and log, the last reason to end early.
    void addWalk(WalkStats &run, const WalkStats &w)
    {
        if (!walkedMessages_) {
            run = w;
            return;
        }
        const WalkStats before = run;
        run = w;
        run.asked += before.asked;
        run.read += before.read;
        run.reconnects += before.reconnects;
        run.folderChanged = run.folderChanged || before.folderChanged;
        run.cache.used = run.cache.used || before.cache.used;
        run.cache.fromDisk += before.cache.fromDisk;
        run.cache.fetched += before.cache.fetched;
        run.cache.dropped += before.cache.dropped;
        for (const QString &warning : before.cache.warnings)
            if (!run.cache.warnings.contains(warning))
                run.cache.warnings.prepend(warning);
        if (run.endReason.isEmpty())
            run.endReason = before.endReason;
    }

    // A watch goes on from the highest UID the walk delivered, so its walk
    // goes by UID even without a filter (every message selected).
    SearchFilter walkFilter()
    {
        watch_ = host_.watchRequest();
        SearchFilter filter = host_.searchFilter();
        if (watch_.on && filter.isEmpty())
            filter.raw = QStringLiteral("ALL");
        return filter;
    }

    // After a walk that went through (or a folder found empty), the host may
    // want the folder watched for new mail; a failed or stopped run ends here.
    void watchAfterWalk()
    {
        if (out_.kind == RunOutcome::Kind::Failed || out_.kind == RunOutcome::Kind::Stopped)
            return;
        trap_(117, [&] {
            if (!out_.walked)
                watch_ = host_.watchRequest();
            if (!watch_.on || watchedFolder_.isEmpty() || object().stopping())
                return;
            object().setSearchFilter(host_.searchFilter());
            const quint32 validity = out_.walk.uidValidity;
            out_.watch = object().WatchFolder(watchedFolder_, watch_, highestUid_, validity, this,
                                              [this](const WatchEvent &e) { host_.watchEvent(e); });
        });
    }

    // WalkObserver
    void progress(const RunProgress &p) override { host_.showProgress(p); }
    void arriving(MailRecord &record) override
    {
        if (attachments_)
            attachments_->handle(record);
    }
    void delivered(const MailRecord &record) override
    {
        highestUid_ = qMax(highestUid_, record.uid);
        host_.messageDelivered(record);
    }

    RunHost &host_;
    ErrorTrap trap_{location::Form1::ExtractEmail};
    std::shared_ptr<clsChilkatIMAP> conn_;
    RunOutcome out_;
    std::optional<AttachmentStep> attachments_;
    DecodeNeeds needsBefore_;      // the decoder's needs before the attachments were added
    bool walkedMessages_ = false;  // some folder's walk has asked for messages
    int walks_ = 0;                // folder walks begun
    int emptyWalks_ = 0;           // ...that found the server selected none
    WatchRequest watch_;           // what the host asked of a watch after the walk
    quint32 highestUid_ = 0;       // the highest UID delivered so far
    QString watchedFolder_;        // the run's one folder; a run over several is not watched
};

}  // namespace

RunOutcome ExtractEmail(RunHost &host)
{
    return Run(host).go();
}

}  // namespace vc
