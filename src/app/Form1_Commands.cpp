// The main window's commands other than the start commands: connect and
// disconnect, the buttons that show the rule windows, the output and help
// commands.
#include "app/Form1.h"

#include "app/Form1Internal.h"
#include "app/Form2.h"
#include "app/Form3.h"
#include "app/RunMessages.h"
#include "app/SettingsStore.h"
#include "app/WindowHelpers.h"
#include "app/WindowPlacement.h"
#include "core/AppError.h"
#include "core/Dialogs.h"
#include "core/Product.h"
#include "core/TrapLocations.h"
#include "extract/FailureMessage.h"
#include "mail/ImapComponent.h"
#include "output/HelpTexts.h"
#include "output/ResultsOutput.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QStandardPaths>

namespace vc {

namespace {

// The output commands' view of the main window.
class WindowOutputHost : public OutputHost {
public:
    explicit WindowOutputHost(Form1 *f) : f_(f) {}
    void setStatus(const QString &text) override { f_->setStatusText(text); }
    void setBusy(bool busy) override { f_->setBusy(busy); }
    void setClipboardText(const QString &text) override
    {
        QClipboard *cb = QGuiApplication::clipboard();
        cb->clear();
        cb->setText(text);
    }
    Dialogs &boxes() override { return dialogs(); }
    // The folder of the last save; the first time, the user's documents.
    QString saveFolder() const override
    {
        const QString last = settings::readText(settings::key::SaveFolder);
        if (!last.isEmpty() && QFileInfo(last).isDir())
            return last;
        const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        return QFileInfo(documents).isDir() ? documents : QDir::homePath();
    }
    void rememberSaveFolder(const QString &folder) override { settings::save(settings::key::SaveFolder, folder); }

private:
    Form1 *f_;
};

// The box of a failed step, when there is one to show.
void tellFailure(const StepFault &failure)
{
    if (const std::optional<WindowBox> box = failureBox(failure))
        showBoxes({*box});
}

// A rule window opens beside the main window, clear of its results and of
// the other rule window; one that is open already only comes to the front.
void showWindow(QWidget *w, Form1 *mainWindow)
{
    if (!w->isVisible())
        placeBeside(w, mainWindow, mainWindow->resultsAreaOnScreen());
    w->show();
    w->raise();
    w->activateWindow();
}

}  // namespace

// ---------------------------------------------------------------------------
// Connect and disconnect

void Form1::PushButton17_Click()
{
    // A click while the sign-in waits for the browser gives the sign-in up.
    if (cancelSignIn())
        return;
    // A click while the command still waits for the server (a double click)
    // changes nothing, so the caption and the status line always agree.
    if (state_.connecting)
        return;
    state_.connecting = true;
    const auto done = qScopeGuard([this] { state_.connecting = false; });
    ActiveCommand active(this);
    ErrorTrap trap(location::Form1::PushButton17_Click);
    trap(100, [&] { setBusy(true); });
    bool connecting = false;
    trap(102, [&] { connecting = !state_.connected; });

    bool failed = false;  // a failed connect continues with the tail of the disconnect
    if (connecting) {
        trap(104, [&] { setStatusText(QStringLiteral("Connecting to %1...").arg(serverLabel())); });
        flushPassword();
        bool existing = false;
        trap(106, [&] { existing = oChilkat != nullptr; });
        if (!existing)
            failed = !openConnection(trap);
        if (!failed)
            trap(138, [&] { setConnected(true); });
    } else {
        trap(140, [&] { setStatusText(QStringLiteral("Disconnecting from %1...").arg(serverLabel())); });
        bool forget = false;
        trap(142, [&] { forget = rememberMeBox->checkState() == Qt::Unchecked; });
        // Without "Remember me" the password goes; the account name stays.
        if (forget) {
            trap(146, [&] { passwordBox->clear(); });
            trap(150, [&] { settings::remove(settings::key::Password); });
            trap(151, [&] { forgetSignIn(); });
        }
        trap(152, [&] {
            if (!ChilkatImap1)
                vc::raise(err::ObjectNotSet);
            ChilkatImap1->Disconnect();  // its answer does not matter
        });
    }
    if (!connecting || failed)
        disconnectTail(trap);
    trap(168, [&] { setBusy(false); });
}

// A new connection object with the entered account, logged in; the folders
// are listed twice and then let go. False when the login failed. Each
// failure shows its box.
bool Form1::openConnection(ErrorTrap &trap)
{
    std::shared_ptr<clsChilkatIMAP> c;
    trap(108, [&] {
        c = setUpConnection(*this);
        oChilkat = c;
    });
    bool ok = false;
    if (!trap(122, [&] {
            if (!c)
                vc::raise(err::ObjectNotSet);
            const StepResult<void> connected = c->Connect();
            ok = connected.ok();
            if (!ok)
                tellFailure(connected.fault());
        }))
        ok = false;
    if (!ok)
        return false;
    std::optional<QStringList> folders;
    const auto listFolders = [&] {
        const StepResult<QStringList> listed = c->EnumMailFolders();
        if (listed)
            folders = *listed;
        else
            tellFailure(listed.fault());
    };
    trap(126, listFolders);
    trap(128, listFolders);
    trap(130, [&] { setStatusText(QStringLiteral("Enumerating folders...")); });
    trap(132, [&] { folders.reset(); });
    trap(134, [&] { setStatusText(QStringLiteral("Connected to %1. Please select folder.").arg(serverLabel())); });
    return true;
}

void Form1::disconnectTail(ErrorTrap &trap)
{
    trap(154, [&] { clearResults(); });
    trap(156, [&] { setConnected(false); });
    int stay = 0;
    if (trap(158, [&] { stay = settings::readInt16(settings::key::StayConnected); }))
        trap(stay != 0 ? 160 : 162, [&] { rememberMeBox->setCheckState(stay != 0 ? Qt::Checked : Qt::Unchecked); });
    trap(164, [&] { oChilkat.reset(); });
    trap(166, [&] { setStatusText(QStringLiteral("Disconnected from %1.").arg(serverLabel())); });
}

void Form1::setConnected(bool connected)
{
    state_.connected = connected;
    connectButton->setText(connected ? kDisconnectCaption : kConnectCaption);
    if (connected) {
        fillFolderBox();
        connectionOpened();
    }
}

QString Form1::serverLabel() const
{
    // An OAuth 2.0 account of another provider goes to that provider's server.
    const QString host = signInPlan().host;
    const int port = options_.connection.port;
    if (host == product::kImapHost && port == product::kImapPort)
        return QStringLiteral("Windows Live Hotmail");
    return serverName(host, port);
}

// ---------------------------------------------------------------------------
// The rule windows

void Form1::PushButton4_Click()
{
    ErrorTrap trap(location::Form1::PushButton4_Click);
    trap(100, [&] { showWindow(Form2::instance(), this); });
}

void Form1::PushButton11_Click()
{
    ErrorTrap trap(location::Form1::PushButton11_Click);
    trap(100, [&] { showWindow(Form3::instance(), this); });
}

// ---------------------------------------------------------------------------
// Output and help commands

namespace {

// An output command on the window's results list.
void runOutputCommand(Form1 *f, void (*command)(OutputHost &, const ResultsModel &))
{
    WindowOutputHost host(f);
    command(host, f->results());
}

const QString kNothingTicked = QStringLiteral("No rows are ticked: tick rows, or right-click the list and tick all.");
const QString kNothingToCopy = QStringLiteral("The results list is empty: there is nothing to copy.");

// A copy command copies the ticked rows: with none, a box says so and the
// clipboard and the status line stay as they were.
bool rowsToCopy(const ResultsModel &results, const QString &location)
{
    if (results.count() > 0 && results.checkedCount() > 0)
        return true;
    ErrorTrap trap(location);
    trap(100, [&] { dialogs().messageBox(results.count() == 0 ? kNothingToCopy : kNothingTicked); });
    return false;
}

// A help button: one box with its text, under the button's own error location.
void showHelp(const QString &location, QString (*text)())
{
    ErrorTrap trap(location);
    trap(100, [&] { dialogs().messageBox(text()); });
}

}  // namespace

void Form1::PushButton14_Click()
{
    if (rowsToCopy(*results_, location::Form1::PushButton14_Click))
        runOutputCommand(this, copyWithSpaces);
}

void Form1::PushButton3_Click()
{
    if (rowsToCopy(*results_, location::Form1::PushButton3_Click))
        runOutputCommand(this, copyWithTabs);
}

void Form1::PushButton1_Click()
{
    if (rowsToCopy(*results_, location::Form1::PushButton1_Click))
        runOutputCommand(this, copyLines);
}

void Form1::PushButton6_Click()
{
    runOutputCommand(this, saveAsText);
}

void Form1::PushButton12_Click()
{
    runOutputCommand(this, saveAsCommaDelimited);
}

void Form1::PushButton9_Click()
{
    ErrorTrap trap(location::Form1::PushButton9_Click);
    trap(100, [&] { results_->clear(); });
}

void Form1::PushButton15_Click()
{
    showHelp(location::Form1::PushButton15_Click, help::contactNote);
}

void Form1::PushButton10_Click()
{
    showHelp(location::Form1::PushButton10_Click, help::linesByNumberExample);
}

void Form1::PushButton16_Click()
{
    showHelp(location::Form1::PushButton16_Click, help::betweenExample);
}

void Form1::PushButton18_Click()
{
    showHelp(location::Form1::PushButton18_Click, help::textSetHelp);
}

}  // namespace vc
