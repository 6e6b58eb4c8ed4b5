// The main window as the host of a run: the four start commands (and the two
// of the rule windows, which come through startCommand), the rules'
// parameters read live from the windows, and the run's window side.
#include "app/Form1.h"

#include "app/Form1Internal.h"
#include "app/Form2.h"
#include "app/Form3.h"
#include "app/WindowHelpers.h"
#include "core/AppError.h"
#include "core/Dialogs.h"
#include "core/TrapLocations.h"
#include "core/Yield.h"
#include "mail/ImapClient.h"
#include "rules/Rules.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

namespace vc {

namespace {

// Parameters of the rules, read from the windows at every call so that an edit
// during a run applies to the messages delivered after it.
class WindowRuleParams : public RuleParams {
public:
    explicit WindowRuleParams(Form1 *f) : f_(f) {}
    QString containingText() const override { return f_->containingBox->text(); }
    QString notContainingText() const override { return f_->notContainingBox->text(); }
    QString lineNumbers() const override { return f_->lineNumbersBox->text(); }
    QString startMarker() const override { return Form2::instance()->startMarker(); }
    QString endMarker() const override { return Form2::instance()->endMarker(); }
    QStringList textSet() const override { return Form3::instance()->items(); }
    bool showDuplicates() const override { return f_->showDuplicatesBox->isChecked(); }

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
// Run host

// account(): Form1_SignIn.cpp (the sign-in method decides its fields).

QString Form1::folderName()
{
    for (const FolderOption &o : folderOptions())
        if (o.button->isChecked())
            return QString::fromLatin1(o.folder);
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
    progressBar->setRange(0, 100);
    progressBar->setValue(0);
}

// The bar counts the messages of the walk that are done (the percentage of
// one fetch says little while later messages arrive ahead of it); the text
// names the message being read.
void Form1::showProgress(const RunProgress &progress)
{
    if (progress.total > 0) {
        const int done = progress.current - (progress.percent >= 100 ? 0 : 1);
        progressBar->setRange(0, progress.total);
        progressBar->setValue(qBound(0, done, progress.total));
    } else {
        progressBar->setRange(0, 100);
        progressBar->setValue(qBound(0, progress.percent, 100));
    }
    setStatusText(progress.text);
    yieldToEvents();
}

void Form1::messageListed(const clsChilkatIMAP &c)
{
    if (c.MaxRecord() <= 0)
        return;
    progressBar->setRange(0, c.MaxRecord());
    progressBar->setValue(qBound(0, c.CurrentLocation(), c.MaxRecord()));
}

QString Form1::runWindowTitle()
{
    return runWindow_ ? runWindow_->windowTitle() : windowTitle();
}

// ---------------------------------------------------------------------------
// Start commands

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
    trap(108, [&] { notConnected = connectButton->text() == kConnectCaption; });
    if (notConnected)
        trap(110,
             [&] { dialogs().messageBox(QStringLiteral("Please connect first (Step 1) before using this feature.")); });
    else if (!onExtractEmail)
        runCommand(trap, commandWindow, rule);
    // The window may have gone while the run yielded; the button goes with it.
    if (guardButton)
        trap(128, [&] { button->setText(normalCaption); });
}

// The run of a start command that may start: guard, rule, cleared list, the
// number-list check of the lines-by-number rule, the run itself.
void Form1::runCommand(ErrorTrap &trap, QWidget *commandWindow, Rule rule)
{
    ActiveCommand active(this);
    runWindow_ = commandWindow;
    trap(112, [&] { setWindowBusy(commandWindow, true); });
    trap(114, [&] { onExtractEmail = true; });
    trap(116, [&] { members.select(rule); });
    trap(118, [&] { clearResults(); });
    bool run = true;
    if (rule == Rule::LineNumber) {
        trap(120, [&] {
            if (!rules::isLineNumberEntry(lineNumbersBox->text())) {
                run = false;
                dialogs().messageBox(QStringLiteral("Entry must be number or numbers separated by commas."));
            }
        });
    }
    if (run)
        trap(122, [&] { ExtractEmail(*this); });
    trap(124, [&] { setWindowBusy(commandWindow, false); });
    trap(126, [&] { onExtractEmail = false; });
    runWindow_ = nullptr;
}

void Form1::PushButton13_Click()
{
    startCommand(allEmailDataButton, QStringLiteral("Extract All Email Data"), this, Rule::AllEmailData,
                 location::Form1::PushButton13_Click);
}

void Form1::PushButton2_Click()
{
    startCommand(containingButton, QStringLiteral("Extract All Lines Containing This Text:"), this, Rule::Containing,
                 location::Form1::PushButton2_Click);
}

void Form1::PushButton8_Click()
{
    startCommand(notContainingButton, QStringLiteral("Extract All Lines Not Contain. This Text:"), this,
                 Rule::NotContaining, location::Form1::PushButton8_Click);
}

void Form1::PushButton7_Click()
{
    startCommand(linesByNumberButton, QStringLiteral("Extract Lines By Number:"), this, Rule::LineNumber,
                 location::Form1::PushButton7_Click);
}

}  // namespace vc
