// The main window's scope against the test server: the local mail copy
// behind the settings window's check box and "Forget Cached Mail...".
#include "AppTestSupport.h"
#include "TestServer.h"
#include "app/FolderChooser.h"
#include "app/SettingsStore.h"
#include "app/SettingsWindow.h"
#include "extract/MailCache.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

using namespace vc;
using namespace vc::test;

namespace {

QByteArray mail(int n, const QString &subject = QStringLiteral("order"), const QString &from = QStringLiteral("ann"),
                const QString &date = QStringLiteral("Tue, 5 Mar 2024 14:07:09 +0000"))
{
    return QStringLiteral("From: %2 <%2@example.org>\r\nTo: tester@example.org\r\nSubject: %3 %1\r\n"
                          "Date: %4\r\nMessage-ID: <scope-%1@example.org>\r\n\r\n"
                          "Order number %1\r\nTotal %1.00\r\n")
        .arg(n)
        .arg(from, subject, date)
        .toUtf8();
}

// The order numbers of the rows that are one body line "Order number N", in order.
QStringList orders(const QStringList &rows)
{
    static const QRegularExpression line(QStringLiteral("^Order number (\\d+)$"));
    QStringList out;
    for (const QString &row : rows)
        if (const QRegularExpressionMatch m = line.match(row); m.hasMatch())
            out << m.captured(1);
    return out;
}

qint64 cachedRecords()
{
    MailCache cache;
    if (!cache.open().ok)
        return -1;
    return cache.stats().records;
}

QAction *action(Form1 &f, const char *name)
{
    auto *a = f.findChild<QAction *>(QLatin1String(name));
    if (!a)
        qFatal("no %s", name);
    return a;
}

}  // namespace

class TestForm1ScopeServer : public QObject {
    Q_OBJECT

    std::unique_ptr<Form1> connectedWindow()
    {
        Form1Options o;
        o.onlineCheck = false;
        o.connection = TestServer::config();
        auto f = std::make_unique<Form1>(o);
        f->Form_Load();
        f->Combo1->setCurrentIndex(0);
        f->Text7->setText(TestServer::user());
        f->Text6->setText(TestServer::password());
        f->PushButton17->click();
        return f;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestServer::available())
            QSKIP("the test server is not running");
        // The window's own check box decides here, not the test environment.
        qunsetenv("VC_NO_CACHE");
    }
    void init()
    {
        storeOnly({});
        QDir(MailCache::defaultFolder()).removeRecursively();
        TestServer::resetMailbox();
    }
    void cleanup()
    {
        SettingsWindow::destroyInstance();
        FolderChooser::destroyInstance();
    }

    void checkBoxDecidesAndForgetFreesTheAccountsMail()
    {
        for (int n = 1; n <= 3; ++n)
            TestServer::deliver(QStringLiteral("Inbox"), mail(n));
        ScriptedDialogs d;
        auto f = connectedWindow();
        QCOMPARE(d.texts(), QStringList());

        action(*f, "settingsAction")->trigger();
        QCheckBox *box = SettingsWindow::instance()->mailCacheBox();
        QVERIFY(box->isChecked());  // on by default
        box->setChecked(false);
        QCOMPARE(fileValues().value(QStringLiteral("MailCache")), QStringLiteral("False"));
        f->PushButton13->click();
        const QStringList fetched = f->results().texts();
        QVERIFY2(fetched.join(u'\n').contains(QLatin1String("Order number 3")), qPrintable(fetched.join(u'\n')));
        QCOMPARE(cachedRecords(), 0);

        box->setChecked(true);
        f->PushButton13->click();
        QCOMPARE(cachedRecords(), 3);
        f->PushButton13->click();  // from the copy this time: the same rows
        QCOMPARE(f->results().texts(), fetched);

        d.clear();
        d.answers = {BoxAnswer::No};
        action(*f, "forgetCacheAction")->trigger();
        QCOMPARE(d.boxes.size(), 1);
        QCOMPARE(d.boxes.first().buttons, BoxButtons::YesNo);
        QCOMPARE(cachedRecords(), 3);

        d.clear();
        d.answers = {BoxAnswer::Yes};
        action(*f, "forgetCacheAction")->trigger();
        QCOMPARE(d.texts().size(), 2);
        QVERIFY2(
            d.texts().at(1).startsWith(QStringLiteral("Forgot 3 cached message(s) of %1 (").arg(TestServer::user())),
            qPrintable(d.texts().at(1)));
        QVERIFY(!d.texts().at(1).contains(QLatin1String("(0 bytes freed)")));
        QCOMPARE(cachedRecords(), 0);
    }

    // The server selects the messages; the rule runs on those alone.
    void filterRowNarrowsWhatTheServerSelects()
    {
        TestServer::deliver(QStringLiteral("Inbox"), mail(1));
        TestServer::deliver(QStringLiteral("Inbox"), mail(2, QStringLiteral("invoice"), QStringLiteral("bob"),
                                                          QStringLiteral("Wed, 10 Jan 2024 09:00:00 +0000")));
        TestServer::deliver(QStringLiteral("Inbox"), mail(3, QStringLiteral("order"), QStringLiteral("bob"),
                                                          QStringLiteral("Wed, 20 Mar 2024 09:00:00 +0000")));
        ScriptedDialogs d;
        auto f = connectedWindow();
        settings::saveFlag(settings::key::MailCache, false);
        action(*f, "foldersAction")->trigger();
        FolderChooser *c = FolderChooser::existing();
        QVERIFY(c->folders().contains(QStringLiteral("INBOX")));
        const struct {
            const char *since, *before, *from, *subject;
            QStringList orders;
        } cases[] = {
            {"", "", "", "", {"1", "2", "3"}},
            {"", "", "", "order", {"1", "3"}},
            {"2024-03-01", "10-Mar-2024", "", "", {"1"}},
            {"1-Mar-2024", "", "bob", "", {"3"}},
            {"", "", "bob", "", {"2", "3"}},
            {"", "", "nobody", "", {}},
        };
        for (const auto &k : cases) {
            c->sinceBox()->setText(QString::fromLatin1(k.since));
            c->beforeBox()->setText(QString::fromLatin1(k.before));
            c->fromBox()->setText(QString::fromLatin1(k.from));
            c->subjectBox()->setText(QString::fromLatin1(k.subject));
            f->PushButton13->click();
            QVERIFY2(orders(f->results().texts()) == k.orders, qPrintable(f->results().texts().join(u'|')));
        }
    }
};

QTEST_MAIN(TestForm1ScopeServer)
#include "test_form1_scope_server.moc"
