#include "app/SignInCodeBox.h"

#include "core/Product.h"
#include "mail/signin/OAuthProviders.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vc {

SignInCodeBox::SignInCodeBox(const QString &message, const QString &code, const QUrl &address,
                             std::function<void()> cancel, QWidget *parent)
    : QDialog(parent), cancel_(std::move(cancel))
{
    setObjectName(QStringLiteral("SignInCodeBox"));
    setWindowTitle(product::kAppTitle + QStringLiteral(" - Sign in"));
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose, false);

    // The message comes from the sign-in service: shown as the text it is,
    // never as markup or links.
    auto *text = new QLabel(this);
    text->setObjectName(QStringLiteral("SignInCodeMessage"));
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Only an https:// address (or a loopback one) is offered to open or copy.
    const bool addressAllowed = isAllowedOAuthUrl(address);
    QString shownMessage = message;
    if (!addressAllowed)
        shownMessage = QStringLiteral("The sign-in service named a page that is not an https:// address (%1), so it "
                                      "is not offered here. Cancel the sign-in.")
                           .arg(address.toDisplayString());
    text->setText(shownMessage);

    const QString fieldText = !addressAllowed  ? QString()
                              : code.isEmpty() ? address.toString(QUrl::FullyEncoded)
                                               : code;
    field_ = new QLineEdit(fieldText, this);
    field_->setObjectName(QStringLiteral("SignInCodeText"));
    field_->setReadOnly(true);
    if (!code.isEmpty()) {
        QFont big = field_->font();
        big.setPointSizeF(big.pointSizeF() * 1.6);
        big.setBold(true);
        field_->setFont(big);
        field_->setAlignment(Qt::AlignCenter);
    }
    copyButton_ = new QPushButton(code.isEmpty() ? QStringLiteral("Copy address") : QStringLiteral("Copy code"), this);
    copyButton_->setObjectName(QStringLiteral("SignInCodeCopy"));
    copyButton_->setEnabled(addressAllowed);
    connect(copyButton_, &QPushButton::clicked, this, &SignInCodeBox::copy);

    auto *cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("SignInCodeCancel"));
    connect(cancelButton, &QPushButton::clicked, this, &SignInCodeBox::cancelled);
    connect(this, &QDialog::rejected, this, [this] {
        if (cancel_)
            cancel_();
    });

    auto *row = new QHBoxLayout;
    row->addWidget(field_, 1);
    row->addWidget(copyButton_);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancelButton);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addLayout(row);
    layout->addLayout(buttons);
    setMinimumWidth(440);
}

QString SignInCodeBox::copyText() const
{
    return field_->text();
}

void SignInCodeBox::dismiss()
{
    cancel_ = nullptr;
    hide();
    deleteLater();
}

void SignInCodeBox::copy()
{
    QGuiApplication::clipboard()->setText(copyText());
    copyButton_->setText(QStringLiteral("Copied"));
}

void SignInCodeBox::cancelled()
{
    reject();
}

}  // namespace vc
