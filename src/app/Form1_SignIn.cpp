// The main window's OAuth 2.0 sign-in: the method of each account (the
// password, or OAuth 2.0 in the browser), the sign-in menu that shows and
// changes it, the password box that follows it, and the sign-in session the
// connection object gets.
#include "app/Form1.h"

#include "app/SettingsStore.h"
#include "core/Dialogs.h"
#include "core/DialogsSignInUi.h"
#include "core/Product.h"
#include "extract/RunWiring.h"
#include "mail/signin/OAuthFlows.h"
#include "mail/signin/OAuthProviders.h"
#include "mail/signin/OAuthSession.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

namespace vc {

namespace {

const QString kPasswordItem = QStringLiteral("password");
const QString kOAuthItem = QStringLiteral("oauth2");
const QString kNoPasswordNeeded = QStringLiteral("Not needed: signs in with OAuth 2.0 in your browser");
const QString kClientIdHelp =
    QStringLiteral("Right-click the Login frame and choose \"OAuth 2.0 client ID...\" to enter it.");
const QString kTokenHint = QStringLiteral("The server also offers OAuth 2.0 sign-in, which this account may need. "
                                          "To turn it on, right-click the Login frame and choose \"Sign in with OAuth "
                                          "2.0 (browser)\".");

// The stored choices: account name (lower case) -> method.
QMap<QString, QString> storedMethods()
{
    QMap<QString, QString> out;
    for (const QString &item : settings::readText(settings::key::SignInMethods).split(QLatin1Char(';'))) {
        const qsizetype eq = item.lastIndexOf(QLatin1Char('='));
        if (eq > 0)
            out.insert(item.left(eq), item.mid(eq + 1));
    }
    return out;
}

const settings::Key *clientIdKey(const QString &provider)
{
    if (provider == QLatin1String("microsoft"))
        return &settings::key::OAuthClientIdMicrosoft;
    if (provider == QLatin1String("google"))
        return &settings::key::OAuthClientIdGoogle;
    return &settings::key::OAuthClientIdCustom;
}

QString providerName(const QString &provider)
{
    const OAuthProvider *p = findOAuthProvider(provider);
    return p ? p->name : provider;
}

}  // namespace

std::unique_ptr<SignInUi> makeWindowSignInUi()
{
    return std::make_unique<DialogsSignInUi>();
}

SignInPlan Form1::signInPlan() const
{
    const QString account = accountName(accountBox->text(), accountSuffixCombo->currentText());
    std::optional<SignInMethod> chosen;
    const QString stored = storedMethods().value(account.trimmed().toLower());
    if (stored == kPasswordItem)
        chosen = SignInMethod::Password;
    else if (stored == kOAuthItem)
        chosen = SignInMethod::OAuth2;
    const QString host = options_.connection.host;
    return planSignIn(options_.connection.signIn, host, host == product::kImapHost, account, DefaultMethod::ByAccount,
                      chosen);
}

void Form1::chooseSignInMethod(SignInMethod method)
{
    const QString account = accountName(accountBox->text(), accountSuffixCombo->currentText()).trimmed().toLower();
    if (account.isEmpty() || account.contains(QLatin1Char(';')) || account.contains(QLatin1Char('=')))
        return;
    QMap<QString, QString> methods = storedMethods();
    methods.insert(account, method == SignInMethod::OAuth2 ? kOAuthItem : kPasswordItem);
    QStringList items;
    for (auto it = methods.cbegin(); it != methods.cend(); ++it)
        items << it.key() + QLatin1Char('=') + it.value();
    settings::save(settings::key::SignInMethods, items.join(QLatin1Char(';')));
    updateSignInView();
}

void Form1::askClientId()
{
    const SignInPlan plan = signInPlan();
    const QString provider = plan.provider.isEmpty() ? QStringLiteral("microsoft") : plan.provider;
    const QString id = dialogs().inputBox(
        QStringLiteral("The client ID of the application you registered with %1 for %2 (README.md, \"Signing in with "
                       "OAuth 2.0\"):")
            .arg(providerName(provider), product::kAppTitle),
        QStringLiteral("OAuth 2.0 client ID"), settings::readText(*clientIdKey(provider)));
    if (id.trimmed().isEmpty())
        return;
    settings::save(*clientIdKey(provider), id.trimmed());
    if (provider == QLatin1String("google")) {
        const QString secret = dialogs().inputBox(QStringLiteral("The client secret of that Google desktop client:"),
                                                  QStringLiteral("OAuth 2.0 client secret"),
                                                  settings::readText(settings::key::OAuthClientSecretGoogle));
        if (!secret.trimmed().isEmpty())
            settings::save(settings::key::OAuthClientSecretGoogle, secret.trimmed());
    }
}

void Form1::forgetSignIn()
{
    const SignInPlan plan = signInPlan();
    if (plan.method != SignInMethod::OAuth2)
        return;
    const QString account = accountName(accountBox->text(), accountSuffixCombo->currentText());
    if (std::shared_ptr<OAuthSession> s = signInSession(plan, account))
        s->forget();
}

std::shared_ptr<OAuthSession> Form1::signInSession(const SignInPlan &plan, const QString &account)
{
    QString error;
    OAuthSettings s = oauthSettingsFor(options_.connection.signIn, plan.provider,
                                       settings::readText(*clientIdKey(plan.provider)), OAuthFlow::Browser, &error);
    if (s.clientSecret.isEmpty() && plan.provider == QLatin1String("google"))
        s.clientSecret = settings::readText(settings::key::OAuthClientSecretGoogle);
    s.remember = rememberMeBox->isChecked();
    s.requestTimeoutMs = options_.connection.timeoutMs;
    s.clientIdHelp = kClientIdHelp;
    return std::make_shared<OAuthSession>(s, account, *signInUi_);
}

Account Form1::account()
{
    Account a;
    a.component = ChilkatImap1;
    a.config = options_.connection;
    a.username = accountName(accountBox->text(), accountSuffixCombo->currentText());
    a.password = passwordBox->text();
    const SignInPlan plan = signInPlan();
    a.config.host = plan.host;
    if (workingOffline()) {
        a.password.clear();  // working from the local copy: no sign-in at all
    } else if (plan.method == SignInMethod::OAuth2) {
        // A missing client ID is asked for once, right here.
        const bool noCommand = options_.connection.signIn.tokenCommand.isEmpty();
        QString unused;
        if (noCommand
            && oauthSettingsFor(options_.connection.signIn, plan.provider,
                                settings::readText(*clientIdKey(plan.provider)), OAuthFlow::Browser, &unused)
                   .clientId.isEmpty())
            askClientId();
        a.password.clear();
        a.signIn = signInSession(plan, a.username);
    } else {
        a.tokenHint = kTokenHint;
    }
    return a;
}

void Form1::showSignInStatus(const QString &text)
{
    setStatusText(text);
}

bool Form1::cancelSignIn()
{
    if (!oChilkat || !oChilkat->signingIn())
        return false;
    oChilkat->AbortProcess = true;
    return true;
}

void Form1::buildSignInMenu()
{
    signInMenu = new QMenu(this);
    signInMenu->setObjectName(QStringLiteral("SignInMenu"));
    auto *group = new QActionGroup(signInMenu);
    QAction *password = signInMenu->addAction(QStringLiteral("Sign in with a password"));
    password->setObjectName(QStringLiteral("SignInPassword"));
    QAction *oauth = signInMenu->addAction(QStringLiteral("Sign in with OAuth 2.0 (browser)"));
    oauth->setObjectName(QStringLiteral("SignInOAuth"));
    for (QAction *a : {password, oauth}) {
        a->setCheckable(true);
        group->addAction(a);
    }
    signInMenu->addSeparator();
    QAction *clientId = signInMenu->addAction(QStringLiteral("OAuth 2.0 client ID..."));
    clientId->setObjectName(QStringLiteral("SignInClientId"));
    QAction *forget = signInMenu->addAction(QStringLiteral("Forget this account's OAuth 2.0 sign-in"));
    forget->setObjectName(QStringLiteral("SignInForget"));
    connect(password, &QAction::triggered, this, [this] { chooseSignInMethod(SignInMethod::Password); });
    connect(oauth, &QAction::triggered, this, [this] { chooseSignInMethod(SignInMethod::OAuth2); });
    connect(clientId, &QAction::triggered, this, &Form1::askClientId);
    connect(forget, &QAction::triggered, this, &Form1::forgetSignIn);
    // The menu pops up without waiting, so nothing blocks the program.
    for (QWidget *w : std::initializer_list<QWidget *>{loginFrame, connectButton}) {
        w->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(w, &QWidget::customContextMenuRequested, this, [this, w](const QPoint &pos) {
            updateSignInView();
            signInMenu->popup(w->mapToGlobal(pos));
        });
    }
    connect(accountBox, &QLineEdit::textChanged, this, &Form1::updateSignInView);
    connect(accountSuffixCombo, &QComboBox::currentIndexChanged, this, &Form1::updateSignInView);
    updateSignInView();
}

void Form1::updateSignInView()
{
    const SignInPlan plan = signInPlan();
    const bool oauth = plan.method == SignInMethod::OAuth2;
    passwordBox->setEnabled(!oauth);
    passwordBox->setPlaceholderText(oauth ? kNoPasswordNeeded : QString());
    if (!signInMenu)
        return;
    signInMenu->findChild<QAction *>(QStringLiteral("SignInPassword"))->setChecked(!oauth);
    signInMenu->findChild<QAction *>(QStringLiteral("SignInOAuth"))->setChecked(oauth);
    signInMenu->findChild<QAction *>(QStringLiteral("SignInForget"))->setEnabled(oauth);
}

}  // namespace vc
