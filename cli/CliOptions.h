#pragma once
#include "mail/ConnectionConfig.h"
#include "rules/Listing.h"

#include <QByteArray>
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

enum class Format { Text, Comma, Space, Tab, Csv, Jsonl };

struct Options {
    QString user;
    QString passwordEnv;   // name of the environment variable holding the password
    QString passwordFile;  // file whose first line is the password
    ConnectionConfig config;
    QString folder = QStringLiteral("Inbox");
    Rule rule = Rule::AllEmailData;
    FixedRuleParams params;  // text / lines / markers / items / duplicates
    QStringList itemFiles;   // read into params.items by loadItemFiles()
    Format format = Format::Text;
    QString output;    // empty: standard output
    QString errorLog;  // empty: the default error log
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
// "--name=value". Checks everything that can be checked without touching files
// or the network: required options, option combinations, the line-number entry.
ParseResult parseArguments(const QStringList &args);

// Appends the items of every --items-file to the rule's item list (after the
// --item values). Returns an error text, or nothing.
std::optional<QString> loadItemFiles(Options &options);

QString usageText();

// The bytes written for the result rows in one output format.
QByteArray formatRows(const QStringList &rows, Format format);

// One RFC 4180 field (always quoted) and one JSON string literal.
QByteArray csvField(const QString &text);
QByteArray jsonString(const QString &text);

}  // namespace vc::cli
