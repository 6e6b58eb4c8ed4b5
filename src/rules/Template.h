#pragma once
#include "rules/TemplateSpec.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace vc::records {

class CompiledField;
struct TemplateCompile;
struct TemplateSpec;

// One column of a template's rows: a field, or one named group of a
// regular-expression field.
struct Column {
    QString name;
    int field = 0;       // index of its field in the template
    bool multi = false;  // several values in one cell: joined by `separator`, a list in JSON
    QString separator;
    CellType type = CellType::Text;
};

// A template ready to run: every expression compiled once, the columns laid
// out. Cheap to copy (the compiled fields are shared and never change), so the
// window's preview and a run can hold the same one.
class Template {
public:
    const TemplateSpec &spec() const;
    const QList<Column> &columns() const;
    QStringList columnNames() const;

    // What the decoder must give each message for this template: every header
    // field (a `header` field), the attachments' text (a field searching them).
    bool needsHeaders() const;
    bool needsAttachmentText() const;

private:
    friend TemplateCompile compileTemplate(const TemplateSpec &spec);
    friend class RecordRows;
    struct Data;
    std::shared_ptr<const Data> d;
};

struct TemplateCompile {
    std::optional<Template> compiled;  // set when there are no problems
    QList<TemplateProblem> problems;
    bool ok() const { return compiled.has_value(); }
};

// Compiles a template, or says everything that keeps it from being used:
// expressions that do not compile (where, and PCRE2's reason), names given
// twice (named groups included), rows "match" without a repeat field or with
// one that is not a field, a repeat field with rows "message", no fields.
TemplateCompile compileTemplate(const TemplateSpec &spec);

// parseTemplate() then compileTemplate(): the problems of both.
TemplateCompile loadTemplate(const QByteArray &json);

}  // namespace vc::records
