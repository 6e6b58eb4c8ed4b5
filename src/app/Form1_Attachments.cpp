// Attachments in the main window: whether their text joins the text of every
// run (a check entry of the Extract menu and a check box of the fields window,
// one stored value), and "Save Attachments...": a run over the selected folder
// that writes the attachments whose names match the patterns given into a
// folder chosen, as "UID-NAME", leaving the results list as it is.
#include "app/AttachmentSettings.h"
#include "app/FieldsWindow.h"
#include "app/Form1.h"
#include "app/Form1Internal.h"
#include "app/RunMessages.h"
#include "app/SettingsStore.h"
#include "app/WindowMenus.h"
#include "core/AppError.h"
#include "core/Dialogs.h"
#include "core/TrapLocations.h"
#include "core/Yield.h"
#include "extract/AttachmentSaver.h"

#include <QAction>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>

namespace vc {

namespace {

const QString kSaveCaption = QStringLiteral("Sa&ve Attachments...");
const QString kStopSavingCaption = QStringLiteral("Stop Sa&ving Attachments");

WindowBox box(const QString &text, BoxIcon icon = BoxIcon::None)
{
    WindowBox b;
    b.text = text;
    b.icon = icon;
    return b;
}

}  // namespace

bool attachmentTextWanted()
{
    try {
        return settings::readBool(settings::key::Attachments);
    } catch (const AppError &) {
        return false;  // an unreadable value counts as the default
    }
}

void setAttachmentTextWanted(bool on)
{
    if (attachmentTextWanted() == on)
        return;
    settings::saveFlag(settings::key::Attachments, on);
    if (Form1 *f = Form1::instance())
        f->attachmentTextChanged();
    if (FieldsWindow *w = FieldsWindow::existing())
        w->showAttachmentText(on);
}

QList<WindowBox> attachmentBoxes(const RunOutcome &outcome)
{
    QList<WindowBox> boxes;
    if (outcome.attachmentTextProblems > 0)
        boxes.append(box(QStringLiteral("%1 attachment(s) gave no text or only part of it; the error log says which "
                                        "and why.")
                             .arg(outcome.attachmentTextProblems),
                         BoxIcon::Warning));
    if (outcome.attachmentSaveFailures > 0)
        boxes.append(box(QStringLiteral("%1 attachment(s) could not be saved (%2 saved); the error log says which "
                                        "and why.")
                             .arg(outcome.attachmentSaveFailures)
                             .arg(outcome.attachmentsSaved),
                         BoxIcon::Warning));
    return boxes;
}

QStringList attachmentGlobs(const QString &entry)
{
    static const QRegularExpression separators(QStringLiteral("[\\s;,]+"));
    return entry.split(separators, Qt::SkipEmptyParts);
}

AttachmentRequest Form1::attachmentRequest()
{
    return {attachmentTextWanted(), attachmentSaver_};
}

void Form1::addAttachmentEntries()
{
    attachmentTextAction_ =
        menus_->add(WindowMenus::Extract, "MenuAttachmentText", QStringLiteral("Search Attachments' &Text"), nullptr);
    attachmentTextAction_->setCheckable(true);
    attachmentTextAction_->setChecked(attachmentTextWanted());
    connect(attachmentTextAction_, &QAction::toggled, this, [](bool on) { setAttachmentTextWanted(on); });
    connect(menus_->menu(WindowMenus::Extract), &QMenu::aboutToShow, this, &Form1::attachmentTextChanged);

    // The run's command: a button of its own (not shown) carries the run's
    // Stop like the start commands' buttons do; the menu entry clicks it.
    // Not one of the window's controls: it has no parent and is never shown.
    saveAttachmentsButton_ = std::make_unique<QPushButton>(QStringLiteral("Save Attachments"));
    saveAttachmentsButton_->setObjectName(QStringLiteral("saveAttachmentsButton"));
    connect(saveAttachmentsButton_.get(), &QPushButton::clicked, this, &Form1::saveAttachmentsCommand);
    saveAttachmentsAction_ = menus_->add(WindowMenus::Extract, "MenuSaveAttachments", kSaveCaption,
                                         [this] { saveAttachmentsButton_->click(); });
}

void Form1::attachmentTextChanged()
{
    if (attachmentTextAction_) {
        const QSignalBlocker block(attachmentTextAction_);
        attachmentTextAction_->setChecked(attachmentTextWanted());
    }
}

void Form1::saveAttachmentsCommand()
{
    startRun(saveAttachmentsButton_.get(), QStringLiteral("Save Attachments"), location::Form1::SaveAttachments,
             [this](ErrorTrap &trap) { runSaveAttachments(trap); });
    saveAttachmentsAction_->setText(kSaveCaption);
}

void Form1::runSaveAttachments(ErrorTrap &trap)
{
    QString folder, entry;
    trap(100, [&] { folder = dialogs().folderName(QStringLiteral("Save Attachments To")); });
    if (folder.isEmpty())
        return;
    trap(102, [&] {
        entry =
            dialogs().inputBox(QStringLiteral("Save the attachments whose names match (\"*.pdf\"; several "
                                              "separated by blanks; \"*\" for every attachment):"),
                               QStringLiteral("Save Attachments"), settings::readText(settings::key::AttachmentGlobs));
    });
    const QStringList globs = attachmentGlobs(entry);
    if (globs.isEmpty())
        return;
    settings::save(settings::key::AttachmentGlobs, globs.join(u' '));
    AttachmentSaver saver(folder, globs == QStringList{QStringLiteral("*")} ? QStringList() : globs);
    QString error;
    if (!saver.open(&error)) {
        trap(104, [&] {
            dialogs().messageBox(QStringLiteral("The attachments cannot be saved in %1:\r%2").arg(folder, error),
                                 BoxButtons::Ok, BoxIcon::Warning);
        });
        return;
    }

    ActiveCommand active(this);
    runWindow_ = this;
    trap(106, [&] { setWindowBusy(this, true); });
    trap(108, [&] {
        state_.run = WindowState::Run::Running;
        state_.runButton = saveAttachmentsButton_.get();
        saveAttachmentsAction_->setText(kStopSavingCaption);
    });
    attachmentSaver_ = &saver;
    savingAttachments_ = true;
    trap(110, [&] {
        const RunOutcome outcome = ExtractEmail(*this);
        QList<WindowBox> boxes = outcomeBoxes(outcome, runWindowTitle());
        if (outcome.walked)
            boxes.prepend(
                box(QStringLiteral("%1 attachment(s) saved in %2.").arg(outcome.attachmentsSaved).arg(saver.folder())));
        showBoxes(boxes + attachmentBoxes(outcome));
    });
    savingAttachments_ = false;
    attachmentSaver_ = nullptr;
    trap(112, [&] { setWindowBusy(this, false); });
    trap(114, [&] {
        state_.run = WindowState::Run::None;
        state_.runButton = nullptr;
    });
    runWindow_ = nullptr;
}

bool Form1::deliverToSaver(const MailRecord &record)
{
    if (!savingAttachments_)
        return false;
    // The attachments were saved as the message arrived; no rows come of it.
    if (record.total > 0) {
        progressBar->setRange(0, int(record.total));
        progressBar->setValue(int(qBound<qint64>(0, record.position, record.total)));
    }
    yieldToEvents();
    return true;
}

}  // namespace vc
