#pragma once
#include "CliOutput.h"
#include "core/CommandLine.h"
#include "mail/ConnectionConfig.h"
#include "mail/ImapSearch.h"
#include "mail/signin/SignInOptions.h"
#include "rules/Listing.h"

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
    SearchFilter filter;    // which messages the server selects for the walk
    ExtractionRule rule;    // the rule and its text / lines / markers / items / duplicates
    QStringList itemFiles;  // read into rule.textSet by loadItemFiles()
    Format format = Format::Text;
    QString output;         // empty: standard output
    QString errorLog;       // empty: the default error log
    bool rawCells = false;  // CSV cells that look like formulas stay as they are
    bool progress = false;
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

// The text --help prints.
QString usageText();

}  // namespace vc::cli
