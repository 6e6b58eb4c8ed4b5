// The main window's commands: connect/disconnect, the start commands and the
// run host, the rule windows, the output and help commands.
#include "app/Form1.h"

#include "app/Form1Internal.h"
#include "app/Form2.h"
#include "app/Form3.h"
#include "app/SettingsStore.h"
#include "app/WindowHelpers.h"
#include "core/AppError.h"
#include "core/Convert.h"
#include "core/Dialogs.h"
#include "core/Yield.h"
#include "mail/ImapClient.h"
#include "output/HelpTexts.h"
#include "output/ResultsOutput.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

namespace vc {

namespace {

const QString kConnectCaption = QStringLiteral("1. Connect");
const QString kDisconnectCaption = QStringLiteral("Disconnect");
const QString kStopCaption = QStringLiteral("Stop");

// Parameters of the rules, read from the windows at every call so that an edit
// during a run applies to the messages delivered after it.
class WindowRuleParams : public RuleParams {
public:
    explicit WindowRuleParams(Form1 *f) : f_(f) {}
    QString containingText() const override { return f_->Text1->text(); }
    QString notContainingText() const override { return f_->Text2->text(); }
    QString lineNumbers() const override { return f_->Text5->text(); }
    QString startMarker() const override { return Form2::instance()->startMarker(); }
    QString endMarker() const override { return Form2::instance()->endMarker(); }
    QStringList textSet() const override { return Form3::instance()->items(); }
    bool showDuplicates() const override { return f_->Check3->isChecked(); }

private:
    Form1 *f_;
};

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

private:
    Form1 *f_;
};

// The pointer of the window a start command belongs to.
void setWindowBusy(QWidget *window, bool busy)
{
    if (!window)
        return;
    if (auto *p = window->findChild<WindowPointer *>(QString(), Qt::FindDirectChildrenOnly)) {
        p->setMousePointer(busy ? pointer::Hourglass : pointer::Default);
        return;
    }
    if (busy)
        window->setCursor(Qt::WaitCursor);
    else
        window->unsetCursor();
}

}  // namespace

std::unique_ptr<RuleParams> makeWindowRuleParams(Form1 *form)
{
    return std::make_unique<WindowRuleParams>(form);
}

std::unique_ptr<ImapComponent> defaultComponent(const ConnectionConfig &config)
{
    auto client = std::make_unique<ImapClient>();
    client->configure(config);
    return client;
}

// ---------------------------------------------------------------------------
// Connect and disconnect

void Form1::PushButton17_Click()
{
    ActiveCommand active(this);
    ErrorTrap trap(QStringLiteral("Vellumcast2/19/2015.Form1.PushButton17_Click"));
    trap(100, [&] { setBusy(true); });
    bool connecting = false;
    trap(102, [&] { connecting = PushButton17->text() == kConnectCaption; });

    bool failed = false;  // a failed connect continues with the tail of the disconnect
    if (connecting) {
        trap(104, [&] { setStatusText(QStringLiteral("Connecting to Windows Live Hotmail...")); });
        bool existing = false;
        trap(106, [&] { existing = oChilkat != nullptr; });
        if (!existing) {
            std::shared_ptr<clsChilkatIMAP> c;
            // Lines 108-120: create the object, hand it the component and the account.
            trap(108, [&] {
                c = setUpConnection();
                oChilkat = c;
            });
            bool ok = false;
            if (!trap(122, [&] {
                    if (!c)
                        vc::raise(err::ObjectNotSet);
                    ok = c->Connect();
                }))
                ok = false;
            if (!ok) {
                failed = true;
            } else {
                std::optional<QStringList> folders;
                trap(126, [&] { folders = c->EnumMailFolders(); });
                trap(128, [&] { folders = c->EnumMailFolders(); });
                trap(130, [&] { setStatusText(QStringLiteral("Enumerating folders...")); });
                trap(132, [&] { folders.reset(); });
                trap(134, [&] {
                    setStatusText(QStringLiteral("Connected to Windows Live Hotmail. Please select folder."));
                });
            }
        }
        if (!failed)
            trap(138, [&] { PushButton17->setText(kDisconnectCaption); });
    } else {
        trap(140, [&] { setStatusText(QStringLiteral("Disconnecting from Windows Live Hotmail...")); });
        bool forget = false;
        trap(142, [&] { forget = Check1->checkState() == Qt::Unchecked; });
        if (forget) {
            trap(144, [&] { Text7->clear(); });
            trap(146, [&] { Text6->clear(); });
            trap(148, [&] { settings::Save(QStringLiteral("User"), QString()); });
            trap(150, [&] { settings::Save(QStringLiteral("Password"), QString()); });
        }
        trap(152, [&] {
            if (!ChilkatImap1)
                vc::raise(err::ObjectNotSet);
            ChilkatImap1->Disconnect();
        });
    }

    if (!connecting || failed) {
        trap(154, [&] { clearResults(); });
        trap(156, [&] { PushButton17->setText(kConnectCaption); });
        int stay = 0;
        if (trap(158, [&] {
                stay = convert::toInt16(settings::Read(QStringLiteral("StayConnected"), QStringLiteral("0")));
            }))
            trap(stay != 0 ? 160 : 162, [&] { Check1->setCheckState(stay != 0 ? Qt::Checked : Qt::Unchecked); });
        trap(164, [&] { oChilkat.reset(); });
        trap(166, [&] { setStatusText(QStringLiteral("Disconnected from Windows Live Hotmail.")); });
    }
    trap(168, [&] { setBusy(false); });
}

// ---------------------------------------------------------------------------
// Run host

std::shared_ptr<clsChilkatIMAP> Form1::setUpConnection()
{
    if (!ChilkatImap1)
        vc::raise(err::ObjectNotSet);
    auto c = newConnection(ChilkatImap1, options_.connection, accountName(Text7->text(), Combo1->currentText()),
                           Text6->text());
    connect(c.get(), &clsChilkatIMAP::MailExtractListing, this, &Form1::oChilkat_MailExtractListing,
            Qt::DirectConnection);
    connect(c.get(), &clsChilkatIMAP::ScrapProgress, this, &Form1::oChilkat_ScrapProgress, Qt::DirectConnection);
    return c;
}

QString Form1::folderName()
{
    const std::pair<QRadioButton *, const char *> folders[] = {
        {Option3, "Inbox"}, {Option5, "Drafts"}, {Option6, "Sent"}, {Option7, "Junk"}, {Option9, "Deleted"}};
    for (const auto &[button, name] : folders)
        if (button->isChecked())
            return QString::fromLatin1(name);
    return QString();
}

void Form1::clearResults()
{
    results_->clear();
}

void Form1::setBusy(bool busy)
{
    pointer_->setMousePointer(busy ? pointer::Hourglass : pointer::Default);
}

void Form1::resetProgress()
{
    setStatusText(QStringLiteral("Progress Bar"));
    ProgressBar1->setValue(0);
}

void Form1::oChilkat_MailExtractListing(const QString &From, const QString &FromName, const QString &FromAddress,
                                        const QString &Subject, const QString &ReceivedDate,
                                        const QString &PlainTextBody, const QString &HTMLTextBody, int uID)
{
    MailRecord m;
    m.From = From;
    m.FromName = FromName;
    m.FromAddress = FromAddress;
    m.Subject = Subject;
    m.ReceivedDate = ReceivedDate;
    m.PlainTextBody = PlainTextBody;
    m.HTMLTextBody = HTMLTextBody;
    m.uID = uID;
    listMessage(m, members, *params_, *results_);
}

void Form1::oChilkat_ScrapProgress(int value)
{
    // The sender, not oChilkat: a disconnect during a run drops the window's
    // reference while the walk still reports through its own object.
    const auto *c = qobject_cast<clsChilkatIMAP *>(sender());
    if (!c)
        c = oChilkat.get();
    ProgressBar1->setMaximum(100);
    ProgressBar1->setValue(qBound(0, value, 100));
    if (c)
        setStatusText(QStringLiteral("Reading mail %1 of %2").arg(c->CurrentLocation()).arg(c->MaxRecord()));
    yieldToEvents();
}

// ---------------------------------------------------------------------------
// Start commands

bool Form1::numberListValid() const
{
    const QString text = Text5->text();
    if (text.isEmpty())
        return false;
    const QStringList items = text.split(QLatin1Char(','));
    for (const QString &item : items)
        if (!convert::isNumeric(item))
            return false;
    return true;
}

void Form1::startCommand(QPushButton *button, const QString &normalCaption, QWidget *commandWindow, Rule rule,
                         const QString &trapLocation)
{
    ErrorTrap trap(trapLocation);
    const QPointer<QPushButton> guardButton(button);
    bool stopRequest = false;
    trap(100, [&] { stopRequest = button->text() == kStopCaption; });
    if (stopRequest) {
        trap(102, [&] {
            if (oChilkat)
                oChilkat->AbortProcess = true;
        });
        trap(104, [&] { button->setText(normalCaption); });
        return;
    }
    trap(106, [&] { button->setText(kStopCaption); });

    bool notConnected = false;
    trap(108, [&] { notConnected = PushButton17->text() == kConnectCaption; });
    if (notConnected) {
        trap(110,
             [&] { dialogs().messageBox(QStringLiteral("Please connect first (Step 1) before using this feature.")); });
    } else if (!onExtractEmail) {
        ActiveCommand active(this);
        trap(112, [&] { setWindowBusy(commandWindow, true); });
        trap(114, [&] { onExtractEmail = true; });
        trap(116, [&] { members.select(rule); });
        trap(118, [&] { clearResults(); });
        bool run = true;
        if (rule == Rule::LineNumber) {
            trap(120, [&] {
                if (!numberListValid()) {
                    run = false;
                    dialogs().messageBox(QStringLiteral("Entry must be number or numbers separated by commas."));
                }
            });
        }
        if (run)
            trap(122, [&] { ExtractEmail(*this); });
        trap(124, [&] { setWindowBusy(commandWindow, false); });
        trap(126, [&] { onExtractEmail = false; });
    }
    // The window may have gone while the run yielded; the button goes with it.
    if (guardButton)
        trap(128, [&] { button->setText(normalCaption); });
}

void Form1::PushButton13_Click()
{
    startCommand(PushButton13, QStringLiteral("Extract All Email Data"), this, Rule::AllEmailData,
                 QStringLiteral("Vellumcast.Form1.PushButton13_Click"));
}

void Form1::PushButton2_Click()
{
    startCommand(PushButton2, QStringLiteral("Extract All Lines Containing This Text:"), this, Rule::Containing,
                 QStringLiteral("Vellumcast2/19/2015.Form1.PushButton2_Click"));
}

void Form1::PushButton8_Click()
{
    startCommand(PushButton8, QStringLiteral("Extract All Lines Not Contain. This Text:"), this, Rule::NotContaining,
                 QStringLiteral("Vellumcast2/19/2015.Form1.PushButton8_Click"));
}

void Form1::PushButton7_Click()
{
    startCommand(PushButton7, QStringLiteral("Extract Lines By Number:"), this, Rule::LineNumber,
                 QStringLiteral("Vellumcast2/19/2015.Form1.PushButton7_Click"));
}

void Form1::PushButton4_Click()
{
    ErrorTrap trap(QStringLiteral("Vellumcast12/4/2014.Form1.PushButton4_Click"));
    trap(100, [&] {
        Form2 *w = Form2::instance();
        w->show();
        w->raise();
        w->activateWindow();
    });
}

void Form1::PushButton11_Click()
{
    ErrorTrap trap(QStringLiteral("Vellumcast2/19/2015.Form1.PushButton11_Click"));
    trap(100, [&] {
        Form3 *w = Form3::instance();
        w->show();
        w->raise();
        w->activateWindow();
    });
}

// ---------------------------------------------------------------------------
// Output and help commands

void Form1::PushButton14_Click()
{
    WindowOutputHost host(this);
    copyWithSpaces(host, *results_);
}

void Form1::PushButton3_Click()
{
    WindowOutputHost host(this);
    copyWithTabs(host, *results_);
}

void Form1::PushButton1_Click()
{
    WindowOutputHost host(this);
    copyLines(host, *results_);
}

void Form1::PushButton6_Click()
{
    WindowOutputHost host(this);
    saveAsText(host, *results_);
}

void Form1::PushButton12_Click()
{
    WindowOutputHost host(this);
    saveAsCommaDelimited(host, *results_);
}

void Form1::PushButton9_Click()
{
    ErrorTrap trap(QStringLiteral("Vellumcast12/4/2014.Form1.PushButton9_Click"));
    trap(100, [&] { results_->clear(); });
}

void Form1::PushButton15_Click()
{
    ErrorTrap trap(QStringLiteral("Vellumcast2/19/2015.Form1.PushButton15_Click"));
    trap(100, [&] { dialogs().messageBox(help::contactNote()); });
}

void Form1::PushButton10_Click()
{
    ErrorTrap trap(QStringLiteral("Vellumcast2/19/2015.Form1.PushButton10_Click"));
    trap(100, [&] { dialogs().messageBox(help::linesByNumberExample()); });
}

void Form1::PushButton16_Click()
{
    ErrorTrap trap(QStringLiteral("Vellumcast2/19/2015.Form1.PushButton16_Click"));
    trap(100, [&] { dialogs().messageBox(help::betweenExample()); });
}

void Form1::PushButton18_Click()
{
    ErrorTrap trap(QStringLiteral("Vellumcast2/19/2015.Form1.PushButton18_Click"));
    trap(100, [&] { dialogs().messageBox(help::textSetHelp()); });
}

}  // namespace vc
