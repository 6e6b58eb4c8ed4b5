#pragma once
#include "CliOutput.h"
#include "core/CommandLine.h"
#include "mail/ConnectionConfig.h"
#include "mail/ImapSearch.h"
#include "mail/signin/SignInOptions.h"
#include "rules/Listing.h"
#include "rules/Template.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace vc::cli {

inline constexpr char kProgramName[] = "vellumcast-cli";

// Exit statuses of the command-line program.
namespace exitcode {
inline constexpr int Completed = 0;
inline constexpr int Failure = 1;
inline constexpr int Usage = 2;
inline constexpr int ConnectFailed = 3;
inline constexpr int FolderNotSelected = 4;
inline constexpr int Interrupted = 130;
}  // namespace exitcode

struct Options {
    QString user;
    QString passwordEnv;      // name of the environment variable holding the password
    QString passwordFile;     // file whose first line is the password
    ConnectionConfig config;  // config.host: where the plan says to connect
    SignInPlan plan;          // how --user signs in, decided from all of the above
    QString folder = QStringLiteral("Inbox");
    SearchFilter filter;  // which messages the server selects for the walk
    // Folders: every --folder in the order given (empty: `folder` alone), all
    // of the server's, or only the list of them; only the mail that is new
    // since the last --new-only run (its marks forgotten first with
    // --reset-new-only); a Gmail label (--label) over "[Gmail]/All Mail".
    QStringList folders;
    bool allFolders = false;
    bool listFolders = false;
    bool newOnly = false;
    bool resetNewOnly = false;
    ExtractionRule rule;    // the rule and its text / lines / markers / items / duplicates
    QStringList itemFiles;  // read into rule.textSet by loadItemFiles()
    Format format = Format::Text;
    QString output;         // empty: standard output
    QString errorLog;       // empty: the default error log
    bool rawCells = false;  // CSV and XLSX cells that look like formulas stay as they are
    // Records: a template's rows, or the rule's rows with where each came from,
    // through the record writers (CSV with a header row, JSON lines, XLSX).
    QString templateFile;                               // --template: a file or a template's name
    std::optional<records::Template> compiledTemplate;  // read by loadTemplate()
    bool withSource = false;                            // --with-source
    bool excel = false;                                 // --excel: CSV with a UTF-8 byte-order mark
    bool formatGiven = false;
    bool progress = false;
    // Attachments: their text searched by the rules; the matching ones saved
    // into a folder (every one when no glob is given).
    bool attachments = false;
    QString saveAttachments;
    QStringList attachmentGlobs;
    // The local mail copy: on unless --no-cache (or VC_NO_CACHE in the
    // environment); --cache-dir puts it elsewhere; --forget-cache drops what
    // it keeps of this account and ends the program; --offline reads the
    // folders from the copy alone, without the server.
    bool noCache = false;
    QString cacheDir;
    bool forgetCache = false;
    bool offline = false;
    // Watching the folder for new mail once the walk is over: NOOP every
    // pollSeconds where the server has no IDLE; the end after so many new
    // messages or seconds (0: none).
    bool watch = false;
    int pollSeconds = 60;
    qint64 watchExitAfter = 0;
    qint64 watchTimeout = 0;
    bool help = false;
    bool version = false;
};

struct ParseResult {
    Options options;
    QString error;  // non-empty: a usage error, to be shown as is
    bool ok() const { return error.isEmpty(); }
};

// Parses the arguments (without the program name). Accepts "--name value" and
// "--name=value". Checks everything that can be checked without touching the
// network: required options, option combinations, the line-number entry, that
// a CA file exists.
ParseResult parseArguments(const QStringList &args);

// Appends the items of every --items-file to the rule's item list (after the
// --item values). Returns an error text, or nothing.
std::optional<QString> loadItemFiles(Options &options);

// Reads and compiles the --template file (when given) into
// compiledTemplate. Returns why it cannot be used, or nothing.
std::optional<QString> loadTemplate(Options &options);

// Whether the rows go through the record writers: a template, --with-source
// or --format xlsx.
bool writesRecords(const Options &options);

// The text --help prints.
QString usageText();

}  // namespace vc::cli
