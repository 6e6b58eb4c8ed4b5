#pragma once
#include "extract/ExtractionRun.h"
#include "mail/ConnectionConfig.h"
#include "rules/Listing.h"
#include "rules/ResultsModel.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class QCheckBox;
class QCloseEvent;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTreeView;

namespace vc {

class ImapComponent;
class WindowPointer;

// What the command line decides for the main window.
struct Form1Options {
    ConnectionConfig connection;  // server, CA file, time-out of the IMAP client
    bool onlineCheck = true;      // false: start-up skips the connectivity check
};

// The main window: login and folder frames, the extraction commands, the
// results list, the output commands and the status line (the progress bar's
// text). It owns the one IMAP component instance, the current connection
// object, the rule members and the run guard.
//
// Life cycle: construct, call Form_Load() (the whole start-up sequence, an
// auto-connect included), then show(). There is one main window per program;
// instance() returns it.
class Form1 : public QWidget, public RunHost {
    Q_OBJECT
public:
    explicit Form1(Form1Options options = Form1Options(), QWidget *parent = nullptr);
    ~Form1() override;

    // The program's main window, or null when there is none.
    static Form1 *instance();

    // The start-up sequence (error location "Vellumcast2/19/2015.Form1.Form_Load").
    void Form_Load();

    // One start command. The four extraction buttons of this window and the
    // "Start Extracting" buttons of the two rule windows all run through here:
    //
    //   Form1::instance()->startCommand(PushButton4, QStringLiteral("Start Extracting"),
    //                                   this, Rule::StartsWith,
    //                                   QStringLiteral("Vellumcast.Form2.PushButton4_Click"));
    //
    // `button` is the clicked command (its caption toggles to "Stop" and back;
    // a click while it reads "Stop" is a stop request), `normalCaption` its idle
    // caption, `commandWindow` the window whose pointer shows the hourglass during
    // the run, `rule` the rule the run applies, `trapLocation` the location its
    // error boxes name. Returns when the run (or the refusal) is over; during the
    // run the event loop keeps running, so clicks (Stop) arrive.
    void startCommand(QPushButton *button, const QString &normalCaption, QWidget *commandWindow, Rule rule,
                      const QString &trapLocation);

    // --- members other parts rely on -------------------------------------
    RuleMembers members;                       // the six rule members
    bool onExtractEmail = false;               // a run is in progress
    ImapComponent *ChilkatImap1 = nullptr;     // the program's one component instance (owned)
    std::shared_ptr<clsChilkatIMAP> oChilkat;  // current connection object, or null

    // The status line (the progress bar's text).
    QString statusText() const;
    void setStatusText(const QString &text);
    ResultsModel &results() { return *results_; }
    WindowPointer *pointer() const { return pointer_; }
    const Form1Options &options() const { return options_; }

    // --- controls (object names as in the layout table) -------------------
    QGroupBox *Frame5 = nullptr, *Frame2 = nullptr, *Frame6 = nullptr;
    QLabel *lblLabels[2] = {nullptr, nullptr};
    QLineEdit *Text7 = nullptr, *Text6 = nullptr, *Text1 = nullptr, *Text2 = nullptr, *Text5 = nullptr;
    QCheckBox *Check1 = nullptr, *Check2 = nullptr, *Check3 = nullptr;
    QComboBox *Combo1 = nullptr;
    QRadioButton *Option3 = nullptr, *Option5 = nullptr, *Option6 = nullptr, *Option7 = nullptr, *Option9 = nullptr;
    QPushButton *PushButton1 = nullptr, *PushButton2 = nullptr, *PushButton3 = nullptr, *PushButton4 = nullptr,
                *PushButton6 = nullptr, *PushButton7 = nullptr, *PushButton8 = nullptr, *PushButton9 = nullptr,
                *PushButton10 = nullptr, *PushButton11 = nullptr, *PushButton12 = nullptr, *PushButton13 = nullptr,
                *PushButton14 = nullptr, *PushButton15 = nullptr, *PushButton16 = nullptr, *PushButton17 = nullptr,
                *PushButton18 = nullptr;
    QTreeView *ListView1 = nullptr;
    QProgressBar *ProgressBar1 = nullptr;

    // --- handlers ----------------------------------------------------------
    void PushButton17_Click();  // connect / disconnect
    void PushButton13_Click();
    void PushButton2_Click();
    void PushButton8_Click();
    void PushButton7_Click();
    void PushButton4_Click();   // shows the between window
    void PushButton11_Click();  // shows the text-set window
    void PushButton14_Click();
    void PushButton3_Click();
    void PushButton1_Click();
    void PushButton6_Click();
    void PushButton12_Click();
    void PushButton9_Click();
    void PushButton15_Click();
    void PushButton10_Click();
    void PushButton16_Click();
    void PushButton18_Click();

    void Text7_Change();
    void Text6_Change();
    void Check1_Click();
    void Check2_Click();
    void Combo1_Click();
    void Option_Click();

    // The connection object's events.
    void oChilkat_MailExtractListing(const QString &From, const QString &FromName, const QString &FromAddress,
                                     const QString &Subject, const QString &ReceivedDate, const QString &PlainTextBody,
                                     const QString &HTMLTextBody, int uID);
    void oChilkat_ScrapProgress(int value);

    // --- RunHost -------------------------------------------------------------
    std::shared_ptr<clsChilkatIMAP> connection() override { return oChilkat; }
    void setConnection(std::shared_ptr<clsChilkatIMAP> c) override { oChilkat = std::move(c); }
    std::shared_ptr<clsChilkatIMAP> setUpConnection() override;
    QString folderName() override;
    void clearResults() override;
    void setBusy(bool busy) override;
    void resetProgress() override;

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
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildLayout();
    void wireHandlers();
    void ApplySkin();
    void setCheck(QCheckBox *box, bool ticked);  // sets the value and runs its click handler
    void setOption(QRadioButton *button, bool on);
    bool numberListValid() const;

    Form1Options options_;
    ResultsModel *results_ = nullptr;
    WindowPointer *pointer_ = nullptr;
    std::unique_ptr<ImapComponent> component_;
    std::unique_ptr<RuleParams> params_;
    std::function<void(bool)> exitHandler_;
    int activeCommands_ = 0;
    bool loading_ = false;

    friend class ActiveCommand;
};

}  // namespace vc
