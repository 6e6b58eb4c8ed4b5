#include "extract/clsChilkatIMAP.h"

#include "core/AppError.h"
#include "core/Dialogs.h"
#include "core/Yield.h"
#include "extract/ErrorLog.h"
#include "extract/FailureMessage.h"
#include "mail/signin/Sasl.h"

#include <QHash>

namespace vc {

namespace {

const QString kIdCommand = QStringLiteral("ID (\"GUID\" \"1\")");

// Which connection object receives each component's events. Only the object
// that bound last does, so an older object that still exists stays quiet.
QHash<const ImapComponent *, QPointer<clsChilkatIMAP>> &boundObjects()
{
    static QHash<const ImapComponent *, QPointer<clsChilkatIMAP>> bound;
    return bound;
}

}  // namespace

clsChilkatIMAP::clsChilkatIMAP(QObject *parent) : QObject(parent) {}

clsChilkatIMAP::~clsChilkatIMAP()
{
    if (ChilkatImap1) {
        QObject::disconnect(ChilkatImap1, nullptr, this, nullptr);
        auto &bound = boundObjects();
        const auto it = bound.find(ChilkatImap1.data());
        if (it != bound.end() && (it.value().isNull() || it.value() == this))
            bound.erase(it);
    }
    ChilkatImap1 = nullptr;
    object_ = nullptr;
}

void clsChilkatIMAP::bind()
{
    if (ChilkatImap1)
        QObject::disconnect(ChilkatImap1, nullptr, this, nullptr);
    ChilkatImap1 = object_;
    if (!ChilkatImap1)
        return;
    auto &bound = boundObjects();
    QPointer<clsChilkatIMAP> &holder = bound[ChilkatImap1.data()];
    if (holder && holder != this)
        QObject::disconnect(ChilkatImap1, nullptr, holder.data(), nullptr);
    holder = this;
    connect(ChilkatImap1, &ImapComponent::AbortCheck, this, &clsChilkatIMAP::ChilkatImap1_AbortCheck,
            Qt::DirectConnection);
    connect(ChilkatImap1, &ImapComponent::PercentDone, this, &clsChilkatIMAP::ChilkatImap1_PercentDone,
            Qt::DirectConnection);
}

void clsChilkatIMAP::GetLastError()
{
    reportFailure(QString());
}

void clsChilkatIMAP::reportFailure(const QString &hint)
{
    QString message = kInvalidLoginMessage;
    if (ChilkatImap1)
        message = failureMessage(ChilkatImap1->lastFailure(), server_, port_, ChilkatImap1->certificateErrors(),
                                 ChilkatImap1->LastErrorText());
    if (!hint.isEmpty())
        message += QStringLiteral("\r\r") + hint;
    dialogs().messageBox(message, BoxButtons::Ok, BoxIcon::None, QString());
    if (!ChilkatImap1)
        raise(err::ObjectNotSet);
    // The log keeps what the box said; a log that cannot be written changes
    // nothing here (the box has told the user).
    try {
        errorlog::append(errorLogPath_, QString(message).replace(QLatin1Char('\r'), QLatin1Char(' ')));
    } catch (const AppError &) {}
}

bool clsChilkatIMAP::Connect()
{
    return openSession(true);
}

bool clsChilkatIMAP::openSession(bool report)
{
    bind();
    if (!ChilkatImap1)
        raise(err::ObjectNotSet);
    // A token first: the user may take a while in the browser, longer than a
    // server keeps a connection that has not signed in.
    QString token;
    if (signIn_ && !obtainToken(&token))
        return false;
    if (!openAndIdentify(report))
        return false;
    if (signIn_)
        return logInWithToken(token);
    lastResult_ = ChilkatImap1->Login(username_, password_);
    if (lastResult_ == 1)
        return true;
    if (report)
        passwordRefused();
    return false;
}

bool clsChilkatIMAP::openAndIdentify(bool report)
{
    ChilkatImap1->setSsl(ssl_);
    ChilkatImap1->setPort(port_);
    lastResult_ = ChilkatImap1->Connect(server_);
    if (lastResult_ != 1) {
        if (report)
            GetLastError();
        return false;
    }
    if (!ChilkatImap1)
        raise(err::ObjectNotSet);
    const QString reply = ChilkatImap1->SendRawCommand(kIdCommand);
    if (reply.isEmpty()) {
        if (report)
            GetLastError();
        return false;
    }
    if (!ChilkatImap1)
        raise(err::ObjectNotSet);
    return true;
}

void clsChilkatIMAP::passwordRefused()
{
    const bool takesTokens = !tokenHint_.isEmpty() && sasl::offersTokens(ChilkatImap1->Capabilities());
    reportFailure(takesTokens ? tokenHint_ : QString());
}

std::optional<QStringList> clsChilkatIMAP::EnumMailFolders()
{
    bind();
    if (!ChilkatImap1)
        raise(err::ObjectNotSet);
    const std::unique_ptr<MailboxList> list = ChilkatImap1->ListMailboxes(QString(), QStringLiteral("*"));
    if (!list) {
        GetLastError();
        return std::nullopt;
    }
    QStringList names;
    for (int i = 0; i < list->Count(); ++i) {
        names << list->GetName(i);
        yieldToEvents();
    }
    return names;
}

void clsChilkatIMAP::noteStopRequest()
{
    if (stopRequest_ && stopRequest_())
        AbortProcess = true;
}

void clsChilkatIMAP::ChilkatImap1_AbortCheck(int &abort)
{
    noteStopRequest();
    abort = AbortProcess ? -1 : 0;
    yieldToEvents();
}

void clsChilkatIMAP::ChilkatImap1_PercentDone(int pctDone)
{
    Q_EMIT ScrapProgress(pctDone);
    yieldToEvents();
}

}  // namespace vc
