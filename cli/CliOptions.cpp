#include "CliOptions.h"

#include "core/AppError.h"
#include "extract/ItemFiles.h"
#include "output/ResultsOutput.h"
#include "rules/Rules.h"

namespace vc::cli {

namespace {

const QString kLinesMessage = QStringLiteral("Entry must be number or numbers separated by commas.");

std::optional<Rule> ruleFromName(const QString &name)
{
    if (name == u"all")
        return Rule::AllEmailData;
    if (name == u"containing")
        return Rule::Containing;
    if (name == u"not-containing")
        return Rule::NotContaining;
    if (name == u"lines")
        return Rule::LineNumber;
    if (name == u"between")
        return Rule::StartsWith;
    if (name == u"text-set")
        return Rule::ContainingList;
    return std::nullopt;
}

std::optional<Format> formatFromName(const QString &name)
{
    if (name == u"text")
        return Format::Text;
    if (name == u"comma")
        return Format::Comma;
    if (name == u"space")
        return Format::Space;
    if (name == u"tab")
        return Format::Tab;
    if (name == u"csv")
        return Format::Csv;
    if (name == u"jsonl")
        return Format::Jsonl;
    return std::nullopt;
}

}  // namespace

QString usageText()
{
    return QStringLiteral("Usage: vellumcast-cli --user NAME [--password-env VAR | --password-file FILE]\n"
                          "                      [--server HOST[:PORT]] [--ca-file FILE] [--folder NAME]\n"
                          "                      [--rule all|containing|not-containing|lines|between|text-set]\n"
                          "                      [--text T] [--lines LIST] [--start X --end Y] [--show-duplicates]\n"
                          "                      [--item T ...] [--items-file F ...]\n"
                          "                      [--format text|comma|space|tab|csv|jsonl] [--output FILE]\n"
                          "                      [--error-log FILE] [--progress] [--help] [--version]\n"
                          "\n"
                          "Reads every message of one mail folder over IMAP (TLS) and writes the rows\n"
                          "that the rule extracts.\n"
                          "\n"
                          "  --user NAME            account name used for the login\n"
                          "  --password-env VAR     take the password from environment variable VAR\n"
                          "  --password-file FILE   take the password from the first line of FILE\n"
                          "                         (otherwise one line is read from standard input)\n"
                          "  --server HOST[:PORT]   IMAP server (default imap-mail.outlook.com:993)\n"
                          "  --ca-file FILE         extra trusted CA certificates (PEM)\n"
                          "  --folder NAME          Inbox (default), Drafts, Sent, Junk, Deleted or any name\n"
                          "  --rule R               all (default): sender, date, subject, body, body lines\n"
                          "                         containing / not-containing: lines with / without --text\n"
                          "                         lines: body lines at the numbers of --lines (e.g. 1,3)\n"
                          "                         between: text between --start and --end, repeatedly\n"
                          "                         text-set: lines containing any --item / --items-file item\n"
                          "  --show-duplicates      between: keep items listed already\n"
                          "  --format F             text (default): one row per line; comma: all rows on one\n"
                          "                         line, each followed by a comma; space / tab: padded\n"
                          "                         columns; csv: one quoted field per row; jsonl: one JSON\n"
                          "                         string per row\n"
                          "  --output FILE          write the rows to FILE (replaced as a whole)\n"
                          "  --error-log FILE       append the fetch log to FILE\n"
                          "  --progress             show \"Reading mail n of m\" on standard error\n"
                          "\n"
                          "Exit status: 0 completed, 1 failure, 2 usage error, 3 connect or login failed,\n"
                          "4 folder could not be selected, 130 interrupted (the rows so far are written).\n");
}

ParseResult parseArguments(const QStringList &args)
{
    ParseResult r;
    Options &o = r.options;
    bool textGiven = false, linesGiven = false, startGiven = false, endGiven = false;
    bool serverGiven = false;

    auto fail = [&](const QString &msg) {
        r.error = msg;
        return r;
    };

    for (qsizetype i = 0; i < args.size(); ++i) {
        QString arg = args.at(i);
        QString inlineValue;
        bool hasInline = false;
        if (arg.startsWith(u"--")) {
            const qsizetype eq = arg.indexOf(u'=');
            if (eq > 0) {
                inlineValue = arg.mid(eq + 1);
                arg = arg.left(eq);
                hasInline = true;
            }
        } else {
            return fail(QStringLiteral("unexpected argument '%1'").arg(arg));
        }

        auto flag = [&](bool &target) -> bool {
            if (hasInline)
                return false;
            target = true;
            return true;
        };
        QString value;
        auto takeValue = [&]() -> bool {
            if (hasInline) {
                value = inlineValue;
                return true;
            }
            if (i + 1 >= args.size())
                return false;
            value = args.at(++i);
            return true;
        };
        auto needsValue = [&]() { return QStringLiteral("option %1 needs a value").arg(arg); };

        if (arg == u"--help") {
            if (!flag(o.help))
                return fail(QStringLiteral("option --help takes no value"));
        } else if (arg == u"--version") {
            if (!flag(o.version))
                return fail(QStringLiteral("option --version takes no value"));
        } else if (arg == u"--progress") {
            if (!flag(o.progress))
                return fail(QStringLiteral("option --progress takes no value"));
        } else if (arg == u"--show-duplicates") {
            if (!flag(o.params.duplicates))
                return fail(QStringLiteral("option --show-duplicates takes no value"));
        } else if (arg == u"--password") {
            return fail(QStringLiteral("the password is never taken from the command line; "
                                       "use --password-env, --password-file or standard input"));
        } else if (!takeValue()) {
            if (arg == u"--user" || arg == u"--password-env" || arg == u"--password-file" || arg == u"--server"
                || arg == u"--ca-file" || arg == u"--folder" || arg == u"--rule" || arg == u"--text"
                || arg == u"--lines" || arg == u"--start" || arg == u"--end" || arg == u"--item"
                || arg == u"--items-file" || arg == u"--format" || arg == u"--output" || arg == u"--error-log")
                return fail(needsValue());
            return fail(QStringLiteral("unknown option '%1'").arg(arg));
        } else if (arg == u"--user") {
            o.user = value;
        } else if (arg == u"--password-env") {
            o.passwordEnv = value;
        } else if (arg == u"--password-file") {
            o.passwordFile = value;
        } else if (arg == u"--server") {
            if (!o.config.setServer(value))
                return fail(QStringLiteral("invalid --server '%1' (expected HOST or HOST:PORT)").arg(value));
            serverGiven = true;
        } else if (arg == u"--ca-file") {
            o.config.caFile = value;
        } else if (arg == u"--folder") {
            o.folder = value;
        } else if (arg == u"--rule") {
            const auto rule = ruleFromName(value);
            if (!rule)
                return fail(QStringLiteral("unknown rule '%1'").arg(value));
            o.rule = *rule;
        } else if (arg == u"--text") {
            o.params.containing = value;
            o.params.notContaining = value;
            textGiven = true;
        } else if (arg == u"--lines") {
            o.params.lines = value;
            linesGiven = true;
        } else if (arg == u"--start") {
            o.params.start = value;
            startGiven = true;
        } else if (arg == u"--end") {
            o.params.end = value;
            endGiven = true;
        } else if (arg == u"--item") {
            o.params.items.append(value);
        } else if (arg == u"--items-file") {
            o.itemFiles.append(value);
        } else if (arg == u"--format") {
            const auto format = formatFromName(value);
            if (!format)
                return fail(QStringLiteral("unknown format '%1'").arg(value));
            o.format = *format;
        } else if (arg == u"--output") {
            if (value.isEmpty())
                return fail(needsValue());
            o.output = value;
        } else if (arg == u"--error-log") {
            if (value.isEmpty())
                return fail(needsValue());
            o.errorLog = value;
        } else {
            return fail(QStringLiteral("unknown option '%1'").arg(arg));
        }
    }
    Q_UNUSED(serverGiven);

    if (o.help || o.version)
        return r;
    if (o.user.isEmpty())
        return fail(QStringLiteral("--user is required"));
    if (!o.passwordEnv.isEmpty() && !o.passwordFile.isEmpty())
        return fail(QStringLiteral("--password-env and --password-file exclude each other"));

    const bool usesText = o.rule == Rule::Containing || o.rule == Rule::NotContaining;
    const bool usesMarkers = o.rule == Rule::StartsWith;
    const bool usesItems = o.rule == Rule::ContainingList;
    if (textGiven && !usesText)
        return fail(QStringLiteral("--text is used only with --rule containing or not-containing"));
    if (linesGiven && o.rule != Rule::LineNumber)
        return fail(QStringLiteral("--lines is used only with --rule lines"));
    if ((startGiven || endGiven || o.params.duplicates) && !usesMarkers)
        return fail(QStringLiteral("--start, --end and --show-duplicates are used only with --rule between"));
    if ((!o.params.items.isEmpty() || !o.itemFiles.isEmpty()) && !usesItems)
        return fail(QStringLiteral("--item and --items-file are used only with --rule text-set"));

    switch (o.rule) {
    case Rule::Containing:
    case Rule::NotContaining:
        if (!textGiven)
            return fail(
                QStringLiteral("--rule %1 needs --text")
                    .arg(o.rule == Rule::Containing ? QStringLiteral("containing") : QStringLiteral("not-containing")));
        break;
    case Rule::LineNumber:
        if (!rules::isLineNumberEntry(o.params.lines))
            return fail(kLinesMessage);
        break;
    case Rule::StartsWith:
        if (!startGiven || !endGiven)
            return fail(QStringLiteral("--rule between needs --start and --end"));
        break;
    case Rule::ContainingList:
        if (o.params.items.isEmpty() && o.itemFiles.isEmpty())
            return fail(QStringLiteral("--rule text-set needs at least one --item or --items-file"));
        break;
    case Rule::AllEmailData: break;
    }
    return r;
}

std::optional<QString> loadItemFiles(Options &options)
{
    for (const QString &file : options.itemFiles) {
        try {
            options.params.items.append(readItemFile(file));
        } catch (const AppError &e) {
            return QStringLiteral("cannot read items file '%1': %2").arg(file, e.description());
        }
    }
    return std::nullopt;
}

QByteArray csvField(const QString &text)
{
    QString quoted = text;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return systemBytes(u'"' + quoted + u'"');
}

QByteArray jsonString(const QString &text)
{
    QByteArray out;
    out.reserve(text.size() + 2);
    out += '"';
    auto escape16 = [&](char16_t u) {
        static const char hex[] = "0123456789abcdef";
        out += "\\u";
        out += hex[(u >> 12) & 0xF];
        out += hex[(u >> 8) & 0xF];
        out += hex[(u >> 4) & 0xF];
        out += hex[u & 0xF];
    };
    const qsizetype n = text.size();
    qsizetype run = 0;  // start of the pending stretch of plain characters
    auto flush = [&](qsizetype end) {
        if (end > run)
            out += QStringView(text).mid(run, end - run).toUtf8();
    };
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text.at(i).unicode();
        const char *esc = nullptr;
        switch (c) {
        case u'"': esc = "\\\""; break;
        case u'\\': esc = "\\\\"; break;
        case u'\b': esc = "\\b"; break;
        case u'\f': esc = "\\f"; break;
        case u'\n': esc = "\\n"; break;
        case u'\r': esc = "\\r"; break;
        case u'\t': esc = "\\t"; break;
        default: break;
        }
        if (esc) {
            flush(i);
            out += esc;
            run = i + 1;
        } else if (c < 0x20) {
            flush(i);
            escape16(c);
            run = i + 1;
        } else if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(text.at(i + 1).unicode())) {
            ++i;  // a valid pair stays in the plain stretch
        } else if (QChar::isSurrogate(c)) {
            flush(i);
            escape16(c);  // a lone surrogate has no UTF-8 form; keep it as an escape
            run = i + 1;
        }
    }
    flush(n);
    out += '"';
    return out;
}

QByteArray formatRows(const QStringList &rows, Format format)
{
    const ResultsRowSource source(rows, true);
    switch (format) {
    case Format::Text: return textFileBytes(source);
    case Format::Comma: return commaFileBytes(source);
    case Format::Space: return systemBytes(spaceLayout(source));
    case Format::Tab: return systemBytes(tabLayout(source));
    case Format::Csv: {
        QByteArray out;
        for (const QString &row : rows)
            out += csvField(row) + "\r\n";
        return out;
    }
    case Format::Jsonl: {
        QByteArray out;
        for (const QString &row : rows)
            out += jsonString(row) + '\n';
        return out;
    }
    }
    return {};
}

}  // namespace vc::cli
