// Saving attachments: hostile names become safe file names, files land only in
// the chosen folder, nothing is ever overwritten (nor written through a link),
// the globs choose, and the decoder hands the bytes over.
#include "extract/AttachmentSaver.h"
#include "mail/MimeDecode.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using vc::AttachmentSaver;
using vc::safeAttachmentName;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Every entry below `dir`, hidden ones too, as paths relative to it.
QStringList everything(const QString &dir)
{
    QStringList out;
    const QDir d(dir);
    for (const QFileInfo &info :
         d.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        out << info.fileName();
        if (info.isDir() && !info.isSymLink())
            for (const QString &inner : everything(info.filePath()))
                out << info.fileName() + QLatin1Char('/') + inner;
    }
    return out;
}

}  // namespace

class TestAttachmentSaver : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void safeNames_data();
    void safeNames();
    void longNamesAreCutAtCharacters();
    void hostileNamesStayInTheFolder();
    void neverOverwritesNorFollowsLinks();
    void globsChoose();
    void folderThatCannotBeUsed();
    void decoderHandsTheBytesOver();
};

void TestAttachmentSaver::safeNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("safe");
    QTest::newRow("parent folders") << "../../x.pdf"
                                    << "x.pdf";
    QTest::newRow("windows path") << "..\\..\\Windows\\evil.pdf"
                                  << "evil.pdf";
    QTest::newRow("absolute") << "/etc/passwd"
                              << "passwd";
    QTest::newRow("hidden file") << ".bashrc"
                                 << "bashrc";
    QTest::newRow("dots only") << "..."
                               << "attachment";
    QTest::newRow("empty") << ""
                           << "attachment";
    QTest::newRow("folder only") << "docs/"
                                 << "attachment";
    QTest::newRow("newline") << "in\nvoice.pdf"
                             << "in_voice.pdf";
    QTest::newRow("tab and delete") << "a\tb\x7f.txt"
                                    << "a_b_.txt";
    QTest::newRow("bidi override") << QString::fromUtf8("invoice\u202Efdp.exe") << "invoicefdp.exe";
    QTest::newRow("bidi isolate, zero width") << QString::fromUtf8("a\u2066b\u200Bc\u2069.pdf") << "abc.pdf";
    QTest::newRow("line separator") << QString::fromUtf8("a\u2028b.pdf") << "a_b.pdf";
    QTest::newRow("characters windows refuses") << "a<b>c:d\"e|f?g*.pdf"
                                                << "a_b_c_d_e_f_g_.pdf";
    QTest::newRow("blanks and trailing dots") << "  report .pdf.. "
                                              << "report .pdf";
    QTest::newRow("ordinary") << QString::fromUtf8("Rechnung März 2025.pdf")
                              << QString::fromUtf8("Rechnung März 2025.pdf");
}

void TestAttachmentSaver::safeNames()
{
    QFETCH(QString, name);
    QFETCH(QString, safe);
    QCOMPARE(safeAttachmentName(name), safe);
}

void TestAttachmentSaver::longNamesAreCutAtCharacters()
{
    const QString ascii = QString(300, QLatin1Char('x')) + QStringLiteral(".pdf");
    QString cut = safeAttachmentName(ascii, 200);
    QCOMPARE(cut.toUtf8().size(), 200);
    QVERIFY(cut.endsWith(QStringLiteral("x.pdf")));

    // Two-byte letters, and letters with a combining accent: never cut in between.
    cut = safeAttachmentName(QString(150, QChar(0xE9)) + QStringLiteral(".pdf"), 101);
    QVERIFY(cut.toUtf8().size() <= 101);
    QCOMPARE(cut, QString(48, QChar(0xE9)) + QStringLiteral(".pdf"));
    QString accented;
    for (int i = 0; i < 100; ++i)
        accented += QStringLiteral("e\u0301");
    cut = safeAttachmentName(accented + QStringLiteral(".txt"), 50);
    QCOMPARE(cut, accented.left(30) + QStringLiteral(".txt"));  // 15 pairs of 3 bytes, then 4

    // An extension too long to keep is cut like the rest.
    cut = safeAttachmentName(QStringLiteral("a.") + QString(300, QLatin1Char('z')), 100);
    QCOMPARE(cut, QStringLiteral("a.") + QString(98, QLatin1Char('z')));
}

void TestAttachmentSaver::hostileNamesStayInTheFolder()
{
    QTemporaryDir root;
    QVERIFY(writeFile(root.filePath(QStringLiteral("x.pdf")), "outside, untouched"));
    QVERIFY(writeFile(root.filePath(QStringLiteral(".bashrc")), "outside, untouched"));
    const QString folder = root.filePath(QStringLiteral("saved/attachments"));
    AttachmentSaver saver(folder, {});
    QString error;
    QVERIFY2(saver.open(&error), qPrintable(error));

    const QString longName = QString(300, QLatin1Char('L')) + QStringLiteral(".pdf");
    const QList<std::pair<QString, QByteArray>> files = {
        {QStringLiteral("../../x.pdf"), "one"},
        {QStringLiteral(".bashrc"), "two"},
        {QStringLiteral("line\nbreak.pdf"), "three"},
        {longName, "four"},
        {QStringLiteral("same.pdf"), "five"},
        {QStringLiteral("same.pdf"), "six"},
        {QString::fromUtf8("photo\u202Egpj.exe"), "seven"},
        {QString(), "eight"},
    };
    QStringList paths;
    for (const auto &[name, bytes] : files) {
        const QString path = saver.save(4711, name, bytes, &error);
        QVERIFY2(!path.isEmpty(), qPrintable(name + QStringLiteral(": ") + error));
        QCOMPARE(readAll(path), bytes);
        QCOMPARE(QFileInfo(path).canonicalPath(), QFileInfo(folder).canonicalFilePath());
        QVERIFY(QFileInfo(path).fileName().toUtf8().size() <= 255);
        paths << QFileInfo(path).fileName();
    }
    const QString cutLong =
        QStringLiteral("4711-") + QString(255 - 5 - 7 - 4, QLatin1Char('L')) + QStringLiteral(".pdf");
    QCOMPARE(paths, (QStringList{"4711-x.pdf", "4711-bashrc", "4711-line_break.pdf", cutLong, "4711-same.pdf",
                                 "4711-same (2).pdf", "4711-photogpj.exe", "4711-attachment"}));
    QCOMPARE(saver.savedFiles().size(), files.size());
    // Nothing but the folder and the two files that were there before.
    QStringList expected = {".bashrc", "saved", "saved/attachments", "x.pdf"};
    for (const QString &p : paths)
        expected << QStringLiteral("saved/attachments/") + p;
    expected.sort();
    QStringList found = everything(root.path());
    found.sort();
    QCOMPARE(found, expected);
    QCOMPARE(readAll(root.filePath(QStringLiteral("x.pdf"))), QByteArray("outside, untouched"));
    QCOMPARE(readAll(root.filePath(QStringLiteral(".bashrc"))), QByteArray("outside, untouched"));
}

void TestAttachmentSaver::neverOverwritesNorFollowsLinks()
{
    QTemporaryDir root;
    const QString folder = root.filePath(QStringLiteral("in"));
    QVERIFY(QDir().mkpath(folder));
    const QString outside = root.filePath(QStringLiteral("target.pdf"));
    QVERIFY(writeFile(outside, "outside"));
    QVERIFY(writeFile(folder + QStringLiteral("/9-a.pdf"), "old"));
    QVERIFY(writeFile(folder + QStringLiteral("/9-a (2).pdf"), "old 2"));
    QVERIFY(QFile::link(outside, folder + QStringLiteral("/9-link.pdf")));
    QVERIFY(QFile::link(root.filePath(QStringLiteral("nowhere.pdf")), folder + QStringLiteral("/9-dangling.pdf")));

    AttachmentSaver saver(folder, {});
    QString error;
    QVERIFY(saver.open(&error));
    QCOMPARE(QFileInfo(saver.save(9, QStringLiteral("a.pdf"), "new", &error)).fileName(),
             QStringLiteral("9-a (3).pdf"));
    QCOMPARE(QFileInfo(saver.save(9, QStringLiteral("link.pdf"), "new", &error)).fileName(),
             QStringLiteral("9-link (2).pdf"));
    QCOMPARE(QFileInfo(saver.save(9, QStringLiteral("dangling.pdf"), "new", &error)).fileName(),
             QStringLiteral("9-dangling (2).pdf"));
    QCOMPARE(readAll(folder + QStringLiteral("/9-a.pdf")), QByteArray("old"));
    QCOMPARE(readAll(folder + QStringLiteral("/9-a (2).pdf")), QByteArray("old 2"));
    QCOMPARE(readAll(outside), QByteArray("outside"));
    QVERIFY(!QFileInfo::exists(root.filePath(QStringLiteral("nowhere.pdf"))));
    // No temporary files of QSaveFile are left behind.
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 7);
}

void TestAttachmentSaver::globsChoose()
{
    AttachmentSaver some(QStringLiteral("unused"), {QStringLiteral("*.PDF"), QStringLiteral("orders-*.csv"), " "});
    QVERIFY(some.matches(QStringLiteral("a.pdf")));
    QVERIFY(some.matches(QStringLiteral("INVOICE.Pdf")));
    QVERIFY(some.matches(QStringLiteral("../../x.pdf")));  // by the name it is saved under
    QVERIFY(some.matches(QStringLiteral("Orders-May.CSV")));
    QVERIFY(!some.matches(QStringLiteral("orders.csv")));
    QVERIFY(!some.matches(QStringLiteral("a.pdf.exe")));
    QVERIFY(!some.matches(QStringLiteral("notes.txt")));
    AttachmentSaver all(QStringLiteral("unused"), {});
    QVERIFY(all.matches(QStringLiteral("notes.txt")));
    QVERIFY(all.matches(QString()));
}

void TestAttachmentSaver::folderThatCannotBeUsed()
{
    QTemporaryDir root;
    const QString file = root.filePath(QStringLiteral("plain-file"));
    QVERIFY(writeFile(file, "x"));
    AttachmentSaver onFile(file, {});
    QString error;
    QVERIFY(!onFile.open(&error));
    QVERIFY2(error.contains(QStringLiteral("plain-file")), qPrintable(error));
    QVERIFY(onFile.save(1, QStringLiteral("a.pdf"), "x", &error).isEmpty());
    QCOMPARE(error, QStringLiteral("the attachment folder is not open"));

    AttachmentSaver below(file + QStringLiteral("/sub"), {});
    QVERIFY(!below.open(&error));
}

void TestAttachmentSaver::decoderHandsTheBytesOver()
{
    const QByteArray pdf = QByteArrayLiteral("%PDF-1.4 pretend\x00\xff bytes");
    const QByteArray raw = "From: a@example.org\r\nSubject: s\r\nMIME-Version: 1.0\r\n"
                           "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
                           "Content-Type: text/plain\r\n\r\nbody\r\n--b\r\n"
                           "Content-Type: application/pdf; name=\"../Invoice.PDF\"\r\n"
                           "Content-Transfer-Encoding: base64\r\n\r\n"
                           + pdf.toBase64()
                           + "\r\n--b\r\n"
                             "Content-Type: text/plain; name=notes.txt\r\n\r\nnot saved\r\n--b--\r\n";
    QTemporaryDir root;
    AttachmentSaver saver(root.path(), {QStringLiteral("*.pdf")});
    QString error;
    QVERIFY(saver.open(&error));
    vc::DecodeNeeds needs;
    needs.attachmentBytes = saver.sinkFor(321);
    const vc::MailRecord e = vc::decodeMessage(raw, needs);
    QCOMPARE(e.attachments.size(), 2);
    QCOMPARE(saver.takeErrors(), QStringList());
    QCOMPARE(QDir(root.path()).entryList(QDir::Files), QStringList{"321-Invoice.PDF"});
    QCOMPARE(readAll(root.filePath(QStringLiteral("321-Invoice.PDF"))), pdf);
}

QTEST_GUILESS_MAIN(TestAttachmentSaver)
#include "test_attachment_saver.moc"
