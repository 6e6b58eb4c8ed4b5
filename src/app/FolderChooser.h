#pragma once
#include "mail/ImapSearch.h"

#include <QStringList>
#include <QWidget>

#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;

namespace vc {

// The folder chooser: the server's folders with a tick each, and a filter
// row (since, before, from, subject). The folders ticked here are walked one
// after another by the start commands, into the same results list; the
// filter row tells the server which of their messages to select. One window
// for the program, kept once opened.
class FolderChooser : public QWidget {
    Q_OBJECT
public:
    // The program's chooser, created on first use; null while there is none.
    static FolderChooser *instance();
    static FolderChooser *existing();
    static void destroyInstance();

    FolderChooser();

    // The folders to choose from (the ticks of those still there stay).
    void setFolders(const QStringList &names);
    QStringList folders() const;
    // The ticked folders, in the list's order.
    QStringList tickedFolders() const;
    void tick(const QString &name, bool on);
    void untickAll();

    // The filter row as a search filter; nothing, and `error` says why, when
    // a date cannot be read.
    std::optional<SearchFilter> filter(QString *error) const;

    QListWidget *folderList() const { return list_; }
    QLineEdit *sinceBox() const { return since_; }
    QLineEdit *beforeBox() const { return before_; }
    QLineEdit *fromBox() const { return from_; }
    QLineEdit *subjectBox() const { return subject_; }
    // "Only mail since the last run" (one stored choice, see newOnlyWanted()).
    QCheckBox *newOnlyBox() const { return newOnly_; }

Q_SIGNALS:
    // A folder was ticked or unticked by the user.
    void ticksChanged();

private:
    void showScope();

    QListWidget *list_;
    QLineEdit *since_, *before_, *from_, *subject_;
    QCheckBox *newOnly_;
    QLabel *scope_;
    bool filling_ = false;
};

// Whether runs take only the mail since the last run (the stored choice;
// false when it cannot be read), and setting it.
bool newOnlyWanted();
void setNewOnlyWanted(bool on);

}  // namespace vc
