#include "app/SignInCodeBox.h"

#include "core/Product.h"

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

    auto *text = new QLabel(message, this);
    text->setObjectName(QStringLiteral("SignInCodeMessage"));
    text->setWordWrap(true);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);

    field_ = new QLineEdit(code.isEmpty() ? address.toString(QUrl::FullyEncoded) : code, this);
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
