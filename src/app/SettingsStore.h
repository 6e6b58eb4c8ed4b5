#pragma once
#include <QString>

namespace vc {

// The per-user settings store: application "Quillmark", section "Vellumcast",
// then the value name. Every value is a text. The file (INI, user scope) holds
// the password in plain text, so it is created with mode 0600 and kept so; each
// write reaches the file at once.
namespace settings {

void Save(const QString &name, const QString &text);
// The stored text, or `defaultText` when the value is absent.
QString Read(const QString &name, const QString &defaultText = QString());
// The file behind the store (for tests and the README).
QString filePath();

}  // namespace settings
}  // namespace vc
