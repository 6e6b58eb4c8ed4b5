#pragma once
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

}  // namespace vc
