// The main window's controls and how they share the window's room. The menu
// bar is on top. Below it, the login and folder frames, the start commands and
// the between option keep their laid-out places (in twips) in a top area that
// scrolls only when the window is too short for it. The results area below
// takes the rest: its list grows with the window, the output commands and the
// status line keep their places at its bottom and share its width.
#include "app/Form1.h"

#include "app/Anchors.h"
#include "app/ResultsTicks.h"
#include "app/ResultsView.h"
#include "app/SettingsStore.h"
#include "app/StatusLine.h"
#include "app/WindowHelpers.h"
#include "app/WindowMenus.h"
#include "app/WindowPlacement.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <QTreeView>

#include <algorithm>

namespace vc {

namespace {

// The laid-out window below the menu bar, and where the results area begins.
constexpr int kWidthTwips = 8040;
constexpr int kHeightTwips = 10305;
constexpr int kResultsTopTwips = 6570;
// The least of the top area a short window shows (it scrolls for the rest),
// and the rows the results list keeps at least.
constexpr int kTopShownAtLeast = 80;
constexpr int kListRowsAtLeast = 3;

// Creates the controls of one window: each gets its object name and its
// geometry in twips.
struct Placer {
    static void place(QWidget *w, const char *name, int l, int t, int wd, int h)
    {
        w->setObjectName(QString::fromLatin1(name));
        w->setGeometry(twipsRect(l, t, wd, h));
    }
    template <class W>
    static W *white(QWidget *parent, const char *name, const char *caption, int l, int t, int wd, int h)
    {
        auto *w = new W(QString::fromUtf8(caption), parent);
        place(w, name, l, t, wd, h);
        formdesign::paintWhite(w);
        return w;
    }
    static QGroupBox *frame(QWidget *p, const char *name, const char *caption, int l, int t, int wd, int h)
    {
        return white<QGroupBox>(p, name, caption, l, t, wd, h);
    }
    static QCheckBox *check(QWidget *p, const char *name, const char *caption, int l, int t, int wd, int h)
    {
        return white<QCheckBox>(p, name, caption, l, t, wd, h);
    }
    static QRadioButton *option(QWidget *p, const char *name, const char *caption, int l, int t, int wd, int h)
    {
        return white<QRadioButton>(p, name, caption, l, t, wd, h);
    }
    static QLabel *label(QWidget *p, int index, const char *caption, int l, int t, int wd, int h)
    {
        auto *lb = white<QLabel>(p, index == 0 ? "lblLabels_0" : "lblLabels_1", caption, l, t, wd, h);
        lb->setProperty("index", index);
        return lb;
    }
    static QLineEdit *text(QWidget *p, const char *name, int l, int t, int wd, int h)
    {
        auto *e = new QLineEdit(p);
        place(e, name, l, t, wd, h);
        return e;
    }
    static QPushButton *button(QWidget *p, const char *name, const char *caption, int l, int t, int wd, int h)
    {
        auto *b = new QPushButton(QString::fromUtf8(caption), p);
        place(b, name, l, t, wd, h);
        b->setFont(formdesign::buttonFont());
        b->setAutoDefault(false);
        return b;
    }
};

// A control of the results area, laid out in the window's twips.
template <class W>
W *inResultsArea(W *w)
{
    w->move(w->x(), w->y() - twips(kResultsTopTwips));
    return w;
}

}  // namespace

void Form1::buildLayout()
{
    using P = Placer;
    setFont(formdesign::designFont());
    formdesign::paintWhite(this);
    menus_ = new WindowMenus(this);

    topArea = new QScrollArea(this);
    topArea->setObjectName(QStringLiteral("topArea"));
    topArea->setFrameShape(QFrame::NoFrame);
    topArea->setWidgetResizable(false);
    topArea->setFocusPolicy(Qt::NoFocus);
    formdesign::paintWhite(topArea->viewport());
    topControls = new QWidget;
    topControls->setObjectName(QStringLiteral("topControls"));
    topControls->resize(twips(kWidthTwips), twips(kResultsTopTwips));
    formdesign::paintWhite(topControls);
    topArea->setWidget(topControls);  // before its controls: they measure in the window's font
    QWidget *top = topControls;

    loginFrame = P::frame(top, "Frame5", "Login", 120, 120, 7800, 1800);
    // Each label's box reaches under its text box: the label comes first, so
    // the text box lies above it.
    lblLabels[0] = P::label(loginFrame, 0, "&Live ID:", 240, 345, 1320, 270);
    accountBox = P::text(loginFrame, "Text7", 1320, 300, 2880, 345);
    lblLabels[0]->setBuddy(accountBox);
    rememberMeBox = P::check(loginFrame, "Check1", "&Remember me", 4320, 345, 1575, 255);
    accountSuffixCombo = new QComboBox(loginFrame);
    accountSuffixCombo->setEditable(false);
    P::place(accountSuffixCombo, "Combo1", 7560, 300, 1905, 345);
    lblLabels[1] = P::label(loginFrame, 1, "&Password:", 240, 795, 1080, 270);
    passwordBox = P::text(loginFrame, "Text6", 1320, 750, 2880, 345);
    lblLabels[1]->setBuddy(passwordBox);
    passwordBox->setEchoMode(QLineEdit::Password);
    passwordBox->setAttribute(Qt::WA_InputMethodEnabled, false);
    autoConnectBox = P::check(loginFrame, "Check2", "&Autoconnect when software loads", 4320, 795, 3255, 255);
    connectButton = P::button(loginFrame, "PushButton17", "1. Connect", 240, 1200, 5760, 405);
    contactHelpButton = P::button(loginFrame, "PushButton15", "Help", 6120, 1200, 1425, 405);

    folderFrame = P::frame(top, "Frame2", "Folder", 120, 1980, 7800, 700);
    inboxOption = P::option(folderFrame, "Option3", "&Inbox", 240, 300, 855, 255);
    draftsOption = P::option(folderFrame, "Option5", "&Drafts", 1560, 300, 855, 255);
    sentOption = P::option(folderFrame, "Option6", "&Sent", 2880, 300, 1095, 255);
    junkOption = P::option(folderFrame, "Option7", "&Junk", 4200, 300, 855, 255);
    deletedOption = P::option(folderFrame, "Option9", "Dele&ted", 5595, 300, 1095, 255);
    inboxOption->setChecked(true);

    allEmailDataButton = P::button(top, "PushButton13", "Extract All Email Data", 120, 2800, 7800, 405);
    containingButton = P::button(top, "PushButton2", "Extract All Lines Containing This Text:", 120, 3310, 4335, 405);
    containingBox = P::text(top, "Text1", 4560, 3310, 3360, 400);
    notContainingButton =
        P::button(top, "PushButton8", "Extract All Lines Not Contain. This Text:", 120, 3825, 4335, 405);
    notContainingBox = P::text(top, "Text2", 4560, 3825, 3360, 400);
    linesHelpButton = P::button(top, "PushButton10", "Help >", 120, 4335, 975, 405);
    linesByNumberButton = P::button(top, "PushButton7", "Extract Lines By Number:", 1200, 4335, 3255, 405);
    lineNumbersBox = P::text(top, "Text5", 4560, 4335, 3360, 400);
    betweenHelpButton = P::button(top, "PushButton16", "Help >", 120, 4845, 975, 405);
    betweenWindowButton = P::button(top, "PushButton4", "Extract Between X and Y (Repeatedly)", 1200, 4845, 6720, 405);
    textSetHelpButton = P::button(top, "PushButton18", "Help >", 120, 5355, 975, 405);
    textSetWindowButton =
        P::button(top, "PushButton11", "Extract Lines Containing These Text Sets", 1200, 5355, 6720, 405);

    betweenOptionFrame = P::frame(top, "Frame6", "Extract Between Option", 120, 5820, 7800, 645);
    showDuplicatesBox = P::check(betweenOptionFrame, "Check3", "Show d&uplicate items in results", 240, 270, 3135, 255);
    keepWatchingBox = P::check(betweenOptionFrame, "keepWatchingBox", "Keep &watching", 3480, 270, 1680, 255);
    widenToCaptions(topControls);
    placeSuffixList();
    buildFolderBox();

    resultsArea = new QWidget(this);
    resultsArea->setObjectName(QStringLiteral("resultsArea"));
    resultsArea->resize(twips(kWidthTwips), twips(kHeightTwips) - twips(kResultsTopTwips));
    formdesign::paintWhite(resultsArea);
    QWidget *results = resultsArea;
    buildResultsList();
    saveTextButton =
        inResultsArea(P::button(results, "PushButton6", "Save Results As Text File", 120, 8235, 3840, 405));
    saveCommaButton =
        inResultsArea(P::button(results, "PushButton12", "Save As Comma Delimited", 4080, 8235, 3840, 405));
    clearListButton = inResultsArea(P::button(results, "PushButton9", "Clear List", 120, 8745, 3840, 405));
    copyLinesButton =
        inResultsArea(P::button(results, "PushButton1", "Copy Results To Clipboard", 4080, 8745, 3840, 405));
    copyTabsButton =
        inResultsArea(P::button(results, "PushButton3", "Copy To Clipboard (With Tabs)", 120, 9255, 3840, 405));
    copySpacesButton =
        inResultsArea(P::button(results, "PushButton14", "Copy To Clipboard (With Spaces)", 4080, 9255, 3840, 405));
    buildProgressBar();

    // The list takes what the results area grows by; the commands and the
    // status line keep their distance from its bottom and share its width.
    auto *anchors = new Anchors(resultsArea, resultsArea->size());
    anchors->add(resultsList, Anchors::kBoth);
    for (QWidget *left : {saveTextButton, clearListButton, copyTabsButton})
        anchors->add(left, Anchors::atBottom(Anchors::kLeftColumn));
    for (QWidget *right : {saveCommaButton, copyLinesButton, copySpacesButton})
        anchors->add(right, Anchors::atBottom(Anchors::kRightColumn));
    anchors->add(progressBar, Anchors::atBottom(Anchors::kWidth));

    setReadingOrder();
    // The window can shrink to a short top area and a few rows, but not
    // narrower than its controls unless the screen is.
    const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const int narrowest = screen ? std::min(twips(kWidthTwips), screen->availableGeometry().width()) : 0;
    setMinimumSize(narrowest, menuBarHeight(twips(kWidthTwips)) + kTopShownAtLeast + resultsAreaMinimumHeight());
    // Tabbing to a control of the top area scrolls it into view.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) {
        if (now && topControls->isAncestorOf(now))
            topArea->ensureWidgetVisible(now, 8, 8);
    });
    geometryTimer_ = new QTimer(this);
    geometryTimer_->setSingleShot(true);
    geometryTimer_->setInterval(500);
    connect(geometryTimer_, &QTimer::timeout, this, &Form1::storeWindowPlace);
}

// Tab follows the reading order: the login frame, the folder (the ticked
// option; the arrow keys move between options), the parameter boxes, the
// start commands and their option, the results, the output commands, help.
void Form1::setReadingOrder()
{
    formdesign::setTabOrder(
        {accountBox,          accountSuffixCombo, passwordBox,         rememberMeBox,       autoConnectBox,
         connectButton,       inboxOption,        draftsOption,        sentOption,          junkOption,
         deletedOption,       folderBox,          containingBox,       notContainingBox,    lineNumbersBox,
         allEmailDataButton,  containingButton,   notContainingButton, linesByNumberButton, betweenWindowButton,
         textSetWindowButton, showDuplicatesBox,  keepWatchingBox,     resultsList,         saveTextButton,
         saveCommaButton,     clearListButton,    copyLinesButton,     copyTabsButton,      copySpacesButton,
         contactHelpButton,   linesHelpButton,    betweenHelpButton,   textSetHelpButton});
    progressBar->setFocusPolicy(Qt::NoFocus);
    // Only the ticked folder option takes the focus by Tab.
    for (const FolderOption &o : folderOptions())
        connect(o.button, &QRadioButton::toggled, this, &Form1::tabToTickedFolder);
    tabToTickedFolder();
}

void Form1::tabToTickedFolder()
{
    for (const FolderOption &o : folderOptions()) {
        const Qt::FocusPolicy p = o.button->focusPolicy();
        o.button->setFocusPolicy(o.button->isChecked() ? Qt::FocusPolicy(p | Qt::TabFocus)
                                                       : Qt::FocusPolicy(p & ~Qt::TabFocus));
    }
}

// The account suffix list: at the right end of the account line, inside the
// login frame, as wide as its longest item needs (and at least its laid-out
// width) while it stays clear of "Remember me".
void Form1::placeSuffixList()
{
    const int right = loginFrame->width() - 4;
    const int wanted = std::max(accountSuffixCombo->sizeHint().width(), twips(1905));
    const int left = std::max(rememberMeBox->geometry().right() + 1 + 4, right - wanted);
    accountSuffixCombo->setGeometry(left, twips(300), right - left, twips(345));
}

void Form1::buildResultsList()
{
    resultsList = new ResultsView(resultsArea);
    Placer::place(resultsList, "ListView1", 120, 6570, 7800, 1575);
    inResultsArea(resultsList);
    resultsList->setModel(results_);
    resultsList->setRootIsDecorated(false);
    resultsList->setUniformRowHeights(true);  // keeps a million rows cheap to lay out
    resultsList->setItemsExpandable(false);
    resultsList->setAllColumnsShowFocus(true);
    resultsList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    resultsList->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    resultsList->header()->setStretchLastSection(false);
    resultsList->setToolTip(QStringLiteral("Move bar to right and out of window to reveal full names."));
    resultsList->setFont(formdesign::designFont());
    addTickCommands(resultsList, results_);
}

void Form1::buildProgressBar()
{
    progressBar = new QProgressBar(resultsArea);
    Placer::place(progressBar, "ProgressBar1", 120, 9780, 7800, 405);
    inResultsArea(progressBar);
    // The bar keeps the platform's own font rather than the window's.
    QFont f = QApplication::font();
    f.setFamily(f.family());
    f.setPointSizeF(f.pointSizeF() > 0 ? f.pointSizeF() : 9);
    f.setBold(false);
    progressBar->setFont(f);
    progressBar->setRange(0, 100);
    progressBar->setValue(0);
    progressBar->setTextVisible(true);
    progressBar->setAlignment(Qt::AlignCenter);
    statusLine_ = new StatusLine(progressBar, results_);
    setStatusText(QStringLiteral("Progress Bar"));
}

// ---------------------------------------------------------------------------
// Room

int Form1::menuBarHeight(int width) const
{
    QMenuBar *bar = menus_->bar();
    return bar->heightForWidth(width) > 0 ? bar->heightForWidth(width) : bar->sizeHint().height();
}

int Form1::resultsAreaMinimumHeight() const
{
    const int fixedPart = twips(kHeightTwips) - twips(kResultsTopTwips) - twips(1575);
    const int row = QFontMetrics(resultsList->font()).height() + 4;
    const int list =
        resultsList->header()->sizeHint().height() + kListRowsAtLeast * row + 2 * resultsList->frameWidth();
    return fixedPart + list;
}

QSize Form1::sizeHint() const
{
    return QSize(twips(kWidthTwips), menuBarHeight(twips(kWidthTwips)) + twips(kHeightTwips));
}

void Form1::layOutWindow()
{
    const int w = width();
    const int menu = menuBarHeight(w);
    menus_->bar()->setGeometry(0, 0, w, menu);
    const int content = height() - menu;
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, topArea);
    const int topWanted = topControls->height() + (w < topControls->width() ? scrollBar : 0);
    const int top = std::clamp(content - resultsAreaMinimumHeight(), std::min(kTopShownAtLeast, topWanted), topWanted);
    topArea->setGeometry(0, menu, w, top);
    resultsArea->setGeometry(0, menu + top, w, std::max(0, content - top));
}

QSize Form1::openingSize() const
{
    const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return sizeHint();
    const QRect avail = screen->availableGeometry();
    // The decoration is known once the window has been shown; until then the
    // frame is taken to be the client area.
    const QMargins frame(geometry().left() - frameGeometry().left(), geometry().top() - frameGeometry().top(),
                         frameGeometry().right() - geometry().right(), frameGeometry().bottom() - geometry().bottom());
    QSize size = fitOnScreen(sizeHint(), minimumSize(), avail, frame);
    // A top area that has to scroll needs room for its scroll bar.
    const int content = size.height() - menuBarHeight(size.width());
    if (content - resultsAreaMinimumHeight() < topControls->height()) {
        const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, topArea);
        size.setWidth(std::min(size.width() + scrollBar, avail.width() - frame.left() - frame.right()));
    }
    return size;
}

QRect Form1::resultsAreaOnScreen() const
{
    return QRect(resultsArea->mapToGlobal(QPoint(0, 0)), resultsArea->size());
}

void Form1::restoreWindowPlace()
{
    const QString stored = settings::readText(settings::key::WindowGeometry);
    if (!stored.isEmpty())
        restoreGeometry(QByteArray::fromBase64(stored.toLatin1()));
    keepOnScreen(this);
}

void Form1::storeWindowPlace()
{
    if (isVisible())
        settings::save(settings::key::WindowGeometry, QString::fromLatin1(saveGeometry().toBase64()));
}

void Form1::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layOutWindow();
    if (isVisible())
        geometryTimer_->start();
}

void Form1::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    if (isVisible())
        geometryTimer_->start();
}

void Form1::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // The decoration is known now: a window that does not fit comes back onto the screen.
    QTimer::singleShot(0, this, [this] { keepOnScreen(this); });
}

}  // namespace vc
