#pragma once
#include "app/SettingsStore.h"
#include "app/WindowState.h"
#include "core/AppError.h"
#include "extract/ExtractionRun.h"
#include "extract/NewOnlyMark.h"
#include "mail/ConnectionConfig.h"
#include "mail/ImapResponses.h"
#include "mail/MimeDecode.h"
#include "mail/signin/SignInOptions.h"
#include "rules/Listing.h"
#include "rules/RecordRows.h"
#include "rules/ResultsModel.h"

#include <QHash>
#include <QPointer>
#include <QString>
#include <QTime>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>

class QAction;
class QCheckBox;
class QCloseEvent;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QTimer;
class QTreeView;

namespace vc {

class AttachmentSaver;
class FieldsWindow;
class ImapComponent;
class PasswordKeeper;
class SignInUi;
class StatusLine;
class WindowMenus;
class WindowPointer;

// What the command line decides for the main window.
struct Form1Options {
    ConnectionConfig connection;  // server, CA file, time-out of the IMAP client
    bool onlineCheck = true;      // false: start-up skips the connectivity check
    QString passwordFile;         // non-empty: the password of this run is this file's first line
};

// The main window: login and folder frames, the extraction commands, the
// results list, the output commands and the status line (the progress bar's
// text). It owns the one IMAP component instance, the current connection
// object, the rule members and the run guard, and is the run host of every
// run it starts.
//
// Life cycle: construct, call Form_Load() (the whole start-up sequence, an
// auto-connect included), then show(). There is one main window per program;
// instance() returns it. The rule windows hand their "Start Extracting" to it.
class Form1 : public QWidget, public RunHost {
    Q_OBJECT
public:
    explicit Form1(Form1Options options = Form1Options(), QWidget *parent = nullptr);
    ~Form1() override;

    // The program's main window, or null when there is none.
    static Form1 *instance();

    // The start-up sequence (error location location::Form1::Form_Load).
    void Form_Load();

    // One start command. The four extraction buttons of this window and the
    // "Start Extracting" buttons of the two rule windows all run through here.
    // `button` is the clicked command (its caption toggles to "Stop" and back;
    // a click while it reads "Stop" is a stop request), `normalCaption` its idle
    // caption, `commandWindow` the window whose pointer shows the hourglass during
    // the run, `rule` the rule the run applies, `trapLocation` the location its
    // error boxes name. Returns when the run (or the refusal) is over; during the
    // run the event loop keeps running, so clicks (Stop) arrive.
    void startCommand(QPushButton *button, const QString &normalCaption, QWidget *commandWindow, Rule rule,
                      const QString &trapLocation);

    // --- members other parts rely on -------------------------------------
    RuleMembers members;                       // the six rule members, views of the run's rule
    ImapComponent *ChilkatImap1 = nullptr;     // the program's one component instance (owned)
    std::shared_ptr<clsChilkatIMAP> oChilkat;  // current connection object, or null
    const WindowState &state() const { return state_; }
    const RunInProgress onExtractEmail{state_};  // the run guard, a view of the state

    // The status line (the progress bar's text); while the window is idle the
    // bar also shows the number of rows and ticked rows (statusLine()->shown()).
    QString statusText() const;
    void setStatusText(const QString &text);
    StatusLine *statusLine() const { return statusLine_; }
    // The menu bar above the controls; other commands add their entries here.
    WindowMenus *menus() const { return menus_; }
    // The laid-out size: every control at its place, the menu bar above them.
    QSize sizeHint() const override;
    // The size the window opens at: the laid-out size, smaller where the
    // screen is (the results list gives up rows first, then the top area scrolls).
    QSize openingSize() const;
    // The results list with the commands and the status line below it, on the screen.
    QRect resultsAreaOnScreen() const;
    ResultsModel &results() { return *results_; }
    WindowPointer *pointer() const { return pointer_; }
    const Form1Options &options() const { return options_; }

    // --- controls ----------------------------------------------------------
    // Each control under its role, and under its control name: the name its
    // objectName carries and its handlers are named after.
    QGroupBox *loginFrame = nullptr, *&Frame5 = loginFrame;
    QLabel *lblLabels[2] = {nullptr, nullptr};  // "Live ID:", "Password:"
    QLineEdit *accountBox = nullptr, *&Text7 = accountBox;
    QCheckBox *rememberMeBox = nullptr, *&Check1 = rememberMeBox;
    QComboBox *accountSuffixCombo = nullptr, *&Combo1 = accountSuffixCombo;
    QLineEdit *passwordBox = nullptr, *&Text6 = passwordBox;
    QCheckBox *autoConnectBox = nullptr, *&Check2 = autoConnectBox;
    QPushButton *connectButton = nullptr, *&PushButton17 = connectButton;
    QPushButton *contactHelpButton = nullptr, *&PushButton15 = contactHelpButton;
    QGroupBox *folderFrame = nullptr, *&Frame2 = folderFrame;
    QRadioButton *inboxOption = nullptr, *&Option3 = inboxOption;
    QRadioButton *draftsOption = nullptr, *&Option5 = draftsOption;
    QRadioButton *sentOption = nullptr, *&Option6 = sentOption;
    QRadioButton *junkOption = nullptr, *&Option7 = junkOption;
    QRadioButton *deletedOption = nullptr, *&Option9 = deletedOption;
    // Beside the options: the server's folders, listed after Connect.
    QComboBox *folderBox = nullptr;
    QPushButton *allEmailDataButton = nullptr, *&PushButton13 = allEmailDataButton;
    QPushButton *containingButton = nullptr, *&PushButton2 = containingButton;
    QLineEdit *containingBox = nullptr, *&Text1 = containingBox;
    QPushButton *notContainingButton = nullptr, *&PushButton8 = notContainingButton;
    QLineEdit *notContainingBox = nullptr, *&Text2 = notContainingBox;
    QPushButton *linesHelpButton = nullptr, *&PushButton10 = linesHelpButton;
    QPushButton *linesByNumberButton = nullptr, *&PushButton7 = linesByNumberButton;
    QLineEdit *lineNumbersBox = nullptr, *&Text5 = lineNumbersBox;
    QPushButton *betweenHelpButton = nullptr, *&PushButton16 = betweenHelpButton;
    QPushButton *betweenWindowButton = nullptr, *&PushButton4 = betweenWindowButton;
    QPushButton *textSetHelpButton = nullptr, *&PushButton18 = textSetHelpButton;
    QPushButton *textSetWindowButton = nullptr, *&PushButton11 = textSetWindowButton;
    QGroupBox *betweenOptionFrame = nullptr, *&Frame6 = betweenOptionFrame;
    QCheckBox *showDuplicatesBox = nullptr, *&Check3 = showDuplicatesBox;
    // Beside it: watching on after the walk.
    QCheckBox *keepWatchingBox = nullptr;
    QTreeView *resultsList = nullptr, *&ListView1 = resultsList;
    QPushButton *saveTextButton = nullptr, *&PushButton6 = saveTextButton;
    QPushButton *saveCommaButton = nullptr, *&PushButton12 = saveCommaButton;
    QPushButton *clearListButton = nullptr, *&PushButton9 = clearListButton;
    QPushButton *copyLinesButton = nullptr, *&PushButton1 = copyLinesButton;
    QPushButton *copyTabsButton = nullptr, *&PushButton3 = copyTabsButton;
    QPushButton *copySpacesButton = nullptr, *&PushButton14 = copySpacesButton;
    QProgressBar *progressBar = nullptr, *&ProgressBar1 = progressBar;
    // The areas the controls sit in: the top area (frames, start commands;
    // it scrolls when the window is too short) and the results area (list,
    // output commands, status line), which takes what the window grows by.
    QScrollArea *topArea = nullptr;
    QWidget *topControls = nullptr;
    QWidget *resultsArea = nullptr;
    // The sign-in menu (right-click on the login frame or on "1. Connect"):
    // password or OAuth 2.0 for the account in the boxes, the client ID, forget.
    QMenu *signInMenu = nullptr;

    // --- handlers ----------------------------------------------------------
    void PushButton17_Click();  // connect / disconnect
    void PushButton13_Click();  // the four start commands of this window
    void PushButton2_Click();
    void PushButton8_Click();
    void PushButton7_Click();
    void PushButton4_Click();   // shows the between window
    void PushButton11_Click();  // shows the text-set window
    void PushButton14_Click();  // output commands
    void PushButton3_Click();
    void PushButton1_Click();
    void PushButton6_Click();
    void PushButton12_Click();
    void PushButton9_Click();
    void PushButton15_Click();  // help boxes
    void PushButton10_Click();
    void PushButton16_Click();
    void PushButton18_Click();

    void Text7_Change();
    void Text6_Change();
    void Check1_Click();
    void Check2_Click();
    void Combo1_Click();
    void Option_Click();

    // --- RunHost -------------------------------------------------------------
    std::shared_ptr<clsChilkatIMAP> connection() override { return oChilkat; }
    void setConnection(std::shared_ptr<clsChilkatIMAP> c) override { oChilkat = std::move(c); }
    Account account() override;
    QString folderName() override;
    void setBusy(bool busy) override;
    void clearResults() override;
    void resetProgress() override;
    void showProgress(const RunProgress &progress) override;   // oChilkat_ScrapProgress
    void messageDelivered(const MailRecord &record) override;  // oChilkat_MailExtractListing
    void showSignInStatus(const QString &text) override;
    // The run's rule with its parameters as the windows show them now.
    ExtractionRule currentRule() const;

    // --- the fields window and where rows came from (Form1_Fields.cpp) --------
    // The first messages of the selected folder, fetched for the fields
    // window's preview; nothing while there is no connection.
    void fetchPreview(FieldsWindow *window);
    // Fetches the message a row came from again and shows it in the message
    // viewer, `marks` highlighted; a box says why when it cannot be read.
    void openRowOrigin(const RowOrigin &source, const QStringList &marks);

    // --- attachments (Form1_Attachments.cpp) ---------------------------------
    // The text of attachments when the stored choice says so; the saver of a
    // "Save Attachments..." run.
    AttachmentRequest attachmentRequest() override;
    // The menu's check entry follows the stored choice.
    void attachmentTextChanged();
    // "Save Attachments...": a Stop while its run goes.
    void saveAttachmentsCommand();

    // --- the local mail copy (Form1_MailCache.cpp) ------------------------------
    // On as the settings window's check box says (and VC_NO_CACHE allows).
    MailCacheSettings mailCacheSettings() override;
    // "Forget Cached Mail...": asks, then drops what the local copy keeps of
    // the account in the boxes and says how much that freed.
    void forgetCachedMail();
    // "Work Offline": the program's component becomes one that reads the
    // local copy alone (and back); refused while connected or running, and
    // while the copy is off.
    void setWorkOffline(bool on);
    bool workingOffline() const;

    // --- folders (Form1_Folders.cpp) -------------------------------------------
    // "Folders...": the folder chooser, its list the folder box's.
    void openFolderChooser();
    // The folders ticked in the chooser (none: the folder box or option decides).
    QStringList chooserFolders() const;
    // The chooser's ticked folders, in its order; else the one folderName() gives.
    QStringList folderNames() override;
    // The chooser's filter row (nothing left out while it is empty or closed).
    SearchFilter searchFilter() override;

    // --- only new mail and watching (Form1_Watch.cpp) -------------------------
    // With "Only mail since the last run": the folder's mark (0 without one).
    std::optional<quint32> newMailAbove(const QString &folder, quint32 uidValidity) override;
    // "Keep watching" ticked: the run watches its folder after the walk.
    WatchRequest watchRequest() override;
    // The status line follows the watch: "Watching Inbox since 14:02 (3 new)".
    void watchEvent(const WatchEvent &event) override;

    // --- sign-in (Form1_SignIn.cpp) -----------------------------------------
    // How the account in the boxes signs in, and where it connects.
    SignInPlan signInPlan() const;
    // Records the account's own choice; the password box follows it.
    void chooseSignInMethod(SignInMethod method);
    // Asks for the client ID of the account's provider and keeps it.
    void askClientId();
    // Forgets the account's OAuth 2.0 sign-in (memory and keychain).
    void forgetSignIn();

    // --- the password (Form1_Password.cpp) ----------------------------------
    // With "Remember me" ticked and a password account, puts the password in
    // the box into the keychain now (a change waits for a pause in typing).
    void rememberPassword();

    // --- seams for tests -------------------------------------------------------
    // Creates the IMAP component at start-up; the default builds our IMAP client
    // configured from the options. A test installs a fake before Form_Load().
    using ComponentFactory = std::function<std::unique_ptr<ImapComponent>(const ConnectionConfig &)>;
    static void setComponentFactory(ComponentFactory factory);
    // What closing the window does; `busy` tells whether a command is still
    // working. The default quits the application (at once when busy).
    void setExitHandler(std::function<void(bool busy)> handler) { exitHandler_ = std::move(handler); }
    // True while the connect command or a run is working.
    bool commandActive() const { return activeCommands_ > 0; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // One folder option button: the stored value behind it, the folder a run
    // reads when it is selected, and the start-up line that restores it.
    struct FolderOption {
        QRadioButton *button;
        const settings::Key &key;
        const char *folder;
        int loadLine;
    };
    std::array<FolderOption, 5> folderOptions() const;

    void buildLayout();  // Form1_Layout.cpp
    void buildResultsList();
    void buildProgressBar();
    void setReadingOrder();
    void placeSuffixList();
    void tabToTickedFolder();
    int menuBarHeight(int width) const;
    int resultsAreaMinimumHeight() const;
    void layOutWindow();
    void restoreWindowPlace();  // the size and place the window had last time
    void storeWindowPlace();
    void buildMenus();       // Form1_Menus.cpp
    void commandsChanged();  // a command started or ended: the status line follows
    void wireHandlers();
    void ApplySkin();
    void loadAccount(ErrorTrap &trap);  // start-up steps of the login frame
    void loadFolderAndSuffix(ErrorTrap &trap);
    void loadParameterBoxes(ErrorTrap &trap);
    void setOption(QRadioButton *button, bool on);
    void disconnectTail(ErrorTrap &trap);  // the end of a disconnect or a failed connect
    bool openConnection(ErrorTrap &trap);  // false: the connect failed
    void runCommand(ErrorTrap &trap, QPushButton *button, QWidget *commandWindow, Rule rule);
    // What every start command shares: a stop request while it runs, the
    // caption, the not-connected box and the run guard; `run` does the rest.
    void startRun(QPushButton *button, const QString &normalCaption, const QString &trapLocation,
                  const std::function<void(ErrorTrap &)> &run);
    void installFieldsHooks();  // Form1_Fields.cpp
    void removeFieldsHooks();
    void addFieldsMenuEntry();
    void connectionOpened();
    void askForPreview(bool folderChanged);
    void runFields(ErrorTrap &trap, QPushButton *button, FieldsWindow *window);
    void addAttachmentEntries();
    void addMailCacheEntries();
    void buildFolderBox();  // Form1_Folders.cpp
    void fillFolderBox();   // after Connect: the server's folders
    void showOptionInFolderBox();
    void folderBoxChosen(int index);
    void loadChosenFolder();  // start-up: the folder the box chose last time
    void addFolderChooserEntry();
    void chooserTicksChanged();
    // False (and a box says why) when the chooser's filter row cannot be read.
    bool scopeReadable();
    void runSaveAttachments(ErrorTrap &trap);
    bool deliverToSaver(const MailRecord &record);  // false: no "Save Attachments..." run is going
    bool deliverFields(const MailRecord &record);   // false: no template run is going
    bool clearFieldsResults();
    RowOrigin rowOrigin(const MailRecord &record);
    // Selects `folder` on the open connection (signing in again once when the
    // server dropped it) and runs `fetch` with the message count, the decoder
    // set to `needs` meanwhile; the text of what went wrong, or empty.
    QString withFolder(const QString &folder, const DecodeNeeds &needs,
                       const std::function<QString(ImapComponent &, int count)> &fetch);
    // The connect command's caption follows whether a connection is open.
    void setConnected(bool connected);
    // The title of the window whose command started the run ("Done." carries it).
    QString runWindowTitle() const;
    // Form1_Password.cpp: the password lives in the box; with "Remember me"
    // it is also kept in the keychain, never in the settings file.
    PasswordKeeper &passwords();
    void passwordChanged();
    void rememberMeChanged(bool ticked);
    void forgetPassword();
    void readLegacyPassword(ErrorTrap &trap);  // start-up: what an older settings file held
    void restorePassword(ErrorTrap &trap);     // start-up: the keychain's, once the account is known
    void flushPassword();                      // a change still waiting goes to the keychain now
    void buildSignInMenu();                    // Form1_SignIn.cpp
    void updateSignInView();                   // the password box and the menu follow the account's method
    std::shared_ptr<OAuthSession> signInSession(const SignInPlan &plan, const QString &account);
    bool cancelSignIn();  // true: a sign-in was waiting and is now cancelled
    // The server as the status line names it: the provider's name for the
    // provider's service, otherwise the host (and port) actually used.
    QString serverLabel() const;

    Form1Options options_;
    ResultsModel *results_ = nullptr;
    WindowPointer *pointer_ = nullptr;
    std::unique_ptr<ImapComponent> component_;
    std::unique_ptr<SignInUi> signInUi_;  // what a sign-in shows: boxes, the browser
    std::function<void(bool)> exitHandler_;
    int activeCommands_ = 0;
    WindowState state_;
    bool loadingAccount_ = false;  // start-up fills the login boxes: nothing to remember yet
    QString legacyPassword_;       // start-up: the password an older settings file held
    QTimer *passwordSave_ = nullptr;
    std::unique_ptr<PasswordKeeper> passwords_;
    QPointer<QWidget> runWindow_;  // the window whose command started the current run
    WindowMenus *menus_ = nullptr;
    StatusLine *statusLine_ = nullptr;
    QTimer *geometryTimer_ = nullptr;  // stores the window's place a moment after it last moved
    // The template run in progress: the fields window its rows go to, and the
    // template applied to message after message.
    struct FieldsRun {
        QPointer<FieldsWindow> window;
        records::RecordRows rows;
        qint64 count = 0;  // rows so far
    };
    std::unique_ptr<FieldsRun> fieldsRun_;
    QAction *attachmentTextAction_ = nullptr;
    QAction *saveAttachmentsAction_ = nullptr;
    std::unique_ptr<QPushButton> saveAttachmentsButton_;  // not shown: carries the save run's Stop
    AttachmentSaver *attachmentSaver_ = nullptr;          // while a "Save Attachments..." run goes
    bool savingAttachments_ = false;
    QString previewFolder_;             // the folder the fields window's preview messages came from
    bool fetching_ = false;             // messages are being read for the preview or the viewer
    QList<MailboxInfo> serverFolders_;  // the folder box's items: the server's selectable folders
    QString chosenFolder_;              // the box's folder while no option is ticked
    bool chooserWired_ = false;
    // Only new mail: per folder of the run, where its walk began and how far
    // its messages arrived without a gap.
    NewOnlyProgress newOnly_;
    NewOnlyMark::Key newOnlyKey(const QString &folder) const;
    void noteDelivered(const MailRecord &record);  // the record's rows are in the list
    void moveNewOnlyMarks();
    bool watching_ = false;
    QString watchFolder_;
    QTime watchSince_;
    qint64 watchNew_ = 0;

    friend class ActiveCommand;
};

}  // namespace vc
