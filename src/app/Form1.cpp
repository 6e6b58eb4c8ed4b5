#include "app/Form1.h"

#include "app/CmdOutput.h"
#include "app/Form1Internal.h"
#include "app/PasswordKeeper.h"
#include "app/ResultsView.h"
#include "app/RuleWindow.h"
#include "app/SettingsStore.h"
#include "app/StatusLine.h"
#include "app/WindowHelpers.h"
#include "app/WindowPlacement.h"
#include "core/AppError.h"
#include "core/Dialogs.h"
#include "core/Product.h"
#include "core/TrapLocations.h"
#include "mail/ImapComponent.h"
#include "mail/signin/SignInUi.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QTreeView>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>

namespace vc {

namespace {

Form1 *gInstance = nullptr;

Form1::ComponentFactory &componentFactory()
{
    static Form1::ComponentFactory f;
    return f;
}

// A check box's value as a number: 0 unticked, 1 ticked, 2 greyed; anything
// else is an invalid property value.
void setCheckValue(QCheckBox *box, int value)
{
    if (value < 0 || value > 2)
        vc::raise(kInvalidPropertyValue, QStringLiteral("Invalid property value"));
    box->setTristate(value == 2);
    box->setCheckState(value == 0 ? Qt::Unchecked : value == 1 ? Qt::Checked : Qt::PartiallyChecked);
}

int checkValue(const QCheckBox *box)
{
    switch (box->checkState()) {
    case Qt::Checked: return 1;
    case Qt::PartiallyChecked: return 2;
    default: return 0;
    }
}

}  // namespace

ActiveCommand::ActiveCommand(Form1 *f) : form_(f)
{
    ++form_->activeCommands_;
    form_->commandsChanged();
}
ActiveCommand::~ActiveCommand()
{
    if (form_) {
        --form_->activeCommands_;
        form_->commandsChanged();
    }
}

Form1 *Form1::instance()
{
    return gInstance;
}

void Form1::setComponentFactory(ComponentFactory factory)
{
    componentFactory() = std::move(factory);
}

Form1::Form1(Form1Options options, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint),
      options_(std::move(options))
{
    gInstance = this;
    setObjectName(QStringLiteral("Form1"));
    results_ = new ResultsModel(this);
    pointer_ = new WindowPointer(this);
    signInUi_ = makeWindowSignInUi();
    buildLayout();
    tipCutOffCaptions(this);
    wireHandlers();
    buildSignInMenu();
    buildMenus();
    resize(openingSize());
    // The rule windows' "Start Extracting" runs as a start command of this window.
    RuleWindow::setStartAction(
        [this](QPushButton *button, const QString &caption, QWidget *window, Rule rule, const QString &location) {
            startCommand(button, caption, window, rule, location);
        });
    installFieldsHooks();
}

Form1::~Form1()
{
    // Connection objects refer to the component; let them go first.
    oChilkat.reset();
    ChilkatImap1 = nullptr;
    component_.reset();
    if (gInstance == this) {
        gInstance = nullptr;
        RuleWindow::setStartAction(nullptr);
        removeFieldsHooks();
    }
}

QString Form1::statusText() const
{
    return statusLine_->text();
}

void Form1::setStatusText(const QString &text)
{
    statusLine_->setText(text);
}

void Form1::commandsChanged()
{
    statusLine_->setIdle(!commandActive());
}

std::array<Form1::FolderOption, 5> Form1::folderOptions() const
{
    return {{{inboxOption, settings::key::Option3, "Inbox", 178},
             {draftsOption, settings::key::Option5, "Drafts", 180},
             {sentOption, settings::key::Option6, "Sent", 182},
             {junkOption, settings::key::Option7, "Junk", 184},
             {deletedOption, settings::key::Option9, "Deleted", 186}}};
}

// ---------------------------------------------------------------------------
// Small handlers: each stores its control's value at once.

void Form1::wireHandlers()
{
    connect(accountBox, &QLineEdit::textChanged, this, &Form1::Text7_Change);
    connect(passwordBox, &QLineEdit::textChanged, this, &Form1::Text6_Change);
    // toggled fires for the user's clicks and for values set by code alike.
    connect(rememberMeBox, &QCheckBox::toggled, this, &Form1::Check1_Click);
    connect(autoConnectBox, &QCheckBox::toggled, this, &Form1::Check2_Click);
    // A pick in the list and an index set by code both change the current
    // index; a pick of the entry already shown changes nothing to store.
    connect(accountSuffixCombo, &QComboBox::currentIndexChanged, this, &Form1::Combo1_Click);
    for (const FolderOption &o : folderOptions())
        connect(o.button, &QRadioButton::toggled, this, [this](bool on) {
            if (on)
                Option_Click();
        });
    for (QLineEdit *e : {accountBox, passwordBox})
        e->installEventFilter(this);
    // The parameter boxes are stored at every change, like the markers.
    connect(containingBox, &QLineEdit::textChanged, this,
            [](const QString &text) { settings::save(settings::key::Text1, text); });
    connect(notContainingBox, &QLineEdit::textChanged, this,
            [](const QString &text) { settings::save(settings::key::Text2, text); });
    connect(lineNumbersBox, &QLineEdit::textChanged, this,
            [](const QString &text) { settings::save(settings::key::Text5, text); });

    const std::pair<QPushButton *, void (Form1::*)()> commands[] = {
        {connectButton, &Form1::PushButton17_Click},       {allEmailDataButton, &Form1::PushButton13_Click},
        {containingButton, &Form1::PushButton2_Click},     {notContainingButton, &Form1::PushButton8_Click},
        {linesByNumberButton, &Form1::PushButton7_Click},  {betweenWindowButton, &Form1::PushButton4_Click},
        {textSetWindowButton, &Form1::PushButton11_Click}, {copySpacesButton, &Form1::PushButton14_Click},
        {copyTabsButton, &Form1::PushButton3_Click},       {copyLinesButton, &Form1::PushButton1_Click},
        {saveTextButton, &Form1::PushButton6_Click},       {saveCommaButton, &Form1::PushButton12_Click},
        {clearListButton, &Form1::PushButton9_Click},      {contactHelpButton, &Form1::PushButton15_Click},
        {linesHelpButton, &Form1::PushButton10_Click},     {betweenHelpButton, &Form1::PushButton16_Click},
        {textSetHelpButton, &Form1::PushButton18_Click}};
    for (const auto &command : commands)
        connect(command.first, &QPushButton::clicked, this, command.second);

    // Hover pointer: the hand over commands (the extraction commands even while
    // busy), the default pointer over the background, frames, boxes and list.
    for (QWidget *w : std::initializer_list<QWidget *>{
             copyLinesButton, copyTabsButton, betweenWindowButton, saveTextButton, clearListButton, linesHelpButton,
             textSetWindowButton, saveCommaButton, copySpacesButton, contactHelpButton, betweenHelpButton,
             connectButton, textSetHelpButton, showDuplicatesBox})
        pointer_->hover(w, pointer::Custom);
    for (QWidget *w : {containingButton, linesByNumberButton, notContainingButton, allEmailDataButton})
        pointer_->hover(w, pointer::Custom, true);
    for (QWidget *w :
         std::initializer_list<QWidget *>{this, topControls, resultsArea, folderFrame, loginFrame, betweenOptionFrame,
                                          passwordBox, accountBox, resultsList->viewport()})
        pointer_->hover(w, pointer::Default);
}

void Form1::Text7_Change()
{
    settings::save(settings::key::User, accountBox->text());
}
// The password is never written to the settings file (see Form1_Password.cpp).
void Form1::Text6_Change()
{
    passwordChanged();
}

void Form1::Check1_Click()
{
    settings::saveNumber(settings::key::StayConnected, checkValue(rememberMeBox) == 1 ? 1 : 0);
    autoConnectBox->setEnabled(checkValue(rememberMeBox) == 1);
    rememberMeChanged(checkValue(rememberMeBox) == 1);
}

void Form1::Check2_Click()
{
    settings::saveNumber(settings::key::AutoConnect, checkValue(autoConnectBox) == 1 ? 1 : 0);
}

void Form1::Combo1_Click()
{
    settings::saveNumber(settings::key::Combo1, accountSuffixCombo->currentIndex());
}

void Form1::Option_Click()
{
    for (const FolderOption &o : folderOptions())
        settings::saveFlag(o.key, o.button->isChecked());
}

void Form1::setOption(QRadioButton *button, bool on)
{
    if (on) {
        button->setChecked(true);  // toggled(true) runs the click handler when it becomes selected
        return;
    }
    // An exclusive button cannot be unticked directly; a deselected button writes nothing.
    const QSignalBlocker block(button);
    button->setAutoExclusive(false);
    button->setChecked(false);
    button->setAutoExclusive(true);
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn && (watched == accountBox || watched == passwordBox)) {
        auto *box = static_cast<QLineEdit *>(watched);
        box->selectAll();
        // A mouse click places the cursor after the focus arrives; select again afterwards.
        QTimer::singleShot(0, box, [box] {
            if (box->hasFocus())
                box->selectAll();
        });
    }
    return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// Start-up

void Form1::ApplySkin()
{
    const QString skin = QDir(programFolder()).filePath(QStringLiteral("x/o.cjs"));
    if (!QFileInfo(skin).isFile())
        return;
    ApplyFormColors(this);
    QFile f(skin);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        vc::raise(err::PathFileAccess, f.errorString());
    setStyleSheet(QString::fromUtf8(f.readAll()));
}

void Form1::Form_Load()
{
    if (const std::optional<QString> why = settings::refusal())
        dialogs().messageBox(*why, BoxButtons::Ok, BoxIcon::Warning, QString());
    ErrorTrap trap(location::Form1::Form_Load);
    loadingAccount_ = true;
    trap(100, [&] { ApplySkin(); });
    trap(102, [&] {
        if (options_.onlineCheck)
            CheckOnline();
    });
    trap(104, [&] {
        resize(openingSize());
        CenterForm(this);
        restoreWindowPlace();
    });
    bool hand = false;
    trap(106, [&] { hand = FileExists(handCursorFile()); });
    if (hand)
        trap(108, [&] { pointer_->loadCustomImage(handCursorFile()); });
    trap(128, [&] {
        setWindowTitle(product::kAppTitle);
        setWindowIcon(QIcon(QStringLiteral(":/vellumcast.png")));
    });
    trap(130, [&] { results_->setHeader(QStringLiteral("Results")); });
    trap(132, [&] { static_cast<ResultsView *>(resultsList)->setColumnWidth(twips(7300)); });
    trap(134, [&] { accountBox->setText(settings::readText(settings::key::User)); });
    readLegacyPassword(trap);
    trap(140, [&] { members.rule.reset(); });  // no rule member is set
    trap(152, [&] {
        component_ = createComponent(options_.connection);
        ChilkatImap1 = component_.get();
    });
    loadAccount(trap);
    loadFolderAndSuffix(trap);
    loadChosenFolder();
    loadParameterBoxes(trap);
    restorePassword(trap);
    loadingAccount_ = false;
    bool autoConnect = false;
    trap(198, [&] { autoConnect = checkValue(autoConnectBox) == 1; });
    if (autoConnect)
        trap(200, [&] { PushButton17_Click(); });
}

// "Remember me" decides whether the remembered password comes back (from an
// older settings file here, from the keychain in restorePassword()); the
// account name always comes back (its box's change handler stores what it is
// set to).
void Form1::loadAccount(ErrorTrap &trap)
{
    int stay = 0;
    if (trap(154, [&] { stay = settings::readInt16(settings::key::StayConnected); })) {
        if (stay != 0) {
            trap(156, [&] { setCheckValue(rememberMeBox, 1); });
            trap(158, [&] { accountBox->setText(settings::readText(settings::key::User)); });
            trap(160, [&] { passwordBox->setText(legacyPassword_); });
        } else {
            // Without "Remember me" the account name stays and the password goes.
            trap(162, [&] { setCheckValue(rememberMeBox, 0); });
            trap(164, [&] { accountBox->setText(settings::readText(settings::key::User)); });
            trap(166, [&] { passwordBox->clear(); });
        }
    }
    trap(170, [&] { autoConnectBox->setEnabled(checkValue(rememberMeBox) == 1); });
    trap(176, [&] { setCheckValue(autoConnectBox, settings::readInt16(settings::key::AutoConnect)); });
}

void Form1::loadFolderAndSuffix(ErrorTrap &trap)
{
    for (const FolderOption &o : folderOptions())
        trap(o.loadLine, [&] { setOption(o.button, settings::readBool(o.key)); });
    {
        // The items go in without selecting one (the index stays -1); the
        // stored index is applied afterwards, and that choice is stored.
        const QSignalBlocker block(accountSuffixCombo);
        trap(333, [&] { accountSuffixCombo->addItem(QStringLiteral("Live!ID")); });
        trap(444, [&] { accountSuffixCombo->addItem(product::kAccountSuffixes.value(0)); });
        trap(555, [&] { accountSuffixCombo->addItem(product::kAccountSuffixes.value(1)); });
        trap(666, [&] { accountSuffixCombo->addItem(product::kAccountSuffixes.value(2)); });
        accountSuffixCombo->setCurrentIndex(-1);
    }
    placeSuffixList();  // now that the list knows its longest item
    trap(777, [&] {
        const int index = settings::readInt16(settings::key::Combo1);
        if (index < -1 || index >= accountSuffixCombo->count())
            vc::raise(kInvalidPropertyValue, QStringLiteral("Invalid property value"));
        accountSuffixCombo->setCurrentIndex(index);
    });
}

// The parameter boxes come back as they were left; filling them writes nothing.
void Form1::loadParameterBoxes(ErrorTrap &trap)
{
    struct Box {
        int line;
        QLineEdit *edit;
        const settings::Key &key;
    };
    const Box boxes[] = {{190, containingBox, settings::key::Text1},
                         {192, notContainingBox, settings::key::Text2},
                         {194, lineNumbersBox, settings::key::Text5}};
    for (const Box &b : boxes) {
        const QSignalBlocker block(b.edit);
        trap(b.line, [&] { b.edit->setText(settings::readText(b.key)); });
    }
}

std::unique_ptr<ImapComponent> createComponent(const ConnectionConfig &config)
{
    if (componentFactory())
        return componentFactory()(config);
    return defaultComponent(config);
}

// ---------------------------------------------------------------------------
// Closing ends the program.

void Form1::closeEvent(QCloseEvent *event)
{
    flushPassword();
    event->accept();
    if (geometryTimer_->isActive())
        storeWindowPlace();
    const bool busy = commandActive() || onExtractEmail;
    if (exitHandler_) {
        exitHandler_(busy);
        return;
    }
    if (busy) {
        // A command waits in its own event loop and would keep the program alive;
        // nothing is left to save (settings reach the file at every change).
        std::fflush(nullptr);
        std::_Exit(0);
    }
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w != this)
            w->hide();
    QCoreApplication::exit(0);
}

}  // namespace vc
