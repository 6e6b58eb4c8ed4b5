#pragma once
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// A program's command line as one table of options: the parser (Qt's
// QCommandLineParser underneath) and the --help text both come from it.
namespace vc::cmdline {

// One option: its long name (without "--"), the name of its value (empty for
// a switch that takes none), its description and an example value for --help,
// and what it does with the value it was given (a switch gets an empty value).
// `apply` returns an error text when it refuses the value. An option given
// several times is applied once per value, in order.
struct Option {
    QString name;
    QString valueName;
    QString description;  // may hold line breaks
    QString example;      // shown as "e.g. --name EXAMPLE"; empty: none
    std::function<QString(const QString &value)> apply;
    bool hidden = false;  // left out of --help
};

// A list that --help shows after the options, under its heading: the names
// an option takes, the exit statuses. Each line is "NAME  description".
struct Section {
    QString heading;
    QStringList lines;
};

// One example of a command line, with what it does.
struct Example {
    QString what;
    QString command;
};

// What --help says about a program besides its options.
struct Program {
    QString name;         // "vellumcast-cli"
    QString synopsis;     // what follows the name on the usage line
    QString description;  // a paragraph or two
    QList<Option> options;
    QList<Section> sections;
    QList<Example> examples;
};

// The switches every program has.
inline const QString kHelp = QStringLiteral("help");
inline const QString kVersion = QStringLiteral("version");

// What parsing found besides the options it applied.
struct Parsed {
    QString error;  // non-empty: a usage error, to be shown as is
    bool help = false;
    bool version = false;
};

// Parses `arguments` (the program name first, as argv gives them) and applies
// the options given, in table order. --help and --version (also -h) are
// recognised for every program; when one is given nothing else is applied.
Parsed parse(const Program &program, const QStringList &arguments);

// The --help text: a usage line, the description, every option with its value
// name, description and example, the sections, then the examples; laid out
// the way help2man reads it (options as tagged paragraphs, sections as
// sub-sections, examples as "$ " lines).
QString helpText(const Program &program);

}  // namespace vc::cmdline
