// The main window as the host of the fields window: its menu entry, its
// "Start Extracting" (the template run over the selected folder on this
// window's connection), the messages of its preview, and the message a result
// row came from (fetched again from the server when the row is double-clicked,
// so nothing of the messages is kept beyond the rows themselves).
#include "app/AttachmentSettings.h"
#include "app/FieldsWindow.h"
#include "app/FieldsWindowPreview.h"
#include "app/Form1.h"
#include "app/Form1Internal.h"
#include "app/MessageViewer.h"
#include "app/RunMessages.h"
#include "app/WindowMenus.h"
#include "core/Dialogs.h"
#include "core/TrapLocations.h"
#include "core/Yield.h"
#include "extract/FailureMessage.h"
#include "extract/RunTemplate.h"
#include "mail/MimeDecode.h"

#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QTreeView>

namespace vc {

namespace {

const QString kConnectFirst = QStringLiteral("Please connect first (Step 1) before using this feature.");
const QString kRunGoing = QStringLiteral("Please wait until the command in progress has ended.");

// The decoder's needs while `fetch` runs, and what they were before afterwards.
class NeedsFor {
public:
    NeedsFor(ImapComponent *c, const DecodeNeeds &needs) : c_(c)
    {
        if (!c_)
            return;
        if (const DecodeNeeds *now = c_->decodeNeeds())
            before_ = *now;
        c_->setDecodeNeeds(needs);
    }
    ~NeedsFor()
    {
        if (c_)
            c_->setDecodeNeeds(before_);
    }
    NeedsFor(const NeedsFor &) = delete;
    NeedsFor &operator=(const NeedsFor &) = delete;
    const DecodeNeeds &before() const { return before_; }

private:
    QPointer<ImapComponent> c_;
    DecodeNeeds before_;
};

}  // namespace

void Form1::installFieldsHooks()
{
    FieldsWindow::setStartAction([this](QPushButton *button, const QString &caption, FieldsWindow *window) {
        startRun(button, caption, location::FieldsWindow::startButton_Click,
                 [&](ErrorTrap &trap) { runFields(trap, button, window); });
    });
    FieldsWindow::setPreviewRequest([this](FieldsWindow *window) { fetchPreview(window); });
    FieldsWindow::setSourceAction(
        [this](const RowOrigin &source, const QStringList &cells) { openRowOrigin(source, cells); });
    for (const FolderOption &o : folderOptions())
        connect(o.button, &QRadioButton::toggled, this, [this](bool on) {
            if (on)
                askForPreview(true);
        });
    connect(resultsList, &QTreeView::doubleClicked, this, [this](const QModelIndex &index) {
        if (const RowOrigin *source = index.isValid() ? results_->originOf(index.row()) : nullptr)
            openRowOrigin(*source, {results_->text(index.row())});
    });
}

void Form1::removeFieldsHooks()
{
    FieldsWindow::setStartAction(nullptr);
    FieldsWindow::setPreviewRequest(nullptr);
    FieldsWindow::setSourceAction(nullptr);
}

void Form1::addFieldsMenuEntry()
{
    menus_->add(WindowMenus::Extract, "MenuFields", QStringLiteral("&Fields..."), [] { FieldsWindow::open(); });
}

void Form1::connectionOpened()
{
    askForPreview(false);
}

// Once the command at hand is over, an open fields window gets the messages
// of the selected folder for its preview: when it has none yet (it was opened
// before the connection), or, with `folderChanged`, when its messages are from
// another folder.
void Form1::askForPreview(bool folderChanged)
{
    QMetaObject::invokeMethod(
        this,
        [this, folderChanged] {
            FieldsWindow *w = FieldsWindow::existing();
            if (!w || !w->isVisible() || !state_.connected || onExtractEmail)
                return;
            if (w->preview()->records().isEmpty() || (folderChanged && previewFolder_ != folderName()))
                w->requestPreview();
        },
        Qt::QueuedConnection);
}

// The run of the fields window's "Start Extracting": the same run as every
// start command, its rows going to the window's results grid instead of the
// results list, which keeps what it holds.
void Form1::runFields(ErrorTrap &trap, QPushButton *button, FieldsWindow *window)
{
    if (!window->compiledTemplate())
        return;
    ActiveCommand active(this);
    runWindow_ = window;
    const records::Template compiled = *window->compiledTemplate();
    trap(112, [&] { setWindowBusy(window, true); });
    trap(114, [&] {
        state_.run = WindowState::Run::Running;
        state_.runButton = button;
    });
    fieldsRun_ = std::make_unique<FieldsRun>(FieldsRun{window, records::RecordRows(compiled)});
    {
        // The template may want header fields and attachments besides what the
        // rules read; the decoder is set back for the next run.
        DecodeNeeds needs = decodeNeedsOf(compiled);
        if (ChilkatImap1 && ChilkatImap1->decodeNeeds())
            needs.htmlBody = ChilkatImap1->decodeNeeds()->htmlBody;
        const NeedsFor decoding(ChilkatImap1, needs);
        trap(122, [&] {
            const RunOutcome outcome = ExtractEmail(*this);
            showBoxes(outcomeBoxes(outcome, runWindowTitle(), fieldsRun_->count) + attachmentBoxes(outcome));
        });
    }
    fieldsRun_.reset();
    trap(124, [&] { setWindowBusy(window, false); });
    trap(126, [&] {
        state_.run = WindowState::Run::None;
        state_.runButton = nullptr;
    });
    runWindow_ = nullptr;
}

bool Form1::deliverFields(const MailRecord &record)
{
    if (!fieldsRun_)
        return false;
    ErrorTrap trap(location::Form1::MailExtractListing);
    QList<records::Row> rows;
    trap(100, [&] { fieldsRun_->rows.append(record, rows); });
    trap(112, [&] {
        fieldsRun_->count += rows.size();
        if (fieldsRun_->window)
            fieldsRun_->window->appendResults(rows, rowOrigin(record));
    });
    trap(114, [] { yieldToEvents(); });
    if (record.total > 0) {
        progressBar->setRange(0, int(record.total));
        progressBar->setValue(int(qBound<qint64>(0, record.position, record.total)));
    }
    return true;
}

bool Form1::clearFieldsResults()
{
    if (!fieldsRun_)
        return false;
    if (fieldsRun_->window)
        fieldsRun_->window->clearResults();
    return true;
}

RowOrigin Form1::rowOrigin(const MailRecord &record)
{
    RowOrigin s = RowOrigin::of(record);
    if (s.folder.isEmpty())
        s.folder = folderName();
    return s;
}

QString Form1::withFolder(const QString &folder, const DecodeNeeds &needs,
                          const std::function<QString(ImapComponent &, int)> &fetch)
{
    if (onExtractEmail || fetching_)
        return kRunGoing;
    if (!state_.connected || !ChilkatImap1)
        return kConnectFirst;
    ActiveCommand active(this);
    // While these fetches wait, no run starts on the same component.
    const QScopedValueRollback<bool> fetching(fetching_, true);
    const std::shared_ptr<clsChilkatIMAP> conn = oChilkat ? oChilkat : setUpConnection(*this);
    StepResult<int> count = conn->GetTotalMessage(folder);
    if (!count) {
        // The server may have closed an idle connection: sign in again once.
        if (conn->Connect())
            count = conn->GetTotalMessage(folder);
        if (!count)
            return failureText(count.fault());
    }
    const NeedsFor decoding(ChilkatImap1, needs);
    return fetch(*ChilkatImap1, *count);
}

void Form1::fetchPreview(FieldsWindow *window)
{
    // Without a connection the preview waits for one (connectionOpened).
    if (!state_.connected || onExtractEmail || fetching_)
        return;
    DecodeNeeds needs;
    needs.headers = true;
    needs.attachments = true;
    needs.attachmentText = attachmentTextWanted();
    if (const auto &t = window->compiledTemplate())
        needs.attachmentText = needs.attachmentText || decodeNeedsOf(*t).attachmentText;
    QList<MailRecord> records;
    const QPointer<FieldsWindow> guard(window);
    previewFolder_ = folderName();
    const QString error = withFolder(folderName(), needs, [&](ImapComponent &c, int count) {
        for (int n = 1; n <= qMin(count, FieldsWindow::kPreviewMessages); ++n) {
            ImapResult<MailRecord> r = c.FetchSingle(n, false);
            if (!r)
                return r.fault().reason;
            records << std::move(*r);
            yieldToEvents();
        }
        return QString();
    });
    if (!guard)
        return;
    if (!error.isEmpty() && records.isEmpty())
        dialogs().messageBox(QStringLiteral("The preview's messages could not be read:\r") + error, BoxButtons::Ok,
                             BoxIcon::Warning);
    guard->setPreviewRecords(std::move(records));
}

void Form1::openRowOrigin(const RowOrigin &source, const QStringList &marks)
{
    if (source.uid == 0 && source.seq <= 0)
        return;
    DecodeNeeds needs;
    needs.headers = true;
    std::optional<MailRecord> message;
    const QString error = withFolder(source.folder, needs, [&](ImapComponent &c, int) {
        ImapResult<MailRecord> r =
            source.uid != 0 ? c.FetchSingle(int(source.uid), true) : c.FetchSingle(source.seq, false);
        if (!r)
            return r.fault().reason;
        message = std::move(*r);
        return QString();
    });
    if (!error.isEmpty()) {
        dialogs().messageBox(QStringLiteral("The message could not be read:\r") + error, BoxButtons::Ok,
                             BoxIcon::Warning);
        return;
    }
    if (!source.messageId.isEmpty() && message->messageId != source.messageId) {
        // Messages were added or removed since the run: the number now names another.
        dialogs().messageBox(QStringLiteral("The folder has changed since the run: the message this row came from "
                                            "is no longer at its place (%1).")
                                 .arg(originText(source)),
                             BoxButtons::Ok, BoxIcon::Warning);
        return;
    }
    MessageViewer::instance()->showMessage(source, *message, marks);
}

}  // namespace vc
