#include "extract/RunFolders.h"

#include "mail/ImapComponent.h"
#include "mail/ImapFolders.h"

namespace vc {

namespace {

bool hasAttribute(const MailboxInfo &box, const char *attribute)
{
    return box.attributes.contains(QLatin1String(attribute), Qt::CaseInsensitive);
}

bool listed(const QStringList &names, const QString &folder)
{
    for (const QString &n : names)
        if (sameFolderName(n, folder))
            return true;
    return false;
}

}  // namespace

bool sameFolderName(const QString &name, const QString &folder)
{
    if (name.compare(QLatin1String("INBOX"), Qt::CaseInsensitive) == 0)
        return folder.compare(QLatin1String("INBOX"), Qt::CaseInsensitive) == 0;
    return name == folder;
}

StepFault explainUnselectable(ImapComponent &imap, const QString &folder, StepFault fault)
{
    if (fault.fault.kind != ImapFailure::Refusal)
        return fault;
    const ImapResult<MailboxList> boxes = imap.ListMailboxes(QString(), QStringLiteral("*"));
    if (!boxes)
        return fault;
    QStringList names;
    for (const MailboxInfo &b : boxes->boxes())
        names << b.name;
    if (listed(names, folder))
        return fault;
    fault.missingFolder = folder;
    fault.existingFolders = names;
    return fault;
}

QStringList allFoldersToWalk(const QList<MailboxInfo> &boxes, const QStringList &named)
{
    QStringList walked;
    for (const MailboxInfo &b : boxes) {
        if (hasAttribute(b, "\\Noselect") || hasAttribute(b, "\\NonExistent") || listed(walked, b.name))
            continue;
        if ((hasAttribute(b, "\\Trash") || hasAttribute(b, "\\Junk")) && !listed(named, b.name))
            continue;
        walked << b.name;
    }
    for (const QString &n : named)
        if (!listed(walked, n))
            walked << n;
    return walked;
}

}  // namespace vc
