// The window's sign-in code box: copy, cancel, and closing without cancelling.
#include "app/GuiDialogs.h"
#include "app/SignInCodeBox.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace vc;

class SignInBoxTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void copiesTheCodeOrTheAddress()
    {
        const QUrl address(QStringLiteral("https://microsoft.com/devicelogin"));
        SignInCodeBox withCode(QStringLiteral("To sign in, open the page and enter the code ABCD1234."),
                               QStringLiteral("ABCD1234"), address, {});
        withCode.findChild<QPushButton *>(QStringLiteral("SignInCodeCopy"))->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("ABCD1234"));
        QVERIFY(withCode.findChild<QLineEdit *>(QStringLiteral("SignInCodeText"))->isReadOnly());

        SignInCodeBox withAddress(QStringLiteral("Open this address"), QString(), address, {});
        withAddress.findChild<QPushButton *>(QStringLiteral("SignInCodeCopy"))->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), address.toString());
    }

    void cancelOnlyWhenTheUserGivesUp()
    {
        GuiDialogs dialogs;
        int cancels = 0;
        auto shownBox = [] {
            SignInCodeBox *found = nullptr;
            for (QWidget *w : QApplication::topLevelWidgets()) {
                if (auto *b = qobject_cast<SignInCodeBox *>(w); b && b->isVisible())
                    found = b;
            }
            return QPointer<SignInCodeBox>(found);
        };
        dialogs.showSignInCode(QStringLiteral("m"), QStringLiteral("C"), QUrl(QStringLiteral("https://x")),
                               [&cancels] { ++cancels; });
        QPointer<SignInCodeBox> box = shownBox();
        QVERIFY(box);
        QVERIFY(!box->isModal());
        box->findChild<QPushButton *>(QStringLiteral("SignInCodeCancel"))->click();
        QCOMPARE(cancels, 1);
        QVERIFY(!box->isVisible());
        dialogs.closeSignInCode();

        // A sign-in that ends by itself closes the box without cancelling.
        dialogs.showSignInCode(QStringLiteral("m"), QStringLiteral("C"), QUrl(QStringLiteral("https://x")),
                               [&cancels] { ++cancels; });
        box = shownBox();
        QVERIFY(box);
        dialogs.closeSignInCode();
        QCOMPARE(cancels, 1);
        QTRY_VERIFY(box.isNull());
    }
};

QTEST_MAIN(SignInBoxTest)
#include "test_signin_box.moc"
