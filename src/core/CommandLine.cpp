#include "core/CommandLine.h"

#include <QCommandLineParser>

namespace vc::cmdline {

namespace {

constexpr int kDescriptionColumn = 26;

QCommandLineOption toQt(const Option &o)
{
    return o.valueName.isEmpty() ? QCommandLineOption(o.name, o.description)
                                 : QCommandLineOption(o.name, o.description, o.valueName);
}

// "  --name VALUE" padded to the description column; a long one gets the
// description on the next line.
QString optionLine(const QString &names, const QString &valueName, QString description)
{
    QString head = QStringLiteral("  ") + names;
    if (!valueName.isEmpty())
        head += QLatin1Char(' ') + valueName;
    const QString indent(kDescriptionColumn, QLatin1Char(' '));
    QString text =
        head.size() < kDescriptionColumn ? head.leftJustified(kDescriptionColumn) : head + QLatin1Char('\n') + indent;
    text += description.replace(QLatin1Char('\n'), QLatin1Char('\n') + indent);
    return text + QLatin1Char('\n');
}

}  // namespace

Parsed parse(const Program &program, const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOption(QCommandLineOption(QStringList{QStringLiteral("h"), kHelp}));
    parser.addOption(QCommandLineOption(kVersion));
    for (const Option &o : program.options)
        parser.addOption(toQt(o));

    Parsed result;
    if (!parser.parse(arguments)) {
        result.error = parser.errorText();
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.error = QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first());
        return result;
    }
    result.help = parser.isSet(kHelp);
    result.version = parser.isSet(kVersion);
    if (result.help || result.version)
        return result;
    for (const Option &o : program.options) {
        if (!parser.isSet(o.name))
            continue;
        const QStringList values = o.valueName.isEmpty() ? QStringList{QString()} : parser.values(o.name);
        for (const QString &value : values) {
            const QString refused = o.apply(value);
            if (!refused.isEmpty()) {
                result.error = refused;
                return result;
            }
        }
    }
    return result;
}

QString helpText(const Program &program)
{
    QString text = QStringLiteral("Usage: ") + program.name + QLatin1Char(' ') + program.synopsis + QLatin1Char('\n')
                   + program.description + QStringLiteral("\n\nOptions:\n");
    for (const Option &o : program.options) {
        if (o.hidden)
            continue;
        QString description = o.description;
        if (!o.example.isEmpty())
            description += QStringLiteral("\n(e.g. --%1 %2)").arg(o.name, o.example);
        text += optionLine(QStringLiteral("--") + o.name, o.valueName, description);
    }
    text += optionLine(QStringLiteral("-h, --help"), QString(), QStringLiteral("show this help and exit"));
    text += optionLine(QStringLiteral("--version"), QString(), QStringLiteral("show the version and exit"));
    for (const Section &section : program.sections) {
        text += QLatin1Char('\n') + section.heading + QStringLiteral(":\n");
        for (const QString &line : section.lines)
            text += QStringLiteral("  ") + line + QLatin1Char('\n');
    }
    if (!program.examples.isEmpty())
        text += QStringLiteral("\nExamples:\n");
    for (const Example &e : program.examples)
        text += QStringLiteral("  ") + e.what + QStringLiteral(":\n    $ ") + e.command + QLatin1Char('\n');
    return text;
}

}  // namespace vc::cmdline
