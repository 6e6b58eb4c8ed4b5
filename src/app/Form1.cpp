#include "app/Form1.h"

#include "app/CmdOutput.h"
#include "app/Form1Internal.h"
#include "app/ResultsView.h"
#include "app/SettingsStore.h"
#include "app/WindowHelpers.h"
#include "core/AppError.h"
#include "core/Convert.h"
#include "core/Product.h"
#include "mail/ImapComponent.h"

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
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <tuple>

namespace vc {

namespace {

Form1 *gInstance = nullptr;

Form1::ComponentFactory &componentFactory()
{
    static Form1::ComponentFactory f;
    return f;
}

// A check box's value as the classic control takes it: 0 unticked, 1 ticked,
// 2 greyed; anything else is an invalid property value.
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
}
ActiveCommand::~ActiveCommand()
{
    if (form_)
        --form_->activeCommands_;
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
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      options_(std::move(options))
{
    gInstance = this;
    setObjectName(QStringLiteral("Form1"));
    results_ = new ResultsModel(this);
    pointer_ = new WindowPointer(this);
    params_ = makeWindowRuleParams(this);
    buildLayout();
    wireHandlers();
}

Form1::~Form1()
{
    // Connection objects refer to the component; let them go first.
    oChilkat.reset();
    ChilkatImap1 = nullptr;
    component_.reset();
    if (gInstance == this)
        gInstance = nullptr;
}

// ---------------------------------------------------------------------------
// Layout

void Form1::buildLayout()
{
    setFixedSize(twips(8040), twips(10305));
    setFont(formdesign::designFont());
    formdesign::paintWhite(this);

    auto place = [](QWidget *w, const char *name, int l, int t, int wd, int h, int tab) {
        w->setObjectName(QString::fromLatin1(name));
        w->setGeometry(twipsRect(l, t, wd, h));
        w->setProperty("tabIndex", tab);
    };
    auto frame = [&](QWidget *parent, const char *name, const char *caption, int l, int t, int wd, int h, int tab) {
        auto *g = new QGroupBox(QString::fromUtf8(caption), parent);
        place(g, name, l, t, wd, h, tab);
        formdesign::paintWhite(g);
        return g;
    };
    auto label = [&](QWidget *parent, int index, const char *caption, int l, int t, int wd, int h, int tab) {
        auto *lb = new QLabel(QString::fromUtf8(caption), parent);
        place(lb, index == 0 ? "lblLabels_0" : "lblLabels_1", l, t, wd, h, tab);
        lb->setProperty("index", index);
        formdesign::paintWhite(lb);
        return lb;
    };
    auto text = [&](QWidget *parent, const char *name, int l, int t, int wd, int h, int tab) {
        auto *e = new QLineEdit(parent);
        place(e, name, l, t, wd, h, tab);
        return e;
    };
    auto check = [&](QWidget *parent, const char *name, const char *caption, int l, int t, int wd, int h, int tab) {
        auto *c = new QCheckBox(QString::fromUtf8(caption), parent);
        place(c, name, l, t, wd, h, tab);
        formdesign::paintWhite(c);
        return c;
    };
    auto option = [&](QWidget *parent, const char *name, const char *caption, int l, int t, int wd, int h, int tab) {
        auto *o = new QRadioButton(QString::fromUtf8(caption), parent);
        place(o, name, l, t, wd, h, tab);
        formdesign::paintWhite(o);
        return o;
    };
    auto button = [&](QWidget *parent, const char *name, const char *caption, int l, int t, int wd, int h, int tab) {
        auto *b = new QPushButton(QString::fromUtf8(caption), parent);
        place(b, name, l, t, wd, h, tab);
        b->setFont(formdesign::buttonFont());
        b->setAutoDefault(false);
        return b;
    };

    Frame5 = frame(this, "Frame5", "Login", 120, 120, 7800, 1800, 2);
    lblLabels[0] = label(Frame5, 0, "Live ID:", 240, 345, 1320, 270, 3);
    Text7 = text(Frame5, "Text7", 1320, 300, 2880, 345, 0);
    Check1 = check(Frame5, "Check1", "Remember me", 4320, 345, 1575, 255, 16);
    Combo1 = new QComboBox(Frame5);
    place(Combo1, "Combo1", 7560, 300, 1905, 345, 37);
    Combo1->setEditable(false);
    lblLabels[1] = label(Frame5, 1, "Password:", 240, 795, 1080, 270, 4);
    Text6 = text(Frame5, "Text6", 1320, 750, 2880, 345, 1);
    Text6->setEchoMode(QLineEdit::Password);
    Text6->setAttribute(Qt::WA_InputMethodEnabled, false);
    Check2 = check(Frame5, "Check2", "Autoconnect when software loads", 4320, 795, 3255, 255, 30);
    PushButton17 = button(Frame5, "PushButton17", "1. Connect", 240, 1200, 5760, 405, 17);
    PushButton15 = button(Frame5, "PushButton15", "Help", 6120, 1200, 1425, 405, 15);

    Frame2 = frame(this, "Frame2", "Folder", 120, 1980, 7800, 700, 31);
    Option3 = option(Frame2, "Option3", "Inbox", 240, 300, 855, 255, 34);
    Option5 = option(Frame2, "Option5", "Drafts", 1560, 300, 855, 255, 33);
    Option6 = option(Frame2, "Option6", "Sent", 2880, 300, 1095, 255, 32);
    Option7 = option(Frame2, "Option7", "Junk", 4200, 300, 855, 255, 36);
    Option9 = option(Frame2, "Option9", "Deleted", 5595, 300, 1095, 255, 35);
    Option3->setChecked(true);

    PushButton13 = button(this, "PushButton13", "Extract All Email Data", 120, 2800, 7800, 405, 21);
    PushButton2 = button(this, "PushButton2", "Extract All Lines Containing This Text:", 120, 3310, 4335, 405, 22);
    Text1 = text(this, "Text1", 4560, 3310, 3360, 400, 19);
    PushButton8 = button(this, "PushButton8", "Extract All Lines Not Contain. This Text:", 120, 3825, 4335, 405, 23);
    Text2 = text(this, "Text2", 4560, 3825, 3360, 400, 20);
    PushButton10 = button(this, "PushButton10", "Help >", 120, 4335, 975, 405, 24);
    PushButton7 = button(this, "PushButton7", "Extract Lines By Number:", 1200, 4335, 3255, 405, 25);
    Text5 = text(this, "Text5", 4560, 4335, 3360, 400, 18);
    PushButton16 = button(this, "PushButton16", "Help >", 120, 4845, 975, 405, 28);
    PushButton4 = button(this, "PushButton4", "Extract Between X and Y (Repeatedly)", 1200, 4845, 6720, 405, 26);
    PushButton18 = button(this, "PushButton18", "Help >", 120, 5355, 975, 405, 29);
    PushButton11 = button(this, "PushButton11", "Extract Lines Containing These Text Sets", 1200, 5355, 6720, 405, 27);

    Frame6 = frame(this, "Frame6", "Extract Between Option", 120, 5820, 7800, 645, 6);
    Check3 = check(Frame6, "Check3", "Show duplicate items in results", 240, 270, 3135, 255, 7);

    ListView1 = new ResultsView(this);
    place(ListView1, "ListView1", 120, 6570, 7800, 1575, 8);
    ListView1->setModel(results_);
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);  // keeps a million rows cheap to lay out
    ListView1->setItemsExpandable(false);
    ListView1->setAllColumnsShowFocus(true);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    ListView1->header()->setStretchLastSection(false);
    ListView1->setToolTip(QStringLiteral("Move bar to right and out of window to reveal full names."));
    ListView1->setFont(formdesign::designFont());

    PushButton6 = button(this, "PushButton6", "Save Results As Text File", 120, 8235, 3840, 405, 9);
    PushButton12 = button(this, "PushButton12", "Save As Comma Delimited", 4080, 8235, 3840, 405, 10);
    PushButton9 = button(this, "PushButton9", "Clear List", 120, 8745, 3840, 405, 11);
    PushButton1 = button(this, "PushButton1", "Copy Results To Clipboard", 4080, 8745, 3840, 405, 14);
    PushButton3 = button(this, "PushButton3", "Copy To Clipboard (With Tabs)", 120, 9255, 3840, 405, 12);
    PushButton14 = button(this, "PushButton14", "Copy To Clipboard (With Spaces)", 4080, 9255, 3840, 405, 13);

    ProgressBar1 = new QProgressBar(this);
    place(ProgressBar1, "ProgressBar1", 120, 9780, 7800, 405, 5);
    {
        // The bar keeps the platform's own font rather than the window's.
        QFont f = QApplication::font();
        f.setFamily(f.family());
        f.setPointSizeF(f.pointSizeF() > 0 ? f.pointSizeF() : 9);
        f.setBold(false);
        ProgressBar1->setFont(f);
    }
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(true);
    ProgressBar1->setAlignment(Qt::AlignCenter);
    setStatusText(QStringLiteral("Progress Bar"));

    // Focus order: increasing tab index over the controls that take the focus.
    QList<QWidget *> focusable;
    for (QWidget *w : findChildren<QWidget *>()) {
        if (w->property("tabIndex").isValid() && w->focusPolicy() != Qt::NoFocus && !qobject_cast<QGroupBox *>(w)
            && !qobject_cast<QLabel *>(w) && !qobject_cast<QProgressBar *>(w))
            focusable << w;
    }
    std::sort(focusable.begin(), focusable.end(),
              [](QWidget *a, QWidget *b) { return a->property("tabIndex").toInt() < b->property("tabIndex").toInt(); });
    for (int i = 0; i + 1 < focusable.size(); ++i)
        QWidget::setTabOrder(focusable[i], focusable[i + 1]);
    ProgressBar1->setFocusPolicy(Qt::NoFocus);
}

QString Form1::statusText() const
{
    QString f = ProgressBar1->format();
    return f.replace(QStringLiteral("%%"), QStringLiteral("%"));
}

void Form1::setStatusText(const QString &text)
{
    QString f = text;
    ProgressBar1->setFormat(f.replace(QLatin1Char('%'), QStringLiteral("%%")));
}

// ---------------------------------------------------------------------------
// Small handlers: each stores its control's value at once.

void Form1::wireHandlers()
{
    connect(Text7, &QLineEdit::textChanged, this, [this] { Text7_Change(); });
    connect(Text6, &QLineEdit::textChanged, this, [this] { Text6_Change(); });
    // toggled fires for the user's clicks and for values set by code alike.
    connect(Check1, &QCheckBox::toggled, this, [this] { Check1_Click(); });
    connect(Check2, &QCheckBox::toggled, this, [this] { Check2_Click(); });
    connect(Combo1, &QComboBox::currentIndexChanged, this, [this] { Combo1_Click(); });
    connect(Combo1, &QComboBox::activated, this, [this] { Combo1_Click(); });
    for (QRadioButton *o : {Option3, Option5, Option6, Option7, Option9})
        connect(o, &QRadioButton::toggled, this, [this](bool on) {
            if (on)
                Option_Click();
        });
    for (QLineEdit *e : {Text7, Text6})
        e->installEventFilter(this);

    connect(PushButton17, &QPushButton::clicked, this, [this] { PushButton17_Click(); });
    connect(PushButton13, &QPushButton::clicked, this, [this] { PushButton13_Click(); });
    connect(PushButton2, &QPushButton::clicked, this, [this] { PushButton2_Click(); });
    connect(PushButton8, &QPushButton::clicked, this, [this] { PushButton8_Click(); });
    connect(PushButton7, &QPushButton::clicked, this, [this] { PushButton7_Click(); });
    connect(PushButton4, &QPushButton::clicked, this, [this] { PushButton4_Click(); });
    connect(PushButton11, &QPushButton::clicked, this, [this] { PushButton11_Click(); });
    connect(PushButton14, &QPushButton::clicked, this, [this] { PushButton14_Click(); });
    connect(PushButton3, &QPushButton::clicked, this, [this] { PushButton3_Click(); });
    connect(PushButton1, &QPushButton::clicked, this, [this] { PushButton1_Click(); });
    connect(PushButton6, &QPushButton::clicked, this, [this] { PushButton6_Click(); });
    connect(PushButton12, &QPushButton::clicked, this, [this] { PushButton12_Click(); });
    connect(PushButton9, &QPushButton::clicked, this, [this] { PushButton9_Click(); });
    connect(PushButton15, &QPushButton::clicked, this, [this] { PushButton15_Click(); });
    connect(PushButton10, &QPushButton::clicked, this, [this] { PushButton10_Click(); });
    connect(PushButton16, &QPushButton::clicked, this, [this] { PushButton16_Click(); });
    connect(PushButton18, &QPushButton::clicked, this, [this] { PushButton18_Click(); });

    // Hover pointer: the hand over commands (the extraction commands even while
    // busy), the default pointer over the background, frames, boxes and list.
    for (QWidget *w :
         {static_cast<QWidget *>(PushButton1), static_cast<QWidget *>(PushButton3), static_cast<QWidget *>(PushButton4),
          static_cast<QWidget *>(PushButton6), static_cast<QWidget *>(PushButton9),
          static_cast<QWidget *>(PushButton10), static_cast<QWidget *>(PushButton11),
          static_cast<QWidget *>(PushButton12), static_cast<QWidget *>(PushButton14),
          static_cast<QWidget *>(PushButton15), static_cast<QWidget *>(PushButton16),
          static_cast<QWidget *>(PushButton17), static_cast<QWidget *>(PushButton18), static_cast<QWidget *>(Check3)})
        pointer_->hover(w, pointer::Custom);
    for (QWidget *w : {PushButton2, PushButton7, PushButton8, PushButton13})
        pointer_->hover(w, pointer::Custom, true);
    for (QWidget *w : {static_cast<QWidget *>(this), static_cast<QWidget *>(Frame2), static_cast<QWidget *>(Frame5),
                       static_cast<QWidget *>(Frame6), static_cast<QWidget *>(Text6), static_cast<QWidget *>(Text7),
                       ListView1->viewport()})
        pointer_->hover(w, pointer::Default);
}

void Form1::Text7_Change()
{
    settings::Save(QStringLiteral("User"), Text7->text());
}
void Form1::Text6_Change()
{
    settings::Save(QStringLiteral("Password"), Text6->text());
}

void Form1::Check1_Click()
{
    settings::Save(QStringLiteral("StayConnected"),
                   checkValue(Check1) == 1 ? QStringLiteral("1") : QStringLiteral("0"));
    Check2->setEnabled(checkValue(Check1) == 1);
}

void Form1::Check2_Click()
{
    settings::Save(QStringLiteral("AutoConnect"), checkValue(Check2) == 1 ? QStringLiteral("1") : QStringLiteral("0"));
}

void Form1::Combo1_Click()
{
    settings::Save(QStringLiteral("Combo1"), QString::number(Combo1->currentIndex()));
}

void Form1::Option_Click()
{
    const std::pair<const char *, QRadioButton *> all[] = {
        {"Option3", Option3}, {"Option5", Option5}, {"Option6", Option6}, {"Option7", Option7}, {"Option9", Option9}};
    for (const auto &[name, button] : all)
        settings::Save(QString::fromLatin1(name), convert::boolText(button->isChecked()));
}

void Form1::setCheck(QCheckBox *box, bool ticked)
{
    setCheckValue(box, ticked ? 1 : 0);
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
    if (event->type() == QEvent::FocusIn && (watched == Text7 || watched == Text6)) {
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
    loading_ = true;
    ErrorTrap trap(QStringLiteral("Vellumcast2/19/2015.Form1.Form_Load"));
    trap(100, [&] { ApplySkin(); });
    trap(102, [&] {
        if (!options_.onlineCheck)
            return;
        CheckOnline();
    });
    trap(104, [&] { CenterForm(this); });
    bool hand = false;
    trap(106, [&] { hand = FileExists(handCursorFile()); });
    if (hand)
        trap(108, [&] { pointer_->loadCustomImage(handCursorFile()); });
    trap(128, [&] {
        setWindowTitle(product::kAppTitle);
        setWindowIcon(QIcon(QStringLiteral(":/vellumcast.png")));
    });
    trap(130, [&] { results_->setHeader(QStringLiteral("Results")); });
    trap(132, [&] { ListView1->header()->resizeSection(0, twips(7300)); });
    trap(134, [&] { Text7->setText(settings::Read(QStringLiteral("User"))); });
    trap(136, [&] { Text6->setText(settings::Read(QStringLiteral("Password"))); });
    trap(140, [&] { members.mExtractAllEmailData = false; });
    trap(142, [&] { members.mExtractAllEmailDataContaining = false; });
    trap(144, [&] { members.mExtractAllEmailDataContaininglist = false; });
    trap(146, [&] { members.mExtractAllEmailDataNotContaining = false; });
    trap(148, [&] { members.mExtractAllEmailDataStartsWith = false; });
    trap(150, [&] { members.mExtractAllEmailDataLineNumber = false; });
    trap(152, [&] {
        component_ = createComponent(options_.connection);
        ChilkatImap1 = component_.get();
    });

    int stay = 0;
    if (trap(154,
             [&] { stay = convert::toInt16(settings::Read(QStringLiteral("StayConnected"), QStringLiteral("0"))); })) {
        if (stay != 0) {
            trap(156, [&] { setCheckValue(Check1, 1); });
            trap(158, [&] { Text7->setText(settings::Read(QStringLiteral("User"))); });
            trap(160, [&] { Text6->setText(settings::Read(QStringLiteral("Password"))); });
        } else {
            trap(162, [&] { setCheckValue(Check1, 0); });
            trap(164, [&] { Text7->clear(); });
            trap(166, [&] { Text6->clear(); });
        }
    }
    trap(170, [&] { Check2->setEnabled(checkValue(Check1) == 1); });
    trap(176, [&] {
        setCheckValue(Check2, convert::toInt16(settings::Read(QStringLiteral("AutoConnect"), QStringLiteral("0"))));
    });
    const std::tuple<int, const char *, QRadioButton *, const char *> options[] = {{178, "Option3", Option3, "1"},
                                                                                   {180, "Option5", Option5, "0"},
                                                                                   {182, "Option6", Option6, "0"},
                                                                                   {184, "Option7", Option7, "0"},
                                                                                   {186, "Option9", Option9, "0"}};
    for (const auto &[line, name, button, def] : options)
        trap(line, [&] {
            setOption(button, convert::toBool(settings::Read(QString::fromLatin1(name), QString::fromLatin1(def))));
        });

    {
        // Items are added without selecting one (index stays -1), as the list box
        // of the old design did; the stored index is applied at line 777.
        const QSignalBlocker block(Combo1);
        trap(333, [&] { Combo1->addItem(QStringLiteral("Live!ID")); });
        trap(444, [&] { Combo1->addItem(product::kAccountSuffixes.value(0)); });
        trap(555, [&] { Combo1->addItem(product::kAccountSuffixes.value(1)); });
        trap(666, [&] { Combo1->addItem(product::kAccountSuffixes.value(2)); });
        Combo1->setCurrentIndex(-1);
    }
    trap(777, [&] {
        const int index = convert::toInt16(settings::Read(QStringLiteral("Combo1"), QStringLiteral("0")));
        if (index < -1 || index >= Combo1->count())
            vc::raise(kInvalidPropertyValue, QStringLiteral("Invalid property value"));
        Combo1->setCurrentIndex(index);
    });
    bool autoConnect = false;
    trap(198, [&] { autoConnect = checkValue(Check2) == 1; });
    if (autoConnect)
        trap(200, [&] { PushButton17_Click(); });
    loading_ = false;
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
    event->accept();
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
