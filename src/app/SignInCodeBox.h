#pragma once
#include <QDialog>
#include <QUrl>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace vc {

// The small window that shows how to finish a sign-in elsewhere: the
// provider's message, the code to enter (or, without a code, the address to
// open) with a button that copies it, and Cancel. It does not block: the
// sign-in keeps waiting in the program's own loop while it is open. The
// message is shown as plain text; an address that is not https:// (loopback
// addresses aside) is neither shown nor copied, and neither is its code.
class SignInCodeBox : public QDialog {
    Q_OBJECT
public:
    SignInCodeBox(const QString &message, const QString &code, const QUrl &address, std::function<void()> cancel,
                  QWidget *parent = nullptr);

    QString copyText() const;  // what "Copy" puts on the clipboard
    // Closes the box without cancelling (the sign-in ended by itself).
    void dismiss();

private:
    void copy();
    void cancelled();

    std::function<void()> cancel_;
    QLineEdit *field_ = nullptr;
    QPushButton *copyButton_ = nullptr;
};

}  // namespace vc
