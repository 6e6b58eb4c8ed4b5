#pragma once
#include "extract/clsChilkatIMAP.h"
#include "mail/ConnectionConfig.h"
#include "mail/signin/OAuthSession.h"
#include "rules/Listing.h"
#include "rules/ResultsModel.h"

#include <QString>

#include <memory>

namespace vc {

// What a new connection object is made of: the component instance it works
// through, where it connects, who signs in, and where its fetch log goes.
struct Account {
    ImapComponent *component = nullptr;
    ConnectionConfig config;
    QString username, password;
    QString errorLogPath;  // empty: the default error log
    // Non-null: the account signs in with OAuth 2.0 tokens from this session
    // instead of the password.
    std::shared_ptr<OAuthSession> signIn;
    // Shown with a refused password when the server takes tokens: how to turn
    // OAuth 2.0 sign-in on in this program.
    QString tokenHint;
};

// What the listing handler works on for every delivered message: the rule of
// the run, its parameters and the results list.
struct ListingTarget {
    const RuleMembers &members;
    const RuleParams &params;
    ResultsModel &results;
};

// Where a walk stands when the progress display changes.
struct RunProgress {
    int percent = 0;  // the component's percentage of the current fetch
    int current = 0;  // the message being fetched (CurrentLocation)
    int total = 0;    // the last message of the walk (MaxRecord)
    QString text;     // "Reading mail n of m"
};

// What a run touches outside the engine: the main window, or the command-line
// program. Both are thin shells over this one interface.
class RunHost {
public:
    virtual ~RunHost() = default;

    // The current connection object (oChilkat), or null. Shared: a disconnect
    // during a run drops the host's reference while the walk still holds one.
    virtual std::shared_ptr<clsChilkatIMAP> connection() = 0;
    virtual void setConnection(std::shared_ptr<clsChilkatIMAP> c) = 0;

    virtual Account account() = 0;        // read when a connection object is set up
    virtual ListingTarget listing() = 0;  // read for every delivered message
    virtual QString folderName() = 0;     // first selected folder option, or empty
    virtual void setBusy(bool busy) = 0;  // hourglass on / default pointer
    virtual void resetProgress() = 0;     // idle progress display
    // The progress display (oChilkat_ScrapProgress), at every progress event
    // of the component during a fetch.
    virtual void showProgress(const RunProgress &progress) = 0;

    // What an OAuth 2.0 sign-in is doing ("Waiting for sign-in in your browser...").
    virtual void showSignInStatus(const QString &text) {}
    // After the rows of one message were listed; `c` is the object walking.
    virtual void messageListed(const clsChilkatIMAP &c) {}
    // The title of the window whose command started the run ("Done." carries
    // it); empty: the application's title.
    virtual QString runWindowTitle() { return QString(); }
    // True once a stop was asked for from outside the windows (Ctrl+C); the
    // run's connection object then stops as if Stop had been clicked.
    virtual bool stopRequested() { return false; }
    // The closing message of a run that walked: the box "Done.", with what is
    // missing (shortfallText, may be empty) on the lines below.
    virtual void sayDone(const QString &shortfall);
};

// The connection set-up shared by the connect command and a run: a new
// connection object with the host's account (SSL on, the configured server
// and port), its delivered messages going to the listing handler and its
// progress to the host's progress display. Does not connect.
std::shared_ptr<clsChilkatIMAP> setUpConnection(RunHost &host);

// "Reading mail n of m": the message being fetched and the last one of the walk.
QString progressText(const clsChilkatIMAP &c);

// The account name: the name box's text followed by the suffix combo's text when
// that begins with "@"; otherwise the name box's text alone.
QString accountName(const QString &nameBox, const QString &suffixCombo);

}  // namespace vc
