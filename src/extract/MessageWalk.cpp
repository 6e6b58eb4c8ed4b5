// The message walk of the connection object: counting a folder, walking its
// messages one fetch at a time, and the per-fetch error log.
#include "extract/clsChilkatIMAP.h"

#include "core/AppError.h"
#include "core/Dialogs.h"
#include "core/Yield.h"
#include "extract/ErrorLog.h"

#include <QLocale>

namespace vc {

namespace {

// The special-use attribute (RFC 6154) of the folder that stands for one of the
// program's fixed folder names on accounts that name it differently.
QString specialUseFor(const QString &folderName)
{
    static const struct {
        const char16_t *name;
        const char16_t *flag;
    } map[] = {{u"Sent", u"\\Sent"}, {u"Drafts", u"\\Drafts"}, {u"Junk", u"\\Junk"}, {u"Deleted", u"\\Trash"}};
    for (const auto &m : map) {
        if (folderName.compare(QString::fromUtf16(m.name), Qt::CaseInsensitive) == 0)
            return QString::fromUtf16(m.flag);
    }
    return {};
}

ImapComponent &component(const QPointer<ImapComponent> &ref)
{
    if (!ref)
        raise(err::ObjectNotSet);
    return *ref;
}

}  // namespace

int clsChilkatIMAP::selectFolder(const QString &FolderName)
{
    ImapComponent &imap = component(ChilkatImap1);
    lastResult_ = imap.SelectMailbox(FolderName);
    if (lastResult_ == 1)
        return lastResult_;

    const QString flag = specialUseFor(FolderName);
    if (flag.isEmpty())
        return lastResult_;
    const std::unique_ptr<MailboxList> boxes = imap.ListMailboxes(QString(), QStringLiteral("*"));
    if (!boxes)
        return lastResult_;
    for (int i = 0; i < boxes->Count(); ++i) {
        if (!boxes->HasFlag(i, flag))
            continue;
        // The first folder carrying the attribute is the one that stands for the name.
        lastResult_ = component(ChilkatImap1).SelectMailbox(boxes->GetName(i));
        return lastResult_;
    }
    return lastResult_;
}

int clsChilkatIMAP::GetTotalMessage(const QString &FolderName)
{
    bind();
    if (selectFolder(FolderName) == 1)
        return component(ChilkatImap1).NumMessages();
    GetLastError();
    return 0;
}

void clsChilkatIMAP::StartMailExtraction(const QString &FolderName)
{
    walkEnd_ = WalkEnd::NotRun;
    walk_ = WalkStats();
    bind();
    if (!Connect()) {
        walkEnd_ = WalkEnd::ConnectFailed;
        dialogs().messageBox(QStringLiteral("Connection failed. Check username and password."));
        return;
    }
    if (selectFolder(FolderName) != 1) {
        walkEnd_ = WalkEnd::SelectFailed;
        GetLastError();
        return;
    }

    // The fetch log stays open from record to record while the walk runs.
    const errorlog::Session keepLogOpen;
    // Both bounds are read once; a 64-bit counter keeps a last number of
    // INT_MAX from wrapping around.
    const qint64 first = CurrentLocation();
    const qint64 last = MaxRecord();
    walk_.asked = qMax<qint64>(0, last - first + 1);
    walk_.uidValidity = component(ChilkatImap1).uidValidity();
    walk_.count = component(ChilkatImap1).NumMessages();
    for (qint64 n = first; n <= last; ++n) {
        yieldToEvents();
        setCurrentLocation(int(n));
        std::unique_ptr<MailRecord> email = component(ChilkatImap1).FetchSingle(int(n), false);
        WriteErrorLog();
        if (!email) {
            const Resume resume = afterFailedFetch(FolderName, n);
            if (resume == Resume::End) {
                walkEnd_ = AbortProcess ? WalkEnd::Aborted : WalkEnd::Broken;
                return;
            }
            if (resume == Resume::Again)
                --n;
            continue;
        }
        walk_.failedInRow = 0;
        if (AbortProcess) {
            walkEnd_ = WalkEnd::Aborted;
            return;
        }
        ++walk_.read;
        MailRecord &record = *email;
        record.uID = int(n);
        record.folder = FolderName;
        record.uidValidity = walk_.uidValidity;
        record.position = n - first + 1;
        record.total = walk_.asked;
        Q_EMIT MailExtractListing(record);
        email.reset();  // one message in memory at a time
        yieldToEvents();
    }
    walkEnd_ = AbortProcess ? WalkEnd::Aborted : WalkEnd::Completed;
}

void clsChilkatIMAP::WriteErrorLog()
{
    walk_.logPath = errorlog::append(errorLogPath_, component(ChilkatImap1).LastErrorText());
}

}  // namespace vc
