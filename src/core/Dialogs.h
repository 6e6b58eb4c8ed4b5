#pragma once
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

namespace vc {

enum class BoxIcon { None, Warning, Information, Critical, Question };
enum class BoxButtons { Ok, YesNo };
enum class BoxAnswer { Ok, Yes, No };

// What a save dialog is asked to show: its title, its filter as pairs of a
// description and a pattern ("Text Files (*.txt)|*.txt|All Files (*.*)|*.*|",
// the first pair chosen), the folder it opens in and the file name it proposes
// (both may be empty: the dialog's own choice).
struct SaveFileRequest {
    QString title;
    QString filter;
    QString folder;
    QString proposedName;
};

// What the user chose in a save dialog: the path (empty when cancelled) and
// the pair of the filter that was chosen (0 for the first).
struct SaveFileChoice {
    QString path;
    int filter = 0;
};

// Every message box, input box and file dialog of the program goes through this
// interface. The windows use Qt's dialogs, the command-line program writes to
// standard error, tests script the answers.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    // A message box. An empty title means the application's title ("Vellumcast").
    // Inside `text` a lone CR ends a line.
    virtual BoxAnswer messageBox(const QString &text, BoxButtons buttons = BoxButtons::Ok, BoxIcon icon = BoxIcon::None,
                                 const QString &title = QString()) = 0;

    // An input box; Cancel gives the empty text.
    virtual QString inputBox(const QString &prompt, const QString &title, const QString &defaultText) = 0;

    // A save dialog; cancel gives the empty text.
    virtual QString saveFileName(const QString &title, const QString &filter) = 0;

    // A save dialog opening in a folder with a name proposed. By default the
    // plain dialog above, with the first filter taken as chosen.
    virtual SaveFileChoice saveFile(const SaveFileRequest &request)
    {
        return {saveFileName(request.title, request.filter), 0};
    }

    // An open dialog allowing several files; cancel gives an empty list.
    virtual QStringList openFileNames(const QString &title, const QString &filter) = 0;

    // A dialog choosing a folder (one that exists, or made in it); cancel, and
    // a program without such a dialog, give the empty text.
    virtual QString folderName(const QString &title) { return QString(); }

    // Opens `url` in the system's web browser; false when none could be started.
    virtual bool openUrl(const QUrl &url) { return false; }

    // Shows, without waiting, how to finish a sign-in on another device or in a
    // browser of one's own: the provider's message, the code to enter (may be
    // empty) and the address. It stays until closeSignInCode(); `cancel` runs
    // when the user gives up through it.
    virtual void showSignInCode(const QString &message, const QString &code, const QUrl &address,
                                std::function<void()> cancel)
    {}
    virtual void closeSignInCode() {}
};

// The program's one Dialogs instance. Until something is installed, a fallback
// that writes boxes to standard error and answers No/empty is used, so nothing
// ever blocks on a window that nobody sees.
Dialogs &dialogs();
// Installs `d` (not owned) and returns the previous one; nullptr restores the fallback.
Dialogs *setDialogs(Dialogs *d);

// Writes each box to standard error as "<prefix><text>" (CRs turned into line
// breaks); answers Ok, or No to a question; file dialogs are cancelled.
class StderrDialogs : public Dialogs {
public:
    explicit StderrDialogs(QString prefix = QString()) : prefix_(std::move(prefix)) {}
    BoxAnswer messageBox(const QString &text, BoxButtons buttons, BoxIcon icon, const QString &title) override;
    QString inputBox(const QString &, const QString &, const QString &) override { return {}; }
    QString saveFileName(const QString &, const QString &) override { return {}; }
    QStringList openFileNames(const QString &, const QString &) override { return {}; }
    // Writes the address for the user to open; there is no browser to start here.
    bool openUrl(const QUrl &url) override;
    void showSignInCode(const QString &message, const QString &code, const QUrl &address,
                        std::function<void()> cancel) override;

private:
    QString prefix_;
};

// `path` with the extension of the filter's pair `filter` (0-based) when its
// file name has no dot: "results" and "*.txt" give "results.txt". A pattern
// without one plain extension ("*.*", "*.txt *.log") adds nothing, nor does a
// name that has a dot already, nor a path that is a folder.
QString withFilterExtension(const QString &path, const QString &pipeFilter, int filter);

// The pairs of a filter: "Text Files (*.txt)|*.txt|All Files (*.*)|*.*|" gives
// {"Text Files (*.txt)", "*.txt"}, {"All Files (*.*)", "*.*"}.
QList<QPair<QString, QString>> filterPairs(const QString &pipeFilter);

// A box text with its CRs (and CR LF pairs) turned into plain line feeds, for display.
QString boxTextForDisplay(const QString &text);

}  // namespace vc
