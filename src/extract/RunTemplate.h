#pragma once
#include "mail/MimeDecode.h"
#include "rules/Template.h"

#include <QString>
#include <QStringList>

#include <optional>

// A template as a run opens it: from a file, or one of the templates that come
// with the program by name ("orders"), compiled, and what the decoder must
// give each message for it.
namespace vc {

// The folder of the templates that come with the program: share/vellumcast/
// templates beside the program's bin folder (installed, and in a build).
QString builtinTemplateFolder();
// Their names ("addresses", "orders", ...), sorted.
QStringList builtinTemplateNames();

struct OpenedTemplate {
    std::optional<records::Template> compiled;  // set when it can be used
    QString path;                               // the file read
    QString error;                              // why not: the file and each problem, one a line
    bool ok() const { return compiled.has_value(); }
};

// `fileOrName` is a file when one is there (or the text names a folder or ends
// in ".json"), else the name of a template that comes with the program.
OpenedTemplate openTemplate(const QString &fileOrName);

// What the decoder must give each message for `t`: every header field for a
// `header` field, the attachments' names for the attachment_names builtin,
// their text for a field that searches them.
DecodeNeeds decodeNeedsOf(const records::Template &t);

}  // namespace vc
