// The settings store: the key table's defaults and readings, and a store
// kept in a file of the caller's choosing (--settings FILE).
#include "AppTestSupport.h"
#include "TestFiles.h"
#include "core/AppError.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <QDir>

#include <sys/stat.h>
#include <unistd.h>

using namespace vc;
using namespace vc::test;

class TestSettingsStore : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { storeOnly({}); }

    // Nothing stored: every value reads as its default.
    void absentValuesReadAsTheirDefaults()
    {
        using namespace settings;
        QCOMPARE(readText(key::User), QString());
        QCOMPARE(readText(key::Password), QString());
        QCOMPARE(readInt16(key::StayConnected), 0);
        QCOMPARE(readInt16(key::AutoConnect), 0);
        QCOMPARE(readInt16(key::Combo1), 0);
        QVERIFY(readBool(key::Option3));
        for (const Key *k : {&key::Option5, &key::Option6, &key::Option7, &key::Option9})
            QVERIFY2(!readBool(*k), qPrintable(k->name));
        QCOMPARE(readText(key::TextSet), QString());
        QVERIFY(!storedValue(key::Combo1));  // reading wrote nothing
    }

    void readingsConvertTheStoredText_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");  // -1000: refused with the error below
        QTest::addColumn<int>("error");
        QTest::newRow("index") << "Combo1"
                               << " 3 " << 3 << 0;
        QTest::newRow("half rounds to even") << "Combo1"
                                             << "2.5" << 2 << 0;
        QTest::newRow("word") << "Combo1"
                              << "abc" << -1000 << int(err::TypeMismatch);
        QTest::newRow("too large") << "AutoConnect"
                                   << "40000" << -1000 << int(err::Overflow);
        QTest::newRow("option as number") << "Option6"
                                          << "1" << 1 << 0;
        QTest::newRow("option as text") << "Option6"
                                        << "fALSE" << 0 << 0;
        QTest::newRow("option word") << "Option6"
                                     << "maybe" << -1000 << int(err::TypeMismatch);
    }
    void readingsConvertTheStoredText()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(int, value);
        QFETCH(int, error);
        storeOnly({{name, text}});
        const settings::Key &k = name == u"Combo1"        ? settings::key::Combo1
                                 : name == u"AutoConnect" ? settings::key::AutoConnect
                                                          : settings::key::Option6;
        try {
            const int read = k.kind == settings::Kind::Bool ? int(settings::readBool(k)) : settings::readInt16(k);
            QCOMPARE(read, value);
        } catch (const AppError &e) {
            QCOMPARE(e.number(), error);
        }
    }

    void everyWriteIsCounted()
    {
        const int before = settings::writeCount();
        settings::save(settings::key::User, QStringLiteral("a"));
        settings::saveNumber(settings::key::Combo1, -1);
        settings::saveFlag(settings::key::Option7, true);
        QCOMPARE(settings::writeCount() - before, 3);
        QCOMPARE(fileValues().value(QStringLiteral("Combo1")), QStringLiteral("-1"));
        QCOMPARE(fileValues().value(QStringLiteral("Option7")), QStringLiteral("True"));
    }

    // --settings FILE: the window reads and writes that file, owner-only, and
    // the per-user file stays as it was.
    void aFileOfItsOwn()
    {
        storeOnly({{"User", "user-file account"}, {"StayConnected", "1"}});
        const QString userFile = settings::filePath();
        const QByteArray userBytes = readFile(userFile);
        QTemporaryDir dir;
        const QString demo = dir.filePath(QStringLiteral("sub/demo.ini"));
        settings::useFile(demo);
        QCOMPARE(settings::filePath(), demo);
        storeOnly({{"User", "demo"}, {"StayConnected", "1"}, {"Option6", "True"}});
        {
            ScriptedDialogs d;
            Window w;
            w->Form_Load();
            QCOMPARE(w->Text7->text(), QStringLiteral("demo"));
            QVERIFY(w->Option6->isChecked());
            w->Text7->setText(QStringLiteral("typed"));
            QTest::mouseClick(w->Check1, Qt::LeftButton);
        }
        QCOMPARE(fileValues().value(QStringLiteral("User")), QStringLiteral("typed"));
        QCOMPARE(fileValues().value(QStringLiteral("StayConnected")), QStringLiteral("0"));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(demo).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);

        settings::useFile(QString());
        QCOMPARE(settings::filePath(), userFile);
        QCOMPARE(readFile(userFile), userBytes);
        QCOMPARE(settings::readText(settings::key::User), QStringLiteral("user-file account"));
    }

    // A file that someone else could have placed or could swap is neither read
    // nor written: the window says why at start-up and keeps its entries in
    // memory for the run.
    void filesThatAreRefused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");  // part of the box text
        QTest::newRow("a link") << "link"
                                << "is a symbolic link";
        QTest::newRow("another user's file") << "foreign file"
                                             << "belongs to another user";
        QTest::newRow("another user's folder") << "foreign folder"
                                               << "lies in a folder that belongs to another user";
        QTest::newRow("a folder anyone may change") << "open folder"
                                                    << "lies in a folder that other users may change";
    }
    void filesThatAreRefused()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        const bool needsRoot = kind.startsWith(QLatin1String("foreign"));
        if (needsRoot && ::geteuid() != 0)
            QSKIP("making a file of another user takes root");
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("settings"));
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + QStringLiteral("/demo.ini");
        const QString elsewhere = dir.filePath(QStringLiteral("precious.ini"));
        const QByteArray precious = "[Vellumcast]\nUser=victim\nStayConnected=1\n";
        {
            QFile f(kind == QLatin1String("link") ? elsewhere : path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(precious);
        }
        const QByteArray native = QFile::encodeName(path);
        if (kind == QLatin1String("link"))
            QVERIFY(QFile::link(elsewhere, path));
        else if (kind == QLatin1String("foreign file"))
            QCOMPARE(::chown(native.constData(), 65534, 65534), 0);
        else if (kind == QLatin1String("foreign folder"))
            QCOMPARE(::chown(QFile::encodeName(folder).constData(), 65534, 65534), 0);
        else
            QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0777), 0);
        const QString target = kind == QLatin1String("link") ? elsewhere : path;
        const struct stat before = [&] {
            struct stat st {};
            ::stat(QFile::encodeName(target).constData(), &st);
            return st;
        }();

        settings::useFile(path);
        {
            ScriptedDialogs d;
            Window w;
            w->Form_Load();
            QVERIFY(d.texts().value(0).contains(reason));
            QVERIFY2(d.texts().value(0).endsWith(QStringLiteral("Nothing is read from it or kept in it: entries last "
                                                                "until Vellumcast ends.")),
                     qPrintable(d.texts().value(0)));
            QCOMPARE(w->Text7->text(), QString());  // not read
            QVERIFY(!w->Check1->isChecked());
            // Entries work for the run, in memory.
            w->Text7->setText(QStringLiteral("typed"));
            QCOMPARE(settings::readText(settings::key::User), QStringLiteral("typed"));
        }
        settings::useFile(QString());
        QCOMPARE(readFile(target), precious);
        struct stat after {};
        QCOMPARE(::stat(QFile::encodeName(target).constData(), &after), 0);
        QCOMPARE(after.st_mode, before.st_mode);  // not even made owner-only
        QCOMPARE(after.st_uid, before.st_uid);
    }

    // A shared folder with the sticky bit (as /tmp) is fine: no one can
    // replace another's file there.
    void aFileInAStickyFolder()
    {
        QTemporaryDir dir;
        QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 01777), 0);
        settings::useFile(dir.filePath(QStringLiteral("demo.ini")));
        QCOMPARE(settings::refusal(), std::nullopt);
        settings::save(settings::key::User, QStringLiteral("kept"));
        QVERIFY(readFile(settings::filePath()).contains("User=kept"));
        settings::useFile(QString());
    }
};

QTEST_MAIN(TestSettingsStore)
#include "test_settings_store.moc"
