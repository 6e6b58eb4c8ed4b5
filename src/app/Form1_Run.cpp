// The main window as the host of a run: the four start commands (and the two
// of the rule windows, which come through startCommand), the rules'
// parameters read live from the windows, and the run's window side.
#include "app/Form1.h"

#include "app/AttachmentSettings.h"

#include "app/Form1Internal.h"
#include "app/Form2.h"
#include "app/Form3.h"
#include "app/RunMessages.h"
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
    if (const QStringList ticked = chooserFolders(); !ticked.isEmpty())
        return ticked.first();
    return chosenFolder_;  // the folder box's, when no option is ticked
}

void Form1::clearResults()
{
    if (clearFieldsResults() || savingAttachments_)
        return;
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

// Parameters are read from the windows for every message, so that an edit
// during a run applies to the messages delivered after it. Only the window
// the rule reads is asked (a rule window is created on first use).
ExtractionRule Form1::currentRule() const
{
    ExtractionRule r;
    r.rule = members.rule.value_or(Rule::AllEmailData);
    switch (r.rule) {
    case Rule::Containing: r.containing = containingBox->text(); break;
    case Rule::NotContaining: r.notContaining = notContainingBox->text(); break;
    case Rule::LineNumber: r.lineNumbers = lineNumbersBox->text(); break;
    case Rule::Between:
        r.startMarker = Form2::instance()->startMarker();
        r.endMarker = Form2::instance()->endMarker();
        r.showDuplicates = showDuplicatesBox->isChecked();
        break;
    case Rule::ContainingList: r.textSet = Form3::instance()->items(); break;
    case Rule::AllEmailData: break;
    }
    return r;
}

// oChilkat_MailExtractListing: the rows of the message, in one batch at the
// end of the list; the between rule looks for its items among all rows.
void Form1::messageDelivered(const MailRecord &record)
{
    if (deliverFields(record) || deliverToSaver(record))
        return;
    ErrorTrap trap(location::Form1::MailExtractListing);
    QStringList rows;
    trap(100, [&] {
        rows = listMessage(record, currentRule(), [this](const QString &item) { return results_->contains(item); });
    });
    trap(112, [&] { results_->appendRows(rows, rowOrigin(record)); });
    noteDelivered(record);
    trap(114, [] { yieldToEvents(); });
    if (record.total <= 0)
        return;
    progressBar->setRange(0, int(record.total));
    progressBar->setValue(int(qBound<qint64>(0, record.position, record.total)));
}

QString Form1::runWindowTitle() const
{
    return runWindow_ ? runWindow_->windowTitle() : windowTitle();
}

// ---------------------------------------------------------------------------
// Start commands

void Form1::startCommand(QPushButton *button, const QString &normalCaption, QWidget *commandWindow, Rule rule,
                         const QString &trapLocation)
{
    startRun(button, normalCaption, trapLocation,
             [&](ErrorTrap &trap) { runCommand(trap, button, commandWindow, rule); });
}

void Form1::startRun(QPushButton *button, const QString &normalCaption, const QString &trapLocation,
                     const std::function<void(ErrorTrap &)> &run)
{
    ErrorTrap trap(trapLocation);
    const QPointer<QPushButton> guardButton(button);
    bool stopRequest = false;
    trap(100, [&] { stopRequest = state_.isStopRequest(button); });
    if (stopRequest) {
        trap(102, [&] {
            state_.run = WindowState::Run::Stopping;
            if (oChilkat)
                oChilkat->AbortProcess = true;
        });
        trap(104, [&] { button->setText(normalCaption); });
        return;
    }
    trap(106, [&] { button->setText(kStopCaption); });

    bool notConnected = false;
    trap(108, [&] { notConnected = !state_.connected; });
    if (notConnected)
        trap(110,
             [&] { dialogs().messageBox(QStringLiteral("Please connect first (Step 1) before using this feature.")); });
    else if (!onExtractEmail && !fetching_)
        run(trap);
    // The window may have gone while the run yielded; the button goes with it.
    if (guardButton)
        trap(128, [&] { button->setText(normalCaption); });
}

// The run of a start command that may start: guard, rule, cleared list, the
// number-list check of the lines-by-number rule, the run itself and what the
// user is told about how it ended.
void Form1::runCommand(ErrorTrap &trap, QPushButton *button, QWidget *commandWindow, Rule rule)
{
    ActiveCommand active(this);
    runWindow_ = commandWindow;
    trap(112, [&] { setWindowBusy(commandWindow, true); });
    trap(114, [&] {
        state_.run = WindowState::Run::Running;
        state_.runButton = button;
    });
    trap(116, [&] { members.rule = rule; });
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
        trap(120, [&] { run = scopeReadable(); });
    if (run)
        trap(122, [&] {
            newOnly_.clear();
            const RunOutcome outcome = ExtractEmail(*this);
            watching_ = false;
            moveNewOnlyMarks();
            newOnly_.clear();
            showBoxes(outcomeBoxes(outcome, runWindowTitle(), results_->count()) + attachmentBoxes(outcome));
        });
    trap(124, [&] { setWindowBusy(commandWindow, false); });
    trap(126, [&] {
        state_.run = WindowState::Run::None;
        state_.runButton = nullptr;
    });
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
