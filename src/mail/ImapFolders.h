#pragma once
#include <QString>
#include <QStringList>

namespace vc {

// One folder of the server's list: its name (decoded), the hierarchy
// delimiter, its attributes as the server sent them, the special use among
// them (RFC 6154: "\Sent", "\Trash", ...; Gmail's "\Important" too), whether it
// can be selected, and its message count when it was asked for (-1: unknown).
struct FolderInfo {
    QString name;
    QString delimiter;  // empty when the server has none (NIL)
    QStringList attributes;
    QString specialUse;
    bool selectable = true;
    qint64 messages = -1;
};

// STATUS of one folder: its message count, the UID the next message will get,
// and its UIDVALIDITY.
struct FolderStatus {
    qint64 messages = 0;
    quint32 uidNext = 0;
    quint32 uidValidity = 0;
};

// The special use among a folder's attributes ("\Sent"), empty when none.
QString specialUseOf(const QStringList &attributes);

// The names of `existing` nearest to `wanted`, nearest first: letter case does
// not matter, a name that starts like the other (or is its last part, "Archive"
// against "INBOX/Archive") is near, and so is one a few typing slips away. At
// most `most` names; an exact match (letter case aside) comes first.
QStringList nearestFolderNames(const QString &wanted, const QStringList &existing, int most = 5);

// "There is no folder Archive on this server; it has Archives, INBOX, Sent
// Items and 6 more." The names: the nearest ones first, then the others in the
// server's order, at most `most` of them; the sentence says how many are left
// out. For a server without folders: "...; it has no folders."
QString noSuchFolderText(const QString &wanted, const QStringList &existing, int most = 5);

}  // namespace vc
