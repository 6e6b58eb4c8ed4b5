// Text-set item files: every line one item, whatever the line ends.
#include "core/AppError.h"
#include "extract/ItemFiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace vc;

class ItemFilesTest : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;

    QString write(const QByteArray &bytes)
    {
        static int n = 0;
        const QString path = tmp.filePath(QStringLiteral("items%1.txt").arg(++n));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            return {};
        return path;
    }

private Q_SLOTS:
    void lineEnds_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("crlf") << QByteArray("a\r\nb\r\n") << QStringList{"a", "b"};
        QTest::newRow("no final end") << QByteArray("a\r\nb") << QStringList{"a", "b"};
        QTest::newRow("lf only") << QByteArray("a\nb\n") << QStringList{"a", "b"};
        QTest::newRow("lone cr") << QByteArray("a\rb\r") << QStringList{"a", "b"};
        QTest::newRow("mixed") << QByteArray("a\r\nb\nc\rd") << QStringList{"a", "b", "c", "d"};
        QTest::newRow("empty lines kept") << QByteArray("a\r\n\r\n\nb\r\n") << QStringList{"a", "", "", "b"};
        QTest::newRow("lf cr is two ends") << QByteArray("a\n\rb") << QStringList{"a", "", "b"};
        QTest::newRow("blank line only") << QByteArray("\r\n") << QStringList{""};
        QTest::newRow("empty file") << QByteArray() << QStringList{};
        QTest::newRow("no trim, no merge") << QByteArray(" x \r\n x \r\n\tt") << QStringList{" x ", " x ", "\tt"};
        QTest::newRow("utf8") << QByteArray("gr\xc3\xbc\xc3\x9f\r\n") << QStringList{QString::fromUtf8("grüß")};
    }

    void lineEnds()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, items);
        const QString path = write(bytes);
        QVERIFY(!path.isEmpty());
        QCOMPARE(readItemFile(path), items);
    }

    void unreadableFiles()
    {
        try {
            readItemFile(tmp.filePath(QStringLiteral("missing.txt")));
            QFAIL("no error raised");
        } catch (const AppError &e) {
            QCOMPARE(e.number(), err::FileNotFound);
            QCOMPARE(e.description(), QStringLiteral("File not found"));
        }
        try {
            readItemFile(tmp.path());  // a folder is no item file
            QFAIL("no error raised");
        } catch (const AppError &e) {
            QCOMPARE(e.number(), err::FileNotFound);
        }
    }
};

QTEST_GUILESS_MAIN(ItemFilesTest)
#include "test_item_files.moc"
