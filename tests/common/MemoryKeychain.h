#pragma once
#include "mail/signin/TokenStore.h"

#include <QMap>
#include <QString>

namespace vc::test {

// A keychain in a map, for tests that must not touch the system's.
class MemoryKeychain : public TokenStore {
public:
    QMap<QString, QString> entries;
    int loads = 0, saves = 0;

    QString load(const QString &key) override
    {
        ++loads;
        return entries.value(key);
    }
    void save(const QString &key, const QString &token) override
    {
        ++saves;
        entries[key] = token;
    }
    void remove(const QString &key) override { entries.remove(key); }
};

}  // namespace vc::test
