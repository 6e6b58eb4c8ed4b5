#include "CliFolders.h"

#include "CliTerminal.h"
#include "core/Dialogs.h"
#include "extract/FailureMessage.h"
#include "extract/RunWiring.h"
#include "mail/ImapClient.h"

#include <cstdio>

namespace vc::cli {

namespace {

QString markFolder(const QString &folder)
{
    return folder.compare(QLatin1String("INBOX"), Qt::CaseInsensitive) == 0 ? QStringLiteral("INBOX") : folder;
}

// The folders of the server with special use and count, through the IMAP
// client where there is one (counts from STATUS or LIST-STATUS), else from
// the component's plain list.
ImapResult<QList<FolderInfo>> foldersOf(ImapComponent &component)
{
    if (auto *client = qobject_cast<ImapClient *>(&component))
        return client->listFolders(true);
    const ImapResult<MailboxList> boxes = component.ListMailboxes(QString(), QStringLiteral("*"));
    if (!boxes)
        return boxes.fault();
    QList<FolderInfo> folders;
    for (const MailboxInfo &b : boxes->boxes()) {
        FolderInfo f;
        f.name = b.name;
        f.attributes = b.attributes;
        f.specialUse = specialUseOf(b.attributes);
        folders << f;
    }
    return folders;
}

// A connection object of `host`, signed in; null (the failure told) when it could not be.
std::shared_ptr<clsChilkatIMAP> signIn(RunHost &host)
{
    std::shared_ptr<clsChilkatIMAP> conn = setUpConnection(host);
    if (const StepResult<void> r = conn->Connect(); !r) {
        if (!r.fault().cancelled)
            dialogs().messageBox(failureText(r.fault()));
        return nullptr;
    }
    return conn;
}

}  // namespace

int checkLabels(RunHost &host, ImapComponent &component, std::shared_ptr<clsChilkatIMAP> &signedIn)
{
    signedIn = signIn(host);
    if (!signedIn)
        return exitcode::ConnectFailed;
    if (!component.Capabilities().contains(QLatin1String("X-GM-EXT-1"))) {
        printError(QStringLiteral("--label is for Gmail, whose labels this server does not have (it does not offer "
                                  "X-GM-EXT-1); give --folder NAME to read one of its folders"));
        return exitcode::Usage;
    }
    return exitcode::Completed;
}

int listFolders(RunHost &host, ImapComponent &component)
{
    const std::shared_ptr<clsChilkatIMAP> conn = signIn(host);
    if (!conn)
        return exitcode::ConnectFailed;
    const ImapResult<QList<FolderInfo>> folders = foldersOf(component);
    if (!folders) {
        printError(QStringLiteral("the folders could not be listed: ") + folders.fault().reason);
        return exitcode::Failure;
    }
    QByteArray out;
    for (const FolderInfo &f : *folders) {
        out += f.name.toUtf8() + '\t' + f.specialUse.toUtf8() + '\t'
               + (f.messages >= 0 ? QByteArray::number(f.messages) : QByteArray()) + '\n';
    }
    return writeToStdout(out) ? exitcode::Completed : exitcode::Failure;
}

NewOnlyMark::Key newOnlyKey(const Options &options, const QString &folder)
{
    return {options.user, options.config.host + QLatin1Char(':') + QString::number(options.config.port),
            folder.isEmpty() ? QString() : markFolder(folder)};
}

bool resetNewOnly(const Options &options, NewOnlyMark &marks)
{
    QStringList folders = options.allFolders ? QStringList{QString()} : options.folders;
    if (folders.isEmpty())
        folders << options.folder;
    for (const QString &folder : folders) {
        if (!marks.reset(newOnlyKey(options, folder))) {
            printError(marks.lastError());
            return false;
        }
    }
    return true;
}

std::optional<QString> NewOnlyRun::check() const
{
    const NewOnlyMark::Mark m = marks_.load(newOnlyKey(options_, options_.folder), 0);
    if (m.state == NewOnlyMark::Mark::Unreadable)
        return m.error;
    return std::nullopt;
}

quint32 NewOnlyRun::above(const QString &folder, quint32 uidValidity)
{
    const NewOnlyMark::Mark m = marks_.load(newOnlyKey(options_, folder), uidValidity);
    Walked w;
    w.validity = uidValidity;
    if (m.state == NewOnlyMark::Mark::Ready)
        w.mark = m.uid;
    else if (m.state == NewOnlyMark::Mark::ValidityChanged)
        dialogs().messageBox(NewOnlyMark::validityChangedText(folder));
    w.lastDelivered = w.mark;
    walked_.insert(markFolder(folder), w);
    return w.mark;
}

void NewOnlyRun::delivered(const MailRecord &record)
{
    const auto it = walked_.find(markFolder(record.folder));
    if (it == walked_.end() || it->gap)
        return;
    if (record.position != it->next || record.uidValidity != it->validity || record.uid <= it->lastDelivered) {
        it->gap = true;
        return;
    }
    it->lastDelivered = record.uid;
    ++it->next;
}

void NewOnlyRun::watched(const MailRecord &record)
{
    const auto it = walked_.find(markFolder(record.folder));
    if (it == walked_.end() || it->gap)
        return;
    if (record.uidValidity != it->validity) {
        it->validity = record.uidValidity;
        it->mark = 0;
        it->lastDelivered = record.uid;
        return;
    }
    it->lastDelivered = qMax(it->lastDelivered, record.uid);
}

bool NewOnlyRun::commit()
{
    for (auto it = walked_.cbegin(); it != walked_.cend(); ++it) {
        if (it->lastDelivered == it->mark && it->mark != 0)
            continue;  // nothing new
        if (!marks_.advance(newOnlyKey(options_, it.key()), it->validity, it->lastDelivered)) {
            printError(marks_.lastError());
            return false;
        }
    }
    for (auto it = walked_.begin(); it != walked_.end(); ++it)
        it->mark = it->lastDelivered;  // written: a later commit need not write it again
    return true;
}

}  // namespace vc::cli
