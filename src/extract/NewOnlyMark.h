#pragma once
#include "core/MailRecord.h"

#include <QHash>
#include <QList>
#include <QString>

namespace vc {

// Where a run with "only new mail" picks up: per account, server and folder,
// the folder's UIDVALIDITY and the highest UID whose rows were all delivered.
// The marks live in one small state file in the per-user data folder; each
// change rereads it, changes one mark and writes it anew in one step
// (QSaveFile), under a lock file, so two programs changing marks at once lose
// neither change.
class NewOnlyMark {
public:
    static constexpr char kFileName[] = "new-only-marks.json";

    struct Key {
        QString account;
        QString server;  // "host:port"
        QString folder;
    };

    // `path` empty: kFileName in the per-user data folder.
    explicit NewOnlyMark(const QString &path = QString());
    QString path() const { return path_; }

    struct Mark {
        enum State {
            None,             // no mark: walk the folder whole
            Ready,            // take the UIDs above `uid`
            ValidityChanged,  // the folder's UIDs were renumbered (`oldValidity`): walk it whole once
            Unreadable,       // the state file cannot be read: `error` says why
        };
        State state = None;
        quint32 uid = 0;
        quint32 oldValidity = 0;
        QString error;
    };
    // The mark of `key`, for the folder's UIDVALIDITY now.
    Mark load(const Key &key, quint32 uidValidity) const;

    // Moves the mark to `uid` (never below the mark of the same UIDVALIDITY);
    // a mark of another UIDVALIDITY is replaced. False (lastError()) when the
    // file cannot be read or written.
    bool advance(const Key &key, quint32 uidValidity, quint32 uid);
    // Forgets the mark of `key`; an empty folder forgets every folder of the
    // account on that server. A state file that cannot be read is set aside
    // (renamed) first.
    bool reset(const Key &key);

    QString lastError() const { return error_; }

    // The text a run shows for a changed UIDVALIDITY.
    static QString validityChangedText(const QString &folder);

private:
    QString path_;
    QString error_;
};

// One run's progress under "only new mail": per folder (INBOX in any letter
// case as one), where its walk began and how far its messages arrived
// without a gap, for the host to move the marks once the rows are safely out.
class NewOnlyProgress {
public:
    // INBOX in any letter case as INBOX; any other name as it is.
    static QString folderKey(const QString &folder);

    // The folder's walk begins above `mark` at `uidValidity`.
    void begin(const QString &folder, quint32 uidValidity, quint32 mark);
    // One walked message whose rows were handed on: the run of messages
    // without a gap grows by it, or ends before it.
    void walked(const MailRecord &record);
    // One message a watch delivered after the walk: new mail comes in UID
    // order with nothing passed over, so it moves the run on (after a folder
    // came back under another UIDVALIDITY, from that message on).
    void watched(const MailRecord &record);

    struct Move {
        QString folder;  // folderKey()
        quint32 uidValidity = 0;
        quint32 uid = 0;
    };
    // The marks to be written now (none that is written already).
    QList<Move> moves() const;
    // `move` is in the state file.
    void written(const Move &move);
    void clear() { folders_.clear(); }

private:
    struct Folder {
        quint32 validity = 0;
        quint32 lastDelivered = 0;  // the last UID of the run of messages delivered without a gap
        quint32 written = 0;        // what the state file holds
        bool isWritten = false;
        qint64 next = 1;   // the walk position expected next
        bool gap = false;  // a message was missing: nothing after it counts
    };
    QHash<QString, Folder> folders_;
};

}  // namespace vc
