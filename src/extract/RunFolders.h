#pragma once
#include "extract/StepFault.h"
#include "mail/ImapResponses.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace vc {

class ImapComponent;

// The folders of a run: which exist, which a run over all of them walks.

// `fault` (the server would not select `folder`) with the folder named as
// missing when the server has no folder of that name: it lists the folders
// to tell. A refusal of a folder that does exist, a failed list and every
// other fault come back as they are.
StepFault explainUnselectable(ImapComponent &imap, const QString &folder, StepFault fault);

// Whether `name` is `folder` as a server names it: INBOX in any letter case,
// every other name exactly.
bool sameFolderName(const QString &name, const QString &folder);

// The folders a run over all of them walks, in the server's order: every
// selectable one except those marked \Trash or \Junk, which are walked only
// when named; named folders the list does not hold come last, in the order
// given. No folder twice.
QStringList allFoldersToWalk(const QList<MailboxInfo> &boxes, const QStringList &named);

}  // namespace vc
