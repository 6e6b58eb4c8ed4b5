// The window's sign-in code box: copy, cancel, and closing without cancelling.
#include "app/GuiDialogs.h"
#include "app/SignInCodeBox.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
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

    // The service's message is text, not markup; a page that is not https://
    // (loopback aside) is neither shown nor copied, and neither is its code.
    void showsOnlyWhatIsSafe()
    {
        const QString markup = QStringLiteral("<b>Sign in</b> at <a href=\"https://evil.example\">here</a>");
        SignInCodeBox box(markup, QStringLiteral("ABCD1234"), QUrl(QStringLiteral("https://example.org/device")), {});
        auto *label = box.findChild<QLabel *>(QStringLiteral("SignInCodeMessage"));
        QCOMPARE(label->text(), markup);
        QCOMPARE(label->textFormat(), Qt::PlainText);

        for (const char *address : {"http://example.org/device", "javascript:alert(1)", "file:///etc/passwd"}) {
            SignInCodeBox refused(QStringLiteral("Enter ABCD1234"), QStringLiteral("ABCD1234"),
                                  QUrl(QLatin1String(address)), {});
            QVERIFY(refused.copyText().isEmpty());
            QVERIFY(!refused.findChild<QPushButton *>(QStringLiteral("SignInCodeCopy"))->isEnabled());
            QVERIFY(refused.findChild<QLabel *>(QStringLiteral("SignInCodeMessage"))
                        ->text()
                        .contains(QStringLiteral("not an https:// address")));
        }
        SignInCodeBox loopback(QStringLiteral("m"), QString(), QUrl(QStringLiteral("http://127.0.0.1:8080/device")),
                               {});
        QCOMPARE(loopback.copyText(), QStringLiteral("http://127.0.0.1:8080/device"));
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
