#pragma once
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// A template as its file describes it: an ordered list of named fields, each
// one extraction applied to one message, and how the fields' values become
// rows. Plain data: TemplateFile reads and writes it, compileTemplate() turns
// it into something that runs.
namespace vc::records {

enum class FieldKind { Between, Regex, Line, Header, Builtin, Pattern };

// Where a row came from, and the message's own header values.
enum class Builtin { Folder, Uid, UidValidity, Seq, MessageId, Date, FromAddress, FromName, Subject, AttachmentNames };

// How a spreadsheet cell holds the value; text unless the field says otherwise.
enum class CellType { Text, Number, Date };

// The text a field searches: the message's plain text, or its attachments' text.
enum class FieldSource { Body, Attachments };

// One row per message, or one row per match of the repeat field.
enum class RowsMode { Message, Match };

struct FieldSpec {
    QString name;
    FieldKind kind = FieldKind::Between;
    // The field's argument: between: the start marker; regex: the expression;
    // line: the label; header: the header field's name; builtin and pattern:
    // the builtin's or the pattern's name.
    QString parameter;
    QString end;             // between: the end marker; "\n" is the end of the line
    bool wholeLine = false;  // line: the whole line instead of the rest after the label

    bool caseInsensitive = false;
    bool required = false;  // a message where this field finds nothing gives no row
    bool trim = true;       // blanks and line ends around the value removed
    bool collapseWhitespace = false;
    bool all = false;  // every match, joined by `separator` (a list in JSON output)
    QString separator = QStringLiteral("; ");
    QString defaultText;  // the value when nothing matched
    CellType type = CellType::Text;
    FieldSource source = FieldSource::Body;
    QString description;  // the user's note; kept, never used

    bool operator==(const FieldSpec &) const = default;
};

struct TemplateSpec {
    int version = 1;
    QString name, description;  // the user's; kept, never used
    RowsMode rows = RowsMode::Message;
    QString repeat;          // rows "match": the field (or named group) whose matches make the rows
    bool skipEmpty = false;  // rows "message": no row for a message where no field matched
    bool unique = false;     // the first row of each distinct set of values only
    QStringList uniqueBy;    // unique: the columns whose values count; empty: all of them
    QList<FieldSpec> fields;

    bool operator==(const TemplateSpec &) const = default;
};

// Why a template cannot be used: which field (its index in `fields`, -1 for
// the template as a whole) and what is wrong, in words for the user.
struct TemplateProblem {
    int field = -1;
    QString fieldName;
    QString message;

    // "field 2 \"total\": ..." or the message alone for the whole template.
    QString text() const;
};

// Every problem as one text, one per line.
QString problemsText(const QList<TemplateProblem> &problems);

// The names a template file spells things with, both ways.
QString kindName(FieldKind kind);
std::optional<FieldKind> kindFromName(QStringView name);
QString builtinName(Builtin b);
std::optional<Builtin> builtinFromName(QStringView name);
QStringList builtinNames();
QString cellTypeName(CellType t);
std::optional<CellType> cellTypeFromName(QStringView name);

// The kinds whose fields search a text (and so take case_insensitive, source and all).
bool searchesText(FieldKind kind);

}  // namespace vc::records
