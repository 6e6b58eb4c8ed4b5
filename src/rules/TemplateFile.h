#pragma once
#include "rules/TemplateSpec.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The template file: JSON, read and written here for both programs.
//
//   {"version": 1, "rows": "message", "fields": [
//     {"name": "order", "between": {"start": "Order #", "end": "\n"}},
//     {"name": "total", "regex": "Total:\\s*\\$?([0-9][0-9.,]*)"},
//     {"name": "emails", "pattern": "email", "all": true, "separator": "; "}]}
//
// Top level: version (1), name, description, rows ("message" or "match"),
// repeat, skip_empty, unique, fields. A field: name, one of between ({start,
// end}), regex, line (a label, or {label, whole}), header, builtin, pattern,
// and the options case_insensitive, trim, collapse_whitespace, default, all,
// separator, type ("text", "number", "date"), source ("body",
// "attachments"), description, as far as the field's kind takes them.
namespace vc::records {

struct TemplateRead {
    TemplateSpec spec;
    QList<TemplateProblem> problems;  // empty: `spec` is what the file says
    bool ok() const { return problems.isEmpty(); }
};

// Reads a template from its JSON text. Every key is checked: bad JSON (with
// where), a key a field of that kind does not take, a value of the wrong type
// or out of its list, a field without a name or a kind. What only compiling
// can tell (expressions, names from named groups, the repeat field) is
// compileTemplate()'s.
TemplateRead parseTemplate(const QByteArray &json);

// The template as JSON, options at their defaults left out; parseTemplate()
// gives `spec` back.
QByteArray templateJson(const TemplateSpec &spec);

// The file at `path` read and parsed; a file that cannot be read is one problem.
TemplateRead readTemplateFile(const QString &path);

// Writes templateJson(spec) to `path`, replacing the file only as a whole.
// Returns an empty text, or why the file could not be written.
QString writeTemplateFile(const QString &path, const TemplateSpec &spec);

}  // namespace vc::records
