#include "extract/clsChilkatIMAP.h"

#include "core/AppError.h"
#include "core/Yield.h"
#include "extract/FailureMessage.h"
#include "extract/FetchLog.h"
#include "extract/RunFolders.h"
#include "extract/SignInStep.h"
#include "mail/ImapComponent.h"
#include "mail/signin/OAuthSession.h"

#include <QScopeGuard>

namespace vc {

// The component's abort check and progress reach this object while one of its
// operations runs, and only then: another connection object on the same
// component hears nothing of this one's work.
class clsChilkatIMAP::Binding {
public:
    explicit Binding(clsChilkatIMAP &c) : c_(c)
    {
        ImapComponent &imap = c_.component();  // raises before anything is bound
        if (c_.bindings_++ > 0)
            return;
        abort_ = QObject::connect(&imap, &ImapComponent::AbortCheck, &c_, &clsChilkatIMAP::ChilkatImap1_AbortCheck,
                                  Qt::DirectConnection);
        percent_ = QObject::connect(&imap, &ImapComponent::PercentDone, &c_, &clsChilkatIMAP::ChilkatImap1_PercentDone,
                                    Qt::DirectConnection);
    }
    ~Binding()
    {
        if (--c_.bindings_ > 0)
            return;
        QObject::disconnect(abort_);
        QObject::disconnect(percent_);
    }
    Binding(const Binding &) = delete;
    Binding &operator=(const Binding &) = delete;

private:
    clsChilkatIMAP &c_;
    QMetaObject::Connection abort_, percent_;
};

clsChilkatIMAP::clsChilkatIMAP()
{
    account_.config.host.clear();
    account_.config.port = 0;
    account_.ssl = false;
}

clsChilkatIMAP::clsChilkatIMAP(Account account, QObject *parent) : QObject(parent), account_(std::move(account))
{
    component_ = account_.component;
    // Stop, Disconnect and Ctrl+C end a wait for the browser or the code.
    if (account_.signIn)
        account_.signIn->aborted = [this] { return stopping(); };
}

clsChilkatIMAP::~clsChilkatIMAP()
{
    if (account_.signIn)
        account_.signIn->aborted = nullptr;
}

void clsChilkatIMAP::setChilkatIMAPObject(ImapComponent *ObjValue)
{
    component_ = ObjValue;
    account_.component = ObjValue;
    step_.reset();
}

ImapComponent &clsChilkatIMAP::component()
{
    if (!component_)
        raise(err::ObjectNotSet);
    if (!step_ || step_->componentOrNull() != component_.data())
        step_ = std::make_unique<SignInStep>(*component_, account_);
    return *component_;
}

bool clsChilkatIMAP::stopping()
{
    if (!AbortProcess && stopRequest_ && stopRequest_())
        AbortProcess = true;
    return AbortProcess;
}

StepFault clsChilkatIMAP::failed(StepFault fault)
{
    lastError_ = fault;
    if (fault.stage != RunStage::SignIn)
        FetchLog::recordFailure(account_.errorLogPath, failureText(fault));
    return fault;
}

StepResult<void> clsChilkatIMAP::Connect()
{
    const Binding bound(*this);
    lastError_.reset();
    StepResult<void> r = step_->run();
    if (!r)
        return failed(r.fault());
    return r;
}

StepResult<QStringList> clsChilkatIMAP::EnumMailFolders()
{
    const Binding bound(*this);
    lastError_.reset();
    const ImapResult<MailboxList> list = component().ListMailboxes(QString(), QStringLiteral("*"));
    if (!list)
        return failed(step_->faultOf(RunStage::List, list.fault()));
    QStringList names;
    for (int i = 0; i < list->Count(); ++i) {
        names << list->GetName(i);
        yieldToEvents();
    }
    return names;
}

StepResult<QList<MailboxInfo>> clsChilkatIMAP::ListFolders()
{
    const Binding bound(*this);
    lastError_.reset();
    const ImapResult<MailboxList> list = component().ListMailboxes(QString(), QStringLiteral("*"));
    if (!list)
        return failed(step_->faultOf(RunStage::List, list.fault()));
    return list->boxes();
}

StepResult<int> clsChilkatIMAP::GetTotalMessage(const QString &FolderName)
{
    const Binding bound(*this);
    lastError_.reset();
    const ImapResult<MailboxStatus> selected = selectFolder(component(), FolderName);
    if (!selected)
        return failed(explainUnselectable(component(), FolderName, step_->faultOf(RunStage::Select, selected.fault())));
    return component().NumMessages();
}

WalkOutcome clsChilkatIMAP::StartMailExtraction(const QString &FolderName, WalkObserver *observer)
{
    const Binding bound(*this);
    lastError_.reset();
    FetchLog log(account_.errorLogPath, errorlog::Session::Writes::Batched);
    QList<WalkObserver *> observers{&log};
    if (observer)
        observers << observer;
    FolderWalk walk(*step_, FolderName, observers, [this] { return stopping(); });
    walk.setReconnectPauseMs(reconnectPauseMs_);
    walk.setFilter(filter_);
    walk.setNewMailAbove(newMailAbove_);
    walk.setCache(cache_, mailCacheKey(account_.username, account_.config.host, account_.config.port, FolderName));
    walk_ = &walk;
    const auto done = qScopeGuard([this] { walk_ = nullptr; });
    WalkOutcome out = walk.run(CurrentLocation(), MaxRecord());
    log.flush();
    if (out.lastVisited > 0)
        currentLocation_ = int(out.lastVisited);
    out.stats.logPath = log.path();
    if (out.failure)
        failed(*out.failure);
    return out;
}

WatchStats clsChilkatIMAP::WatchFolder(const QString &FolderName, const WatchRequest &request, quint32 highestUid,
                                       quint32 uidValidity, WalkObserver *observer,
                                       const std::function<void(const WatchEvent &)> &onEvent)
{
    const Binding bound(*this);
    lastError_.reset();
    FetchLog log(account_.errorLogPath);
    QList<WalkObserver *> observers{&log};
    if (observer)
        observers << observer;
    WatchStep watch(
        *step_, FolderName, observers, [this] { return stopping(); }, onEvent);
    watch.setFilter(filter_);
    return watch.run(request, highestUid, uidValidity);
}

void clsChilkatIMAP::ChilkatImap1_AbortCheck(int &abort)
{
    if (stopping())
        abort = -1;
    yieldToEvents();
}

void clsChilkatIMAP::ChilkatImap1_PercentDone(int pctDone)
{
    stopping();
    if (walk_)
        walk_->percentDone(pctDone);
    yieldToEvents();
}

}  // namespace vc
