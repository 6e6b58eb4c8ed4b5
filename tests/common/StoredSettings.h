#pragma once
// The settings store as a user's earlier runs left it, and as the file holds
// it now. For tests that link the windows (vc_app).
#include "app/SettingsStore.h"
#include "core/Product.h"

#include <QFile>
#include <QMap>
#include <QSettings>
#include <QString>

#include <optional>

namespace vc::test {

// Replaces the whole stored section by `values`, as if the user had run the
// program before with these entries.
inline void storeOnly(const QMap<QString, QString> &values)
{
    QSettings s(settings::filePath(), QSettings::IniFormat);
    s.remove(product::kSettingsSection);
    for (auto it = values.begin(); it != values.end(); ++it)
        s.setValue(product::kSettingsSection + QLatin1Char('/') + it.key(), it.value());
    s.sync();
}

// The values of the section as the lines of the file on disk hold them right now.
inline QMap<QString, QString> fileValues()
{
    QMap<QString, QString> out;
    QFile f(settings::filePath());
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return out;
    bool inSection = false;
    const QString header = QLatin1Char('[') + product::kSettingsSection + QLatin1Char(']');
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('[')))
            inSection = line == header;
        else if (inSection && line.contains(QLatin1Char('=')))
            out.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1));
    }
    return out;
}

// One stored text as the file holds it now, or nothing when it is absent.
inline std::optional<QString> storedValue(const settings::Key &key)
{
    QSettings s(settings::filePath(), QSettings::IniFormat);
    const QVariant v = s.value(product::kSettingsSection + QLatin1Char('/') + key.name);
    if (!v.isValid())
        return std::nullopt;
    return v.toString();
}

}  // namespace vc::test
