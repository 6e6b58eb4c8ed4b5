#pragma once
#include "core/MailRecord.h"
#include "rules/Patterns.h"
#include "rules/TemplateSpec.h"

#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringMatcher>

// One field of a compiled template and how it finds its values in a message.
// Internal to the template engine (Template, RecordRows).
namespace vc::records {

// Where a value was found: in the plain text (source 0), in attachment
// source - 1's text, or nowhere that can be shown (-1: a header or builtin).
struct Span {
    int source = -1;
    qsizetype start = 0;
    qsizetype length = 0;
    bool operator==(const Span &) const = default;
};

// What one field found in one message: `hits` matches, each with `width`
// values (one per column of the field) in `values`, hit by hit, and where
// each hit was found.
struct FieldHits {
    int width = 1;
    int hits = 0;
    QList<QString> values;
    QList<Span> spans;

    void clear()
    {
        hits = 0;
        values.clear();
        spans.clear();
    }
    const QString &value(int hit, int column) const { return values.at(qsizetype(hit) * width + column); }
};

class CompiledField {
public:
    // Compiles `spec`; false with `problem` set when it cannot be used.
    bool compile(const FieldSpec &spec, QString *problem);

    const FieldSpec &spec() const { return spec_; }
    // The column names this field gives: its own name, or one per named group.
    const QStringList &columnNames() const { return columnNames_; }
    bool isBuiltin() const { return spec_.kind == FieldKind::Builtin; }
    // Several values in one cell (all, or the list of attachment names).
    bool multiValued() const;

    // Collects the field's hits in `m`: the first one, or every one with `all`.
    void collect(const MailRecord &m, bool all, FieldHits &out) const;

private:
    void searchText(QStringView text, int source, bool all, FieldHits &out) const;
    void searchBetween(QStringView text, int source, bool all, FieldHits &out) const;
    void searchRegex(QStringView text, int source, bool all, FieldHits &out) const;
    void searchLine(QStringView text, int source, bool all, FieldHits &out) const;
    void builtinValues(const MailRecord &m, FieldHits &out) const;
    // Adds one hit of one value, when the value is not empty once finished
    // (trimmed, blanks collapsed). Returns whether it was added.
    bool addHit(QStringView value, Span span, FieldHits &out) const;
    QString finish(QStringView value) const;

    FieldSpec spec_;
    QStringList columnNames_;
    QRegularExpression regex_;
    const ReadyPattern *pattern_ = nullptr;
    int valueGroup_ = 0;      // the capture group holding the value (1 when there is one, else 0)
    QList<int> namedGroups_;  // group numbers of the named groups, one column each
    QStringMatcher start_;    // between: the start marker; line: the label
    QStringMatcher end_;      // between: the end marker
    bool endOfLine_ = false;  // between: the value ends at the end of the line
    Builtin builtin_ = Builtin::Folder;
};

// The message's date as ISO 8601 with its own offset ("2025-01-06T08:12:00+01:00").
QString isoDate(const QDateTime &date);

// The value of a built-in that has one value per message (all but
// AttachmentNames); empty where the message has none (a UID of 0).
QString builtinValue(Builtin b, const MailRecord &m);

}  // namespace vc::records
