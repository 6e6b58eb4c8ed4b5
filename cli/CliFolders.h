#pragma once
#include "CliOptions.h"
#include "core/MailRecord.h"
#include "extract/NewOnlyMark.h"

#include <QHash>
#include <QString>

#include <memory>
#include <optional>

namespace vc {
class ImapComponent;
class RunHost;
class clsChilkatIMAP;
}  // namespace vc

namespace vc::cli {

// --list-folders: signs in with the host's account and prints one line per
// folder of the server, in its order: the name, its special use ("\Sent";
// empty when none) and its message count (empty when the server gives none),
// separated by tabs. Returns the exit status.
int listFolders(RunHost &host, ImapComponent &component);

// --label: signs in (the connection object in `signedIn`) and checks that
// the server has Gmail's labels (X-GM-EXT-1); a usage error that says why
// when it has not. Returns the exit status, exitcode::Completed to go on.
int checkLabels(RunHost &host, ImapComponent &component, std::shared_ptr<clsChilkatIMAP> &signedIn);

// The key of a folder's mark: the account, "host:port" and the folder (INBOX
// in any letter case as INBOX).
NewOnlyMark::Key newOnlyKey(const Options &options, const QString &folder);

// --reset-new-only: forgets the marks of the run's folders (of every folder
// of the account with --all-folders). False with the reason printed.
bool resetNewOnly(const Options &options, NewOnlyMark &marks);

// Only new mail for one run: where each folder's walk starts, and how far
// each folder's messages were delivered without a gap, for the marks to be
// moved on once the rows are safely out.
class NewOnlyRun {
public:
    NewOnlyRun(const Options &options, NewOnlyMark &marks) : options_(options), marks_(marks) {}

    // Nothing when the state file can be read; else why not.
    std::optional<QString> check() const;
    // The UID above which `folder` is walked at `uidValidity`: its mark, or 0
    // (the folder whole) without one or after its UIDVALIDITY changed, which
    // is said on standard error.
    quint32 above(const QString &folder, quint32 uidValidity);
    // One message whose rows were handed to the output.
    void delivered(const MailRecord &record) { progress_.walked(record); }
    // One message a watch delivered after the walk, its rows already written
    // out: a watch reads new mail in UID order with nothing passed over, so
    // it moves the folder's run of delivered messages on (after a folder came
    // back under another UIDVALIDITY, from that message on).
    void watched(const MailRecord &record) { progress_.watched(record); }
    // Moves every walked folder's mark to the last message before the first
    // one that did not arrive. False with the reason printed.
    bool commit();

private:
    const Options &options_;
    NewOnlyMark &marks_;
    NewOnlyProgress progress_;
};

}  // namespace vc::cli
