// The main window's password: it lives in the "Password:" box for the run.
// With "Remember me" ticked it is also kept in the system keychain, under the
// server and the account, and comes back from there at the next start; the
// settings file never holds it. A password that an older settings file holds
// is read once at start-up, moved to the keychain (with "Remember me") and
// erased from the file.
#include "app/Form1.h"

#include "app/PasswordKeeper.h"
#include "app/SettingsStore.h"
#include "core/AppError.h"
#include "core/Dialogs.h"
#include "extract/RunWiring.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QTimer>

namespace vc {

namespace {

// A change goes to the keychain once typing has paused this long, not at
// every keystroke.
constexpr int kRememberAfterMs = 500;

// The first line of a password file, without its line end.
QString firstLineOf(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        vc::raise(err::PathFileAccess, QStringLiteral("cannot read %1: %2").arg(path, f.errorString()));
    QByteArray line = f.readLine();
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}

}  // namespace

PasswordKeeper &Form1::passwords()
{
    if (!passwords_)
        passwords_ = std::make_unique<PasswordKeeper>(
            [](const QString &text) { dialogs().messageBox(text, BoxButtons::Ok, BoxIcon::Information, QString()); });
    return *passwords_;
}

void Form1::passwordChanged()
{
    if (!passwordSave_) {
        passwordSave_ = new QTimer(this);
        passwordSave_->setSingleShot(true);
        passwordSave_->setInterval(kRememberAfterMs);
        connect(passwordSave_, &QTimer::timeout, this, &Form1::rememberPassword);
    }
    if (!loadingAccount_ && rememberMeBox->isChecked())
        passwordSave_->start();
}

void Form1::flushPassword()
{
    if (passwordSave_ && passwordSave_->isActive())
        rememberPassword();
}

void Form1::rememberPassword()
{
    if (passwordSave_)
        passwordSave_->stop();
    const SignInPlan plan = signInPlan();
    const QString account = accountName(accountBox->text(), accountSuffixCombo->currentText());
    if (!rememberMeBox->isChecked() || plan.method != SignInMethod::Password || account.trimmed().isEmpty())
        return;
    passwords().save(plan.host, options_.connection.port, account, passwordBox->text());
}

void Form1::forgetPassword()
{
    if (passwordSave_)
        passwordSave_->stop();
    const SignInPlan plan = signInPlan();
    const QString account = accountName(accountBox->text(), accountSuffixCombo->currentText());
    if (plan.method == SignInMethod::Password && !account.trimmed().isEmpty())
        passwords().remove(plan.host, options_.connection.port, account);
}

void Form1::rememberMeChanged(bool ticked)
{
    if (loadingAccount_)
        return;
    if (ticked)
        rememberPassword();
    else
        forgetPassword();
}

void Form1::readLegacyPassword(ErrorTrap &trap)
{
    trap(136, [&] {
        legacyPassword_ = settings::readText(settings::key::Password);
        passwordBox->setText(legacyPassword_);
    });
}

void Form1::restorePassword(ErrorTrap &trap)
{
    const QString legacy = std::exchange(legacyPassword_, QString());
    trap(196, [&] {
        // Whatever an older version left in the file goes, kept or not.
        settings::remove(settings::key::Password);
        if (!options_.passwordFile.isEmpty()) {
            passwordBox->setText(firstLineOf(options_.passwordFile));
            return;
        }
        if (!rememberMeBox->isChecked() || signInPlan().method != SignInMethod::Password)
            return;
        if (!legacy.isEmpty())
            rememberPassword();  // the box holds it already
        else
            passwordBox->setText(passwords().load(signInPlan().host, options_.connection.port,
                                                  accountName(accountBox->text(), accountSuffixCombo->currentText())));
    });
}

}  // namespace vc
