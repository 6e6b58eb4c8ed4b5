#pragma once
// Pieces shared by the main window's source files; not for other windows.
#include "mail/ConnectionConfig.h"
#include "mail/ImapResponses.h"
#include "rules/Listing.h"

#include <QString>
#include <QTime>

#include <memory>

class QWidget;

namespace vc {

class Form1;
class ImapComponent;
class SignInUi;

// Run-time error "Invalid property value" (a control refused a value).
inline constexpr int kInvalidPropertyValue = 380;

// Captions of the connect command and of a running start command.
inline const QString kConnectCaption = QStringLiteral("1. Connect");
inline const QString kDisconnectCaption = QStringLiteral("Disconnect");
inline const QString kStopCaption = QStringLiteral("Stop");

// Counts a command (connect, run) as working for as long as it lives.
class ActiveCommand {
public:
    explicit ActiveCommand(Form1 *f);
    ~ActiveCommand();
    ActiveCommand(const ActiveCommand &) = delete;
    ActiveCommand &operator=(const ActiveCommand &) = delete;

private:
    Form1 *form_;
};

// The folder of `folders` that a folder option ("Inbox", "Sent", ...) stands
// for: the one of that name (letter case aside), else the one with the
// option's special use (\Sent, \Drafts, \Junk, \Trash); -1 when none.
int matchingFolder(const QList<MailboxInfo> &folders, const QString &option);

// The status line of a watch: "Watching Inbox since 14:02 (3 new)".
QString watchingText(const QString &folder, const QTime &since, qint64 count);

// The hourglass (busy) or the default pointer over the window a command belongs to.
void setWindowBusy(QWidget *window, bool busy);

// What a sign-in shows in the window (Form1_SignIn.cpp).
std::unique_ptr<SignInUi> makeWindowSignInUi();

// The component instance of the program: the test factory when one is
// installed, otherwise our IMAP client configured from `config`.
std::unique_ptr<ImapComponent> createComponent(const ConnectionConfig &config);
std::unique_ptr<ImapComponent> defaultComponent(const ConnectionConfig &config);

}  // namespace vc
