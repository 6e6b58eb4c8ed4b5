#pragma once
#include <QWidget>

class QCheckBox;

namespace vc {

// The settings window: choices that apply to every run, each stored at once
// when it changes. One window for the program, kept once opened.
class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    // The program's settings window, created on first use.
    static SettingsWindow *instance();
    static void destroyInstance();

    SettingsWindow();

    // Shows the stored choices and brings the window up.
    void open();

    // "Keep a local copy of mail": runs take the messages kept on this
    // computer instead of fetching them again.
    QCheckBox *mailCacheBox() const { return mailCache_; }

private:
    QCheckBox *mailCache_;
};

// The stored choice behind "Keep a local copy of mail" (on when it cannot be read).
bool mailCacheWanted();
void setMailCacheWanted(bool on);

}  // namespace vc
