#include "extract/clsChilkatIMAP.h"

#include "core/AppError.h"
#include "core/Dialogs.h"
#include "core/Yield.h"
#include "mail/signin/Sasl.h"

#include <QHash>

namespace vc {

namespace {

const QString kInvalidLogin = QStringLiteral("Invalid login. Please double-check your username and password.");
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
    dialogs().messageBox(kInvalidLogin, BoxButtons::Ok, BoxIcon::None, QString());
    if (!ChilkatImap1)
        raise(err::ObjectNotSet);
    const QString discarded = ChilkatImap1->LastErrorText();
    Q_UNUSED(discarded);
}

bool clsChilkatIMAP::Connect()
{
    bind();
    if (!ChilkatImap1)
        raise(err::ObjectNotSet);
    // A token first: the user may take a while in the browser, longer than a
    // server keeps a connection that has not signed in.
    QString token;
    if (signIn_ && !obtainToken(&token))
        return false;
    if (!openAndIdentify())
        return false;
    if (signIn_)
        return logInWithToken(token);
    lastResult_ = ChilkatImap1->Login(username_, password_);
    if (lastResult_ == 1)
        return true;
    passwordRefused();
    return false;
}

bool clsChilkatIMAP::openAndIdentify()
{
    ChilkatImap1->setSsl(ssl_);
    ChilkatImap1->setPort(port_);
    lastResult_ = ChilkatImap1->Connect(server_);
    if (lastResult_ != 1) {
        GetLastError();
        return false;
    }
    if (!ChilkatImap1)
        raise(err::ObjectNotSet);
    const QString reply = ChilkatImap1->SendRawCommand(kIdCommand);
    if (reply.isEmpty()) {
        GetLastError();
        return false;
    }
    if (!ChilkatImap1)
        raise(err::ObjectNotSet);
    return true;
}

void clsChilkatIMAP::passwordRefused()
{
    if (tokenHint_.isEmpty() || !sasl::offersTokens(ChilkatImap1->Capabilities())) {
        GetLastError();
        return;
    }
    dialogs().messageBox(kInvalidLogin + QStringLiteral("\r\r") + tokenHint_, BoxButtons::Ok, BoxIcon::None, QString());
    const QString discarded = ChilkatImap1->LastErrorText();
    Q_UNUSED(discarded);
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
