#pragma once
#include <QByteArray>
#include <QString>
#include <QStringView>

namespace vc::json {

// Appends `text` to `out` as a JSON string literal in UTF-8: quotes,
// backslashes and control characters escaped (\n, \t, \u001b), a lone
// surrogate kept as its \u escape; everything else as it is.
void appendString(QByteArray &out, QStringView text);

// The literal alone.
QByteArray stringLiteral(QStringView text);

}  // namespace vc::json
