#include "extract/ExtractionRun.h"

#include "core/AppError.h"
#include "core/TrapLocations.h"

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

    void countAndWalk()
    {
        QString folder;
        std::optional<StepFault> notSelected;
        trap_(108, [&] { folder = host_.folderName(); });
        trap_(110, [&] { object().setCurrentLocation(1); });
        trap_(112, [&] {
            const StepResult<int> count = object().GetTotalMessage(folder);
            object().setMaxRecord(count ? *count : 0);
            if (!count)
                notSelected = count.fault();
        });
        bool walk = false;
        trap_(114, [&] { walk = object().MaxRecord() > 0; });
        if (walk) {
            out_.walked = true;
            trap_(116, [&] {
                object().setSearchFilter(walkFilter());
                object().setMailCache(host_.mailCacheSettings());
                noteWalk(object().StartMailExtraction(folder, this));
            });
        } else if (notSelected) {
            fail(*notSelected, false);
        } else {
            out_.kind = RunOutcome::Kind::NoMessages;
        }
    }

    void noteWalk(const WalkOutcome &w)
    {
        out_.walk = w.stats;
        switch (w.end) {
        case WalkOutcome::End::ConnectFailed:
        case WalkOutcome::End::SelectFailed: fail(*w.failure, true); break;
        case WalkOutcome::End::Stopped:
            out_.kind = RunOutcome::Kind::Stopped;
            out_.stoppedAt = w.lastVisited;
            break;
        case WalkOutcome::End::Completed:
        case WalkOutcome::End::Broken:
            if (w.stats.asked == 0 && w.stats.byUid) {
                out_.kind = RunOutcome::Kind::NoMessages;  // the server selected none
                out_.walked = false;
                break;
            }
            out_.kind = w.stats.unread() > 0 ? RunOutcome::Kind::Incomplete : RunOutcome::Kind::Completed;
            break;
        }
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
            if (!watch_.on || object().stopping())
                return;
            object().setSearchFilter(host_.searchFilter());
            const quint32 validity = out_.walk.uidValidity;
            out_.watch = object().WatchFolder(host_.folderName(), watch_, highestUid_, validity, this,
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
    DecodeNeeds needsBefore_;  // the decoder's needs before the attachments were added
    WatchRequest watch_;       // what the host asked of a watch after the walk
    quint32 highestUid_ = 0;   // the highest UID delivered so far
};

}  // namespace

RunOutcome ExtractEmail(RunHost &host)
{
    return Run(host).go();
}

}  // namespace vc
