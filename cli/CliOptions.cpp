#include "CliOptions.h"

#include "core/AppError.h"
#include "core/Product.h"
#include "extract/ItemFiles.h"
#include "extract/RunTemplate.h"
#include "extract/WalkCache.h"
#include "rules/Rules.h"

#include <QSet>

#include <limits>

namespace vc::cli {

namespace {

// The rules by their names on the command line, with the parameter options
// each one reads and the groups of them it needs (one option of each group).
struct NamedRule {
    QString name;
    Rule value;
    QString description;
    QStringList parameters;
    QList<QStringList> needs;
};

const QList<NamedRule> &rules()
{
    static const QList<NamedRule> table = {
        {QStringLiteral("all"), Rule::AllEmailData, QStringLiteral("sender, date, subject, body, body lines"), {}, {}},
        {QStringLiteral("containing"),
         Rule::Containing,
         QStringLiteral("header fields and lines with --text"),
         {QStringLiteral("text")},
         {{QStringLiteral("text")}}},
        {QStringLiteral("not-containing"),
         Rule::NotContaining,
         QStringLiteral("header fields and lines without --text"),
         {QStringLiteral("text")},
         {{QStringLiteral("text")}}},
        {QStringLiteral("lines"),
         Rule::LineNumber,
         QStringLiteral("body lines at the numbers of --lines"),
         {QStringLiteral("lines")},
         {}},
        {QStringLiteral("between"),
         Rule::Between,
         QStringLiteral("each text between --start and --end"),
         {QStringLiteral("start"), QStringLiteral("end"), QStringLiteral("show-duplicates")},
         {{QStringLiteral("start")}, {QStringLiteral("end")}}},
        {QStringLiteral("text-set"),
         Rule::ContainingList,
         QStringLiteral("lines with any --item/--items-file text"),
         {QStringLiteral("item"), QStringLiteral("items-file")},
         {{QStringLiteral("item"), QStringLiteral("items-file")}}},
    };
    return table;
}

struct NamedFormat {
    QString name;
    Format value;
    QString description;
};

const QList<NamedFormat> &formats()
{
    static const QList<NamedFormat> table = {
        {QStringLiteral("text"), Format::Text, QStringLiteral("one row per line")},
        {QStringLiteral("comma"), Format::Comma, QStringLiteral("all rows on one line, a comma after each")},
        {QStringLiteral("space"), Format::Space, QStringLiteral("rows padded with blanks to one width")},
        {QStringLiteral("tab"), Format::Tab, QStringLiteral("rows padded with blanks, then a tab")},
        {QStringLiteral("csv"), Format::Csv, QStringLiteral("one quoted field per row")},
        {QStringLiteral("jsonl"), Format::Jsonl,
         QStringLiteral("one JSON string per row (with --template or --with-source\none JSON object per row)")},
        {QStringLiteral("xlsx"), Format::Xlsx, QStringLiteral("a workbook: one sheet, a header row, text cells")},
    };
    return table;
}

// "NAME  description" lines of a name table, for --help.
template <class Table>
QStringList namesHelp(const Table &table)
{
    QStringList lines;
    for (const auto &row : table)
        lines << row.name.leftJustified(16) + row.description;
    return lines;
}

// An option that takes one name of a table (the rules, the formats) and
// stores the value the table gives for it.
template <class Table, class Value>
cmdline::Option choice(const QString &name, const QString &valueName, const QString &description,
                       const QString &example, const Table &table, Value *target)
{
    return {name, valueName, description, example, [name, &table, target](const QString &v) {
                QStringList names;
                for (const auto &row : table) {
                    if (row.name == v) {
                        *target = row.value;
                        return QString();
                    }
                    names << row.name;
                }
                return QStringLiteral("unknown %1 '%2' (one of %3)").arg(name, v, names.join(QStringLiteral(", ")));
            }};
}

// A switch that sets `target`.
cmdline::Option flag(const QString &name, const QString &description, bool *target)
{
    return {name, QString(), description, QString(), [target](const QString &) {
                *target = true;
                return QString();
            }};
}

// Parsing state: the options filled in, which rule parameters were given,
// and which other options whose defaults matter.
struct State {
    Options o;
    QSet<QString> given;
    QSet<QString> named;
};

// The option, remembered in State::named once given.
cmdline::Option noted(State *s, cmdline::Option option)
{
    option.apply = [s, name = option.name, apply = option.apply](const QString &v) {
        s->named.insert(name);
        return apply(v);
    };
    return option;
}

// A row whose value is stored as given (empty values refused when `nonEmpty`).
cmdline::Option text(const QString &name, const QString &valueName, const QString &description, const QString &example,
                     QString *target, bool nonEmpty = false)
{
    return {name, valueName, description, example, [name, target, nonEmpty](const QString &v) {
                if (nonEmpty && v.isEmpty())
                    return QStringLiteral("option --%1 needs a value").arg(name);
                *target = v;
                return QString();
            }};
}

// A rule parameter: remembered as given, then stored by `store`.
cmdline::Option parameter(State *s, const QString &name, const QString &valueName, const QString &description,
                          const QString &example, std::function<void(const QString &)> store)
{
    return {name, valueName, description, example, [s, name, store](const QString &v) {
                s->given.insert(name);
                store(v);
                return QString();
            }};
}

cmdline::Option folderOption(State *s);

QList<cmdline::Option> ruleOptions(State *s)
{
    Options &o = s->o;
    return {
        folderOption(s),
        noted(s, choice(QStringLiteral("rule"), QStringLiteral("RULE"),
                        QStringLiteral("what to extract from each message: one of the rules\nbelow (default all)"),
                        QStringLiteral("between"), rules(), &o.rule.rule)),
        parameter(s, QStringLiteral("text"), QStringLiteral("TEXT"),
                  QStringLiteral("containing, not-containing: the text to look for\n(letter case does not matter)"),
                  QStringLiteral("invoice"), [&o](const QString &v) { o.rule.containing = o.rule.notContaining = v; }),
        parameter(s, QStringLiteral("lines"), QStringLiteral("LIST"),
                  QStringLiteral("lines: body line numbers separated by commas"), QStringLiteral("1,3"),
                  [&o](const QString &v) { o.rule.lineNumbers = v; }),
        parameter(s, QStringLiteral("start"), QStringLiteral("X"), QStringLiteral("between: the start marker"),
                  QStringLiteral("'remove='"), [&o](const QString &v) { o.rule.startMarker = v; }),
        parameter(s, QStringLiteral("end"), QStringLiteral("Y"), QStringLiteral("between: the end marker"),
                  QStringLiteral("'\"'"), [&o](const QString &v) { o.rule.endMarker = v; }),
        parameter(s, QStringLiteral("show-duplicates"), QString(),
                  QStringLiteral("between: also list items that are listed already"), QString(),
                  [&o](const QString &) { o.rule.showDuplicates = true; }),
        parameter(s, QStringLiteral("item"), QStringLiteral("TEXT"),
                  QStringLiteral("text-set: one search text (may be given again)"), QStringLiteral("invoice"),
                  [&o](const QString &v) { o.rule.textSet.append(v); }),
        parameter(s, QStringLiteral("items-file"), QStringLiteral("FILE"),
                  QStringLiteral("text-set: search texts, one a line (may be given again)"),
                  QStringLiteral("items.txt"), [&o](const QString &v) { o.itemFiles.append(v); }),
    };
}

// A day for a search: 2024-02-01 or 1-Feb-2024.
cmdline::Option date(const QString &name, const QString &description, QDate *target)
{
    return {name, QStringLiteral("DATE"), description, QStringLiteral("2024-02-01"), [name, target](const QString &v) {
                const std::optional<QDate> d = parseSearchDate(v);
                if (!d)
                    return QStringLiteral("--%1 takes a date such as 2024-02-01 or 1-Feb-2024, not '%2'").arg(name, v);
                *target = *d;
                return QString();
            }};
}

// A message size in bytes.
cmdline::Option size(const QString &name, const QString &description, qint64 *target)
{
    return {name, QStringLiteral("N"), description, QStringLiteral("100000"), [name, target](const QString &v) {
                bool ok = false;
                const qint64 n = v.toLongLong(&ok);
                if (!ok || n < 0 || n > 0xffffffffLL)
                    return QStringLiteral("--%1 takes a number of bytes, not '%2'").arg(name, v);
                *target = n;
                return QString();
            }};
}

// Which messages the server selects before anything is downloaded.
QList<cmdline::Option> scopeOptions(State *s)
{
    SearchFilter &f = s->o.filter;
    return {
        date(QStringLiteral("since"), QStringLiteral("only messages dated on or after DATE"), &f.since),
        date(QStringLiteral("before"), QStringLiteral("only messages dated before DATE"), &f.before),
        text(QStringLiteral("from"), QStringLiteral("TEXT"), QStringLiteral("only messages whose From contains TEXT"),
             QStringLiteral("billing@"), &f.from, true),
        text(QStringLiteral("to"), QStringLiteral("TEXT"), QStringLiteral("only messages whose To contains TEXT"),
             QStringLiteral("me@example.org"), &f.to, true),
        text(QStringLiteral("subject"), QStringLiteral("TEXT"),
             QStringLiteral("only messages whose subject contains TEXT"), QStringLiteral("invoice"), &f.subject, true),
        size(QStringLiteral("larger"), QStringLiteral("only messages of more than N bytes"), &f.larger),
        size(QStringLiteral("smaller"), QStringLiteral("only messages of fewer than N bytes"), &f.smaller),
        flag(QStringLiteral("unseen"), QStringLiteral("only messages not yet read"), &f.unseen),
        text(QStringLiteral("search"), QStringLiteral("KEYS"),
             QStringLiteral("only messages that IMAP search keys KEYS select (added to\nthe options above)"),
             QStringLiteral("'OR FLAGGED ANSWERED'"), &f.raw, true),
    };
}

// --folder: may be given again, the folders walked in that order.
cmdline::Option folderOption(State *s)
{
    return {QStringLiteral("folder"), QStringLiteral("NAME"),
            QStringLiteral("the folder to read: Inbox (default), Drafts, Sent, Junk,\nDeleted or any folder name (may "
                           "be given again: the folders\nare read one after another into the same output)"),
            QStringLiteral("Sent"), [s](const QString &v) {
                if (v.isEmpty())
                    return QStringLiteral("option --folder needs a value");
                if (s->o.folders.isEmpty())
                    s->o.folder = v;
                s->o.folders << v;
                return QString();
            }};
}

// Which folders, and which of their mail: all folders, the list of them, only new mail.
QList<cmdline::Option> folderOptions(State *s)
{
    Options &o = s->o;
    return {
        flag(QStringLiteral("all-folders"),
             QStringLiteral("read every folder of the server, except those marked as\ntrash or junk (unless named "
                            "with --folder)"),
             &o.allFolders),
        flag(QStringLiteral("list-folders"),
             QStringLiteral("print the server's folders, one a line: name, special use\nand message count separated "
                            "by tabs, and read nothing"),
             &o.listFolders),
        flag(QStringLiteral("new-only"),
             QStringLiteral("read only the mail that came since the last --new-only run\n(per account, server and "
                            "folder; the rows of a run count once\nthe output is written)"),
             &o.newOnly),
        text(QStringLiteral("label"), QStringLiteral("NAME"),
             QStringLiteral("Gmail only: the messages with label NAME, from \"[Gmail]/All\nMail\" unless --folder "
                            "is given"),
             QStringLiteral("Receipts"), &o.filter.gmailLabel, true),
        flag(QStringLiteral("reset-new-only"),
             QStringLiteral("forget what --new-only runs have read of the folders (with\n--new-only: then read them "
                            "whole)"),
             &o.resetNewOnly),
    };
}

// The folder options fit each other.
QString checkFolderOptions(State &s)
{
    Options &o = s.o;
    if (!o.filter.gmailLabel.isEmpty() && o.folders.isEmpty())
        o.folder = QStringLiteral("[Gmail]/All Mail");
    if (!o.filter.gmailLabel.isEmpty() && o.allFolders)
        return QStringLiteral("--label reads \"[Gmail]/All Mail\" or the --folder given, not --all-folders");
    if (o.listFolders && (o.allFolders || o.newOnly || o.resetNewOnly || !o.folders.isEmpty()))
        return QStringLiteral("--list-folders reads no folder: it goes without --folder, --all-folders, "
                              "--new-only and --reset-new-only");
    return {};
}

QList<cmdline::Option> outputOptions(State *s)
{
    Options &o = s->o;
    return {
        noted(s, choice(QStringLiteral("format"), QStringLiteral("FORMAT"),
                        QStringLiteral("how the rows are written: one of the formats below\n(default text, csv "
                                       "with --template)"),
                        QStringLiteral("csv"), formats(), &o.format)),
        text(QStringLiteral("output"), QStringLiteral("FILE"),
             QStringLiteral(
                 "write the rows to FILE (replaced as a whole; with --watch\nappended to) instead of standard output"),
             QStringLiteral("rows.csv"), &o.output, true),
        text(QStringLiteral("error-log"), QStringLiteral("FILE"),
             QStringLiteral("append the fetch log to FILE instead of errorlog.txt"), QStringLiteral("fetch.log"),
             &o.errorLog, true),
        flag(QStringLiteral("raw-cells"),
             QStringLiteral(
                 "csv, xlsx: write cells that begin with =, +, -, @, a tab or\na CR as they are (by default a "
                 "' goes before them, so that\na spreadsheet does not take them for formulas)"),
             &o.rawCells),
        flag(QStringLiteral("progress"), QStringLiteral("show \"Reading mail n of m\" on standard error"), &o.progress),
    };
}

QList<cmdline::Option> attachmentOptions(State *s)
{
    Options &o = s->o;
    return {
        flag(QStringLiteral("attachments"),
             QStringLiteral("the rules also search the text of each attachment (text,\nCSV, HTML, PDF, attached "
                            "messages), after the body,\neach introduced by a line \"--- attachment NAME ---\""),
             &o.attachments),
        text(QStringLiteral("save-attachments"), QStringLiteral("DIR"),
             QStringLiteral("write the attachments of every message read into DIR as\nUID-NAME (safe names, "
                            "existing files never replaced)"),
             QStringLiteral("invoices"), &o.saveAttachments, true),
        {QStringLiteral("attachment-glob"), QStringLiteral("PATTERN"),
         QStringLiteral("save only attachments whose name matches PATTERN (may be\ngiven again; letter case does "
                        "not matter)"),
         QStringLiteral("'*.pdf'"),
         [&o](const QString &v) {
             if (v.trimmed().isEmpty())
                 return QStringLiteral("option --attachment-glob needs a value");
             o.attachmentGlobs << v;
             return QString();
         }},
    };
}

// A whole number of at least 1 (seconds, messages).
template <class Number>
cmdline::Option count(State *s, const QString &name, const QString &valueName, const QString &description,
                      const QString &example, Number *target)
{
    return noted(s, {name, valueName, description, example, [name, valueName, target](const QString &v) {
                         bool ok = false;
                         const qint64 n = v.toLongLong(&ok);
                         if (!ok || n < 1 || n > std::numeric_limits<Number>::max() / 1000)
                             return QStringLiteral("--%1 takes a whole number of %2 from 1 on, not '%3'")
                                 .arg(name, valueName.toLower(), v);
                         *target = Number(n);
                         return QString();
                     }});
}

QList<cmdline::Option> watchOptions(State *s)
{
    Options &o = s->o;
    return {
        flag(QStringLiteral("watch"),
             QStringLiteral("after the folder, stay signed in and read each new message\nas it arrives (IDLE, "
                            "else --poll), its rows written at once;\nends with SIGTERM (exit 0) or Ctrl+C (130); "
                            "--output\nis then appended to, message by message"),
             &o.watch),
        count(s, QStringLiteral("poll"), QStringLiteral("SECONDS"),
              QStringLiteral("--watch on a server without IDLE: ask for new mail every\nSECONDS (default 60); a "
                             "server with IDLE tells at once"),
              QStringLiteral("30"), &o.pollSeconds),
        count(s, QStringLiteral("watch-exit-after"), QStringLiteral("N"),
              QStringLiteral("--watch: end (exit 0) once N new messages have been read"), QStringLiteral("10"),
              &o.watchExitAfter),
        count(s, QStringLiteral("watch-timeout"), QStringLiteral("SECONDS"),
              QStringLiteral("--watch: end (exit 0) SECONDS after the watch began"), QStringLiteral("3600"),
              &o.watchTimeout),
    };
}

// The watch options go with --watch, and --watch with a format written as it goes.
QString checkWatchOptions(const State &s)
{
    const Options &o = s.o;
    if (!o.watch) {
        for (const char *name : {"poll", "watch-exit-after", "watch-timeout"})
            if (s.named.contains(QLatin1String(name)))
                return QStringLiteral("--%1 is used only with --watch").arg(QLatin1String(name));
        return {};
    }
    if (o.allFolders || o.folders.size() > 1)
        return QStringLiteral("--watch watches one folder: give it with one --folder, without --all-folders");
    switch (o.format) {
    case Format::Xlsx:
        return QStringLiteral("--format xlsx cannot be used with --watch: a workbook is written whole when the run "
                              "ends, and a watch adds each message's rows as it arrives (use csv or jsonl)");
    case Format::Comma:
    case Format::Space:
    case Format::Tab:
        return QStringLiteral("--format comma, space and tab are written when the run ends, and a watch adds each "
                              "message's rows as it arrives: with --watch use text, csv or jsonl");
    default: return {};
    }
}

// The local copy of decoded mail that re-runs over a folder read from.
QList<cmdline::Option> cacheOptions(State *s)
{
    Options &o = s->o;
    return {
        flag(QStringLiteral("no-cache"),
             QStringLiteral("fetch every message, leaving the local mail copy alone\n(also when the environment "
                            "variable VC_NO_CACHE is set,\nto anything but 0)"),
             &o.noCache),
        text(QStringLiteral("cache-dir"), QStringLiteral("DIR"),
             QStringLiteral("keep the local mail copy in DIR instead of the per-user\ncache folder"),
             QStringLiteral("~/mail-copy"), &o.cacheDir, true),
        flag(QStringLiteral("forget-cache"),
             QStringLiteral("drop what the local mail copy keeps of --user on this\nserver, then end (no "
                            "sign-in, nothing read)"),
             &o.forgetCache),
        flag(QStringLiteral("offline"),
             QStringLiteral("work from the local mail copy alone, without the server: each\nfolder as its last "
                            "complete read found it (no password or\nsign-in; new mail is not seen); the folders "
                            "are those\nit has a complete read of"),
             &o.offline),
    };
}

QString checkCacheOptions(const Options &o)
{
    if (o.offline) {
        if (o.noCache)
            return QStringLiteral("--offline reads the local mail copy, which --no-cache leaves alone");
        if (mailCacheOffInEnvironment())
            return QStringLiteral("--offline reads the local mail copy, which VC_NO_CACHE in the environment turns "
                                  "off");
        if (o.forgetCache)
            return QStringLiteral("--offline and --forget-cache exclude each other");
        if (o.newOnly || o.resetNewOnly || o.watch)
            return QStringLiteral("--new-only, --reset-new-only and --watch need the server; --offline goes "
                                  "without it");
        if (!o.filter.isEmpty())
            return QStringLiteral("the server selects the messages of a filter (--since, --from, --label, "
                                  "--search, ...); --offline goes without it");
        if (!o.saveAttachments.isEmpty())
            return QStringLiteral("--save-attachments needs the attachments' bytes, which the local mail copy does "
                                  "not keep; --offline goes without the server");
    }
    if (o.noCache && !o.cacheDir.isEmpty())
        return QStringLiteral("--no-cache and --cache-dir exclude each other");
    if (o.noCache && o.forgetCache)
        return QStringLiteral("--no-cache and --forget-cache exclude each other");
    return {};
}

QList<cmdline::Option> recordOptions(State *s)
{
    Options &o = s->o;
    return {
        text(QStringLiteral("template"), QStringLiteral("FILE"),
             QStringLiteral("extract the fields of a template (a JSON file, or the\nname of one that comes with the "
                            "program: addresses,\nmentioned-addresses, orders, shipping) instead of a rule:\none row "
                            "per message or per match, a column per field"),
             QStringLiteral("orders.json"), &o.templateFile, true),
        flag(QStringLiteral("with-source"),
             QStringLiteral("csv, jsonl, xlsx: each rule row with where it came from:\ntext, folder, uid, message_id, "
                            "date, from (csv with a\nheader row)"),
             &o.withSource),
        flag(QStringLiteral("excel"),
             QStringLiteral("csv: begin with a UTF-8 byte-order mark, so that\nspreadsheet programs read accents "
                            "right"),
             &o.excel),
    };
}

// The record options fit each other and the format; a template's format is
// csv unless one is given.
QString checkRecordOptions(State &s)
{
    Options &o = s.o;
    o.formatGiven = s.named.contains(QStringLiteral("format"));
    if (!o.templateFile.isEmpty()) {
        if (s.named.contains(QStringLiteral("rule")))
            return QStringLiteral("--template and --rule exclude each other");
        if (o.withSource)
            return QStringLiteral("--with-source is used only with --rule (a template names its own columns, "
                                  "e.g. the builtins folder, uid and message_id)");
        if (!o.formatGiven)
            o.format = Format::Csv;
    }
    const bool records = !o.templateFile.isEmpty() || o.withSource;
    if (records && o.format != Format::Csv && o.format != Format::Jsonl && o.format != Format::Xlsx)
        return QStringLiteral("--%1 writes --format csv, jsonl or xlsx")
            .arg(o.withSource ? QStringLiteral("with-source") : QStringLiteral("template"));
    if (o.rawCells && o.format != Format::Csv && o.format != Format::Xlsx)
        return QStringLiteral("--raw-cells is used only with --format csv or xlsx");
    if (o.excel && o.format != Format::Csv)
        return QStringLiteral("--excel is used only with --format csv");
    return {};
}

cmdline::Program program(State *s)
{
    Options &o = s->o;
    QList<cmdline::Option> rows = {
        // Refused whatever it holds: a password on the command line shows in
        // the process list and the shell's history.
        {QStringLiteral("password"), QStringLiteral("PASSWORD"), QString(), QString(),
         [](const QString &) {
             return QStringLiteral("the password is never taken from the command line; "
                                   "use --password-env, --password-file or standard input");
         },
         true},
        text(QStringLiteral("user"), QStringLiteral("NAME"), QStringLiteral("account name used for the login"),
             QStringLiteral("me@example.org"), &o.user),
        text(QStringLiteral("password-env"), QStringLiteral("VAR"),
             QStringLiteral("take the password from environment variable VAR"), QStringLiteral("VC_PASSWORD"),
             &o.passwordEnv),
        text(QStringLiteral("password-file"), QStringLiteral("FILE"),
             QStringLiteral("take the password from the first line of FILE\n(without either, one line is read "
                            "from standard input)"),
             QStringLiteral("password.txt"), &o.passwordFile),
    };
    rows += connectionOptions(o.config);
    rows += ruleOptions(s);
    rows += scopeOptions(s);
    rows += folderOptions(s);
    rows += outputOptions(s);
    rows += attachmentOptions(s);
    rows += recordOptions(s);
    rows += cacheOptions(s);
    rows += watchOptions(s);
    return {
        QLatin1String(kProgramName),
        QStringLiteral("--user NAME [OPTION]..."),
        QStringLiteral("Reads every message of one mail folder over IMAP (TLS) and writes the rows that\n"
                       "the rule extracts, as the window of vellumcast lists them. Each fetch adds a\n"
                       "record to the fetch log; \"Done.\" and other messages go to standard error."),
        rows,
        {{QStringLiteral("Rules"), namesHelp(rules())},
         {QStringLiteral("Formats"), namesHelp(formats())},
         {QStringLiteral("Exit status"),
          {QStringLiteral("0    completed"), QStringLiteral("1    failure (a message, the output)"),
           QStringLiteral("2    usage error"),
           QStringLiteral("3    connect or login failed (a refused or abandoned sign-in included)"),
           QStringLiteral("4    the folder could not be selected"),
           QStringLiteral("130  interrupted (the rows so far are written)")}}},
        {{QStringLiteral("Every message's sender, date, subject and body lines, as CSV"),
          QStringLiteral("vellumcast-cli --user me@example.org --password-file pw.txt --format csv --output "
                         "rows.csv")},
         {QStringLiteral("The link of every unsubscribe line in Junk, with progress"),
          QStringLiteral("vellumcast-cli --user me@example.org --folder Junk --rule between --start 'remove=' "
                         "--end '\"' --progress")},
         {QStringLiteral("The total line of every PDF invoice in Invoices, the PDFs saved in invoices/"),
          QStringLiteral("vellumcast-cli --user me@example.org --folder Invoices --attachments --rule containing "
                         "--text Total --save-attachments invoices --attachment-glob '*.pdf'")},
         {QStringLiteral("The total line of every PDF invoice that arrives in Invoices, as it arrives"),
          QStringLiteral("vellumcast-cli --user me@example.org --folder Invoices --watch --attachments --rule "
                         "containing --text Total --with-source --format jsonl --output totals.jsonl")},
         {QStringLiteral("The number, date, address and total of each order mail, as a workbook"),
          QStringLiteral("vellumcast-cli --user me@example.org --template orders --format xlsx --output orders.xlsx")},
         {QStringLiteral("An Outlook.com account: OAuth 2.0 with a code to enter in any browser"),
          QStringLiteral("VC_OAUTH_CLIENT_ID=<your app's client ID> vellumcast-cli --user me@outlook.com")}},
    };
}

// The rule parameters given fit the rule, and the rule has the ones it needs.
QString checkRuleParameters(const State &s)
{
    const NamedRule *rule = nullptr;
    for (const NamedRule &r : rules())
        if (r.value == s.o.rule.rule)
            rule = &r;
    for (const QString &given : s.given) {
        if (rule->parameters.contains(given))
            continue;
        QStringList users;
        for (const NamedRule &r : rules())
            if (r.parameters.contains(given))
                users << r.name;
        return QStringLiteral("--%1 is used only with --rule %2").arg(given, users.join(QStringLiteral(" or ")));
    }
    QStringList missing;
    for (const QStringList &group : rule->needs) {
        bool met = false;
        for (const QString &name : group)
            met = met || s.given.contains(name);
        if (!met)
            missing << QStringLiteral("--") + group.join(QStringLiteral(" or --"));
    }
    if (!missing.isEmpty())
        return QStringLiteral("--rule %1 needs %2").arg(rule->name, missing.join(QStringLiteral(" and ")));
    if (s.o.rule.rule == Rule::LineNumber && !rules::isLineNumberEntry(s.o.rule.lineNumbers))
        return QStringLiteral("Entry must be number or numbers separated by commas.");
    return {};
}

// Decides how --user signs in and where the program connects.
QString decideSignIn(Options &o)
{
    const bool defaultServer = o.config.host == product::kImapHost;
    o.plan = vc::planSignIn(o.config.signIn, o.config.host, defaultServer, o.user, DefaultMethod::ByServer);
    o.config.host = o.plan.host;
    if (o.plan.method == SignInMethod::OAuth2 && o.plan.provider == QLatin1String("custom")
        && o.config.signIn.authority.isEmpty() && o.config.signIn.tokenCommand.isEmpty())
        return QStringLiteral("--oauth-provider custom needs --oauth-authority (or use --oauth-token-command)");
    return {};
}

}  // namespace

QString usageText()
{
    State s;
    return cmdline::helpText(program(&s));
}

ParseResult parseArguments(const QStringList &args)
{
    State s;
    const cmdline::Parsed parsed = cmdline::parse(program(&s), QStringList{QLatin1String(kProgramName)} + args);
    ParseResult r;
    r.error = parsed.error;
    if (r.error.isEmpty() && !parsed.help && !parsed.version) {
        if (s.o.user.isEmpty())
            r.error = QStringLiteral("--user is required");
        else if (!s.o.passwordEnv.isEmpty() && !s.o.passwordFile.isEmpty())
            r.error = QStringLiteral("--password-env and --password-file exclude each other");
        else if (!s.o.attachmentGlobs.isEmpty() && s.o.saveAttachments.isEmpty())
            r.error = QStringLiteral("--attachment-glob is used only with --save-attachments");
        else
            r.error = checkRecordOptions(s);
        if (r.error.isEmpty())
            r.error = checkFolderOptions(s);
        if (r.error.isEmpty())
            r.error = checkCacheOptions(s.o);
        if (r.error.isEmpty())
            r.error = checkRuleParameters(s);
        if (r.error.isEmpty())
            r.error = checkWatchOptions(s);
        if (r.error.isEmpty()) {
            if (const ImapResult<std::vector<SearchKey>> keys = searchKeys(s.o.filter); !keys)
                r.error = keys.fault().reason;
        }
        if (r.error.isEmpty())
            r.error = decideSignIn(s.o);
    }
    r.options = s.o;
    r.options.help = parsed.help;
    r.options.version = parsed.version;
    return r;
}

std::optional<QString> loadTemplate(Options &options)
{
    if (options.templateFile.isEmpty())
        return std::nullopt;
    OpenedTemplate opened = openTemplate(options.templateFile);
    if (!opened.ok())
        return opened.error;
    options.compiledTemplate = std::move(opened.compiled);
    return std::nullopt;
}

bool writesRecords(const Options &options)
{
    return !options.templateFile.isEmpty() || options.withSource || options.format == Format::Xlsx;
}

std::optional<QString> loadItemFiles(Options &options)
{
    for (const QString &file : options.itemFiles) {
        try {
            options.rule.textSet.append(readItemFile(file));
        } catch (const AppError &e) {
            return QStringLiteral("cannot read items file '%1': %2").arg(file, e.description());
        }
    }
    return std::nullopt;
}

}  // namespace vc::cli
