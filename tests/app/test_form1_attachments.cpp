// Attachments in the main window on the fake component: the stored choice
// behind the menu's check entry and the fields window's check box, what a
// run asks the engine for, and "Save Attachments..." asking its folder and
// patterns (a cancel at either step reads nothing).
#include "AppTestSupport.h"
#include "app/FieldsWindow.h"
#include "app/SettingsStore.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace vc;
using namespace vc::test;

namespace {

void withAttachment(FakeImap &f)
{
    MailRecord m = FakeImap::message(QStringLiteral("invoice"), QStringLiteral("see attached"));
    m.attachments << AttachmentInfo{QStringLiteral("invoice.pdf"), QStringLiteral("application/pdf"), 4, {}, {}};
    m.heldAttachmentBytes << QByteArray("%PDF");
    f.setInbox({m});
}

void prepare(Window &w, bool connected)
{
    w->Form_Load();
    w->Text7->setText(QStringLiteral("alice"));
    w->Combo1->setCurrentIndex(w->Combo1->findText(QStringLiteral("@live.com")));
    w->Text6->setText(QStringLiteral("secret"));
    if (connected)
        w->PushButton17->click();
}

QAction *action(Window &w, const char *name)
{
    auto *a = w->findChild<QAction *>(QLatin1String(name));
    if (!a)
        qFatal("no %s", name);
    return a;
}

}  // namespace

class TestForm1Attachments : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        storeOnly({});
        FieldsWindow::destroyInstance();
    }
    void cleanup() { FieldsWindow::destroyInstance(); }

    void oneStoredChoiceEveryWindowFollows()
    {
        storeOnly({{QStringLiteral("Attachments"), QStringLiteral("True")}});
        Window w(withAttachment);
        prepare(w, false);
        QAction *entry = action(w, "MenuAttachmentText");
        QVERIFY(entry->isCheckable());
        QVERIFY(entry->isChecked());  // as stored
        QVERIFY(w->attachmentRequest().text);
        QVERIFY(!w->attachmentRequest().saver);

        action(w, "MenuFields")->trigger();
        auto *box = FieldsWindow::existing()->findChild<QCheckBox *>(QStringLiteral("attachmentsBox"));
        QVERIFY(box && box->isChecked());
        entry->setChecked(false);
        QVERIFY(!box->isChecked());
        QCOMPARE(settings::readText(settings::key::Attachments), QStringLiteral("False"));
        QVERIFY(!w->attachmentRequest().text);
        box->setChecked(true);
        QVERIFY(w->attachmentRequest().text);
        QCOMPARE(settings::readText(settings::key::Attachments), QStringLiteral("True"));
        // The menu entry shows it the next time the menu opens.
        w->attachmentTextChanged();
        QVERIFY(entry->isChecked());
    }

    void saveAttachmentsAsksFolderAndPatterns()
    {
        QTemporaryDir dir;
        ScriptedDialogs d;
        Window w(withAttachment);

        // Not connected: said, nothing asked.
        prepare(w, false);
        action(w, "MenuSaveAttachments")->trigger();
        QCOMPARE(d.texts(), QStringList{QStringLiteral("Please connect first (Step 1) before using this feature.")});
        w->PushButton17->click();
        QCOMPARE(w->PushButton17->text(), QStringLiteral("Disconnect"));
        d.clear();

        // Cancelled at the folder, then at the patterns: nothing read.
        action(w, "MenuSaveAttachments")->trigger();
        d.folderNames << dir.path();
        action(w, "MenuSaveAttachments")->trigger();
        QVERIFY(w.fake->fetched.isEmpty());
        QCOMPARE(d.texts(), QStringList());
        QCOMPARE(d.boxes.size(), 3);  // folder, folder, patterns
        QCOMPARE(d.boxes.at(2).kind, ScriptedDialogs::Box::Input);

        // Saved; the results list keeps its rows; the patterns are kept for next time.
        w->results().append(QStringLiteral("kept"));
        d.folderNames << dir.path();
        d.inputs << QStringLiteral("*.pdf  *.csv");
        d.clear();
        action(w, "MenuSaveAttachments")->trigger();
        QCOMPARE(w.fake->fetched, QList<int>{1});
        QCOMPARE(d.texts(),
                 (QStringList{QStringLiteral("1 attachment(s) saved in %1.").arg(QDir(dir.path()).canonicalPath()),
                              QStringLiteral("Done.")}));
        QFile saved(dir.filePath(QStringLiteral("1-invoice.pdf")));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), QByteArray("%PDF"));
        QCOMPARE(w->results().texts(), QStringList{QStringLiteral("kept")});
        QCOMPARE(settings::readText(settings::key::AttachmentGlobs), QStringLiteral("*.pdf *.csv"));
        QCOMPARE(action(w, "MenuSaveAttachments")->text(), QStringLiteral("Sa&ve Attachments..."));
        QVERIFY(!w->attachmentRequest().saver);
        QVERIFY(!w->onExtractEmail);

        // Stopped from the menu entry while the walk reads.
        QString captionDuringRun;
        w.fake->onFetch = [&](int) {
            captionDuringRun = action(w, "MenuSaveAttachments")->text();
            action(w, "MenuSaveAttachments")->trigger();
        };
        w.fake->fetchHonoursAbort = true;
        d.folderNames << dir.path();
        d.inputs << QStringLiteral("*");
        d.clear();
        action(w, "MenuSaveAttachments")->trigger();
        QCOMPARE(captionDuringRun, QStringLiteral("Stop Sa&ving Attachments"));
        QVERIFY(!w->onExtractEmail);
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("1-invoice (2).pdf"))));
    }
};

QTEST_MAIN(TestForm1Attachments)
#include "test_form1_attachments.moc"
