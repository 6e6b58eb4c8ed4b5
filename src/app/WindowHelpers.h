#pragma once
#include <QCursor>
#include <QFont>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

class QWidget;
class QPushButton;
class QGroupBox;
class QLineEdit;

namespace vc {

// Design units: 15 twips to the pixel.
constexpr int twips(int t)
{
    return (t + 7) / 15;
}
inline QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twips(left), twips(top), twips(width), twips(height));
}

// Pointer values of a window.
namespace pointer {
inline constexpr int Default = 0;
inline constexpr int Hourglass = 11;
inline constexpr int Custom = 99;  // the hand pointer
}  // namespace pointer

// Centres the window on its screen.
void CenterForm(QWidget *window);
// True when the file system can tell the file's date-time stamp.
bool FileExists(const QString &path);
// The program's folder (where "HAND-M.CUR", "x/o.cjs" and the error log live).
QString programFolder();
// The optional hand pointer image "HAND-M.CUR" in the program folder.
QString handCursorFile();
// The system button-face colour on the window and on its option buttons, check
// boxes, frames and labels.
void ApplyFormColors(QWidget *window);

// The width a command, check box, option button or label needs to show its
// whole caption (for a command: the text and the button's frame and margins,
// without the style's least width for buttons).
int captionWidth(const QWidget *control);

// Every command, check box, option button and label of `window` whose box is
// narrower than its caption gets as wide as the caption, keeping its left
// edge, where that leaves it inside its frame and clear of the controls beside
// it (nothing moves).
void widenToCaptions(QWidget *window);

// Every push button, check box and option button of `window` whose caption
// does not fit gets the whole caption as its tool tip (kept up to date as
// captions and sizes change); one that fits has none.
void tipCutOffCaptions(QWidget *window);

// A window's mouse pointer (0 default, 11 hourglass, 99 custom hand). The hand
// comes from "HAND-M.CUR" in the program folder when present, otherwise from
// the platform's pointing hand.
class WindowPointer : public QObject {
    Q_OBJECT
public:
    explicit WindowPointer(QWidget *window);
    int MousePointer() const { return value_; }
    void setMousePointer(int value);
    // Loads the custom pointer image (start-up step "HAND-M.CUR").
    void loadCustomImage(const QString &curFile);
    bool hasCustomImage() const { return hasCustom_; }

    // Hover rule: while the mouse enters or moves over `control`, the window's
    // pointer becomes `value`; unless `evenWhenBusy`, not while it is the hourglass.
    void hover(QWidget *control, int value, bool evenWhenBusy = false);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *window_;
    int value_ = pointer::Default;
    QCursor custom_;
    bool hasCustom_ = false;
    QHash<QObject *, QPair<int, bool>> rules_;
};

// Design-time look shared by the windows.
namespace formdesign {
// Arial 9 pt bold, the windows' design font.
QFont designFont();
// Arial 11.25 pt bold, the push buttons' design font.
QFont buttonFont();
// The white design background.
void paintWhite(QWidget *w);
// Tool window of the given laid-out client size in twips (also its smallest
// size): no minimize or maximize button, the application icon, Arial 9 pt
// bold, white.
void setUpWindow(QWidget *window, const QString &caption, int widthTwips, int heightTwips);
// A push button in Arial 11.25 pt bold.
QPushButton *pushButton(QWidget *parent, const char *name, const QString &caption, int l, int t, int w, int h);
// A captioned frame with the white design background.
QGroupBox *frame(QWidget *parent, const char *name, const QString &caption, int l, int t, int w, int h);
// A text box.
QLineEdit *lineEdit(QWidget *parent, const char *name, int l, int t, int w, int h);
// Chains the focus order of `inOrder` (lowest tab index first; non-focusable ones are passed over).
void setTabOrder(const QList<QWidget *> &inOrder);
}  // namespace formdesign

}  // namespace vc
