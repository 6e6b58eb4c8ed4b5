// The main window's controls: kind, object name, caption, place and size (in
// twips) and tab index of each, container by container.
#include "app/Form1.h"
#include "app/ResultsView.h"

#include "app/ResultsTicks.h"
#include "app/WindowHelpers.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeView>

#include <algorithm>

namespace vc {

namespace {

// Creates the controls of one window: each gets its object name, its geometry
// in twips and its tab index (the "tabIndex" property that orders the focus).
struct Placer {
    static void place(QWidget *w, const char *name, int l, int t, int wd, int h, int tab)
    {
        w->setObjectName(QString::fromLatin1(name));
        w->setGeometry(twipsRect(l, t, wd, h));
        w->setProperty("tabIndex", tab);
    }
    template <class W>
    static W *white(QWidget *parent, const char *name, const char *caption, int l, int t, int wd, int h, int tab)
    {
        auto *w = new W(QString::fromUtf8(caption), parent);
        place(w, name, l, t, wd, h, tab);
        formdesign::paintWhite(w);
        return w;
    }
    static QGroupBox *frame(QWidget *p, const char *name, const char *caption, int l, int t, int wd, int h, int tab)
    {
        return white<QGroupBox>(p, name, caption, l, t, wd, h, tab);
    }
    static QCheckBox *check(QWidget *p, const char *name, const char *caption, int l, int t, int wd, int h, int tab)
    {
        return white<QCheckBox>(p, name, caption, l, t, wd, h, tab);
    }
    static QRadioButton *option(QWidget *p, const char *name, const char *caption, int l, int t, int wd, int h, int tab)
    {
        return white<QRadioButton>(p, name, caption, l, t, wd, h, tab);
    }
    static QLabel *label(QWidget *p, int index, const char *caption, int l, int t, int wd, int h, int tab)
    {
        auto *lb = white<QLabel>(p, index == 0 ? "lblLabels_0" : "lblLabels_1", caption, l, t, wd, h, tab);
        lb->setProperty("index", index);
        return lb;
    }
    static QLineEdit *text(QWidget *p, const char *name, int l, int t, int wd, int h, int tab)
    {
        auto *e = new QLineEdit(p);
        place(e, name, l, t, wd, h, tab);
        return e;
    }
    static QPushButton *button(QWidget *p, const char *name, const char *caption, int l, int t, int wd, int h, int tab)
    {
        auto *b = new QPushButton(QString::fromUtf8(caption), p);
        place(b, name, l, t, wd, h, tab);
        b->setFont(formdesign::buttonFont());
        b->setAutoDefault(false);
        return b;
    }
};

// Focus order: increasing tab index over the controls that take the focus.
void orderFocusByTabIndex(QWidget *window)
{
    QList<QWidget *> focusable;
    for (QWidget *w : window->findChildren<QWidget *>()) {
        if (w->property("tabIndex").isValid() && w->focusPolicy() != Qt::NoFocus && !qobject_cast<QGroupBox *>(w)
            && !qobject_cast<QLabel *>(w) && !qobject_cast<QProgressBar *>(w))
            focusable << w;
    }
    std::sort(focusable.begin(), focusable.end(),
              [](QWidget *a, QWidget *b) { return a->property("tabIndex").toInt() < b->property("tabIndex").toInt(); });
    for (int i = 0; i + 1 < focusable.size(); ++i)
        QWidget::setTabOrder(focusable[i], focusable[i + 1]);
}

}  // namespace

void Form1::buildLayout()
{
    using P = Placer;
    setFixedSize(twips(8040), twips(10305));
    setFont(formdesign::designFont());
    formdesign::paintWhite(this);

    loginFrame = P::frame(this, "Frame5", "Login", 120, 120, 7800, 1800, 2);
    lblLabels[0] = P::label(loginFrame, 0, "Live ID:", 240, 345, 1320, 270, 3);
    accountBox = P::text(loginFrame, "Text7", 1320, 300, 2880, 345, 0);
    rememberMeBox = P::check(loginFrame, "Check1", "Remember me", 4320, 345, 1575, 255, 16);
    accountSuffixCombo = new QComboBox(loginFrame);
    P::place(accountSuffixCombo, "Combo1", 7560, 300, 1905, 345, 37);
    accountSuffixCombo->setEditable(false);
    lblLabels[1] = P::label(loginFrame, 1, "Password:", 240, 795, 1080, 270, 4);
    passwordBox = P::text(loginFrame, "Text6", 1320, 750, 2880, 345, 1);
    passwordBox->setEchoMode(QLineEdit::Password);
    passwordBox->setAttribute(Qt::WA_InputMethodEnabled, false);
    autoConnectBox = P::check(loginFrame, "Check2", "Autoconnect when software loads", 4320, 795, 3255, 255, 30);
    connectButton = P::button(loginFrame, "PushButton17", "1. Connect", 240, 1200, 5760, 405, 17);
    contactHelpButton = P::button(loginFrame, "PushButton15", "Help", 6120, 1200, 1425, 405, 15);

    folderFrame = P::frame(this, "Frame2", "Folder", 120, 1980, 7800, 700, 31);
    inboxOption = P::option(folderFrame, "Option3", "Inbox", 240, 300, 855, 255, 34);
    draftsOption = P::option(folderFrame, "Option5", "Drafts", 1560, 300, 855, 255, 33);
    sentOption = P::option(folderFrame, "Option6", "Sent", 2880, 300, 1095, 255, 32);
    junkOption = P::option(folderFrame, "Option7", "Junk", 4200, 300, 855, 255, 36);
    deletedOption = P::option(folderFrame, "Option9", "Deleted", 5595, 300, 1095, 255, 35);
    inboxOption->setChecked(true);

    allEmailDataButton = P::button(this, "PushButton13", "Extract All Email Data", 120, 2800, 7800, 405, 21);
    containingButton =
        P::button(this, "PushButton2", "Extract All Lines Containing This Text:", 120, 3310, 4335, 405, 22);
    containingBox = P::text(this, "Text1", 4560, 3310, 3360, 400, 19);
    notContainingButton =
        P::button(this, "PushButton8", "Extract All Lines Not Contain. This Text:", 120, 3825, 4335, 405, 23);
    notContainingBox = P::text(this, "Text2", 4560, 3825, 3360, 400, 20);
    linesHelpButton = P::button(this, "PushButton10", "Help >", 120, 4335, 975, 405, 24);
    linesByNumberButton = P::button(this, "PushButton7", "Extract Lines By Number:", 1200, 4335, 3255, 405, 25);
    lineNumbersBox = P::text(this, "Text5", 4560, 4335, 3360, 400, 18);
    betweenHelpButton = P::button(this, "PushButton16", "Help >", 120, 4845, 975, 405, 28);
    betweenWindowButton =
        P::button(this, "PushButton4", "Extract Between X and Y (Repeatedly)", 1200, 4845, 6720, 405, 26);
    textSetHelpButton = P::button(this, "PushButton18", "Help >", 120, 5355, 975, 405, 29);
    textSetWindowButton =
        P::button(this, "PushButton11", "Extract Lines Containing These Text Sets", 1200, 5355, 6720, 405, 27);

    betweenOptionFrame = P::frame(this, "Frame6", "Extract Between Option", 120, 5820, 7800, 645, 6);
    showDuplicatesBox =
        P::check(betweenOptionFrame, "Check3", "Show duplicate items in results", 240, 270, 3135, 255, 7);

    buildResultsList();

    saveTextButton = P::button(this, "PushButton6", "Save Results As Text File", 120, 8235, 3840, 405, 9);
    saveCommaButton = P::button(this, "PushButton12", "Save As Comma Delimited", 4080, 8235, 3840, 405, 10);
    clearListButton = P::button(this, "PushButton9", "Clear List", 120, 8745, 3840, 405, 11);
    copyLinesButton = P::button(this, "PushButton1", "Copy Results To Clipboard", 4080, 8745, 3840, 405, 14);
    copyTabsButton = P::button(this, "PushButton3", "Copy To Clipboard (With Tabs)", 120, 9255, 3840, 405, 12);
    copySpacesButton = P::button(this, "PushButton14", "Copy To Clipboard (With Spaces)", 4080, 9255, 3840, 405, 13);

    buildProgressBar();
    orderFocusByTabIndex(this);
    progressBar->setFocusPolicy(Qt::NoFocus);
}

void Form1::buildResultsList()
{
    resultsList = new ResultsView(this);
    Placer::place(resultsList, "ListView1", 120, 6570, 7800, 1575, 8);
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
    progressBar = new QProgressBar(this);
    Placer::place(progressBar, "ProgressBar1", 120, 9780, 7800, 405, 5);
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
    setStatusText(QStringLiteral("Progress Bar"));
}

}  // namespace vc
