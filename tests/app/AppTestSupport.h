#pragma once
#include "FakeImap.h"
#include "ScriptedDialogs.h"
#include "app/Form1.h"
#include "app/SettingsStore.h"
#include "core/Product.h"

#include <QFile>
#include <QMap>
#include <QSettings>
#include <QString>

#include <memory>

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

// The values of the section as the file on disk holds them right now.
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

// A main window on a fake component; `fake` is the instance start-up created.
struct Window {
    std::unique_ptr<Form1> form;
    FakeImap *fake = nullptr;

    explicit Window(std::function<void(FakeImap &)> setUp = {})
    {
        Form1::setComponentFactory([this, setUp](const ConnectionConfig &) {
            auto f = std::make_unique<FakeImap>();
            if (setUp)
                setUp(*f);
            fake = f.get();
            return std::unique_ptr<ImapComponent>(std::move(f));
        });
        Form1Options o;
        o.onlineCheck = false;
        form = std::make_unique<Form1>(o);
    }
    ~Window() { Form1::setComponentFactory({}); }
    Form1 *operator->() const { return form.get(); }
    Form1 &operator*() const { return *form; }
};

}  // namespace vc::test
