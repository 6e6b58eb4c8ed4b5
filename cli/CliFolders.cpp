#include "CliFolders.h"

#include "CliTerminal.h"
#include "core/Dialogs.h"
#include "extract/FailureMessage.h"
#include "extract/RunWiring.h"
#include "mail/ImapClient.h"

#include <cstdio>

namespace vc::cli {

namespace {

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
            folder.isEmpty() ? QString() : NewOnlyProgress::folderKey(folder)};
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
    quint32 mark = 0;
    if (m.state == NewOnlyMark::Mark::Ready)
        mark = m.uid;
    else if (m.state == NewOnlyMark::Mark::ValidityChanged)
        dialogs().messageBox(NewOnlyMark::validityChangedText(folder));
    progress_.begin(folder, uidValidity, mark);
    return mark;
}

bool NewOnlyRun::commit()
{
    for (const NewOnlyProgress::Move &move : progress_.moves()) {
        if (!marks_.advance(newOnlyKey(options_, move.folder), move.uidValidity, move.uid)) {
            printError(marks_.lastError());
            return false;
        }
        progress_.written(move);
    }
    return true;
}

}  // namespace vc::cli
