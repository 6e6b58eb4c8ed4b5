// Only new mail and watching in the main window. "Only mail since the last
// run": each folder's walk takes the messages above its mark, and once their
// rows are in the list the mark moves on to the last message delivered
// without a gap. "Keep watching": after the walk the run waits for new mail
// in the folder, its rows joining the list as each message arrives, until
// Stop; the status line says since when and how many came.
#include "app/Form1.h"

#include "app/FolderChooser.h"
#include "app/Form1Internal.h"
#include "app/SettingsStore.h"
#include "core/Dialogs.h"
#include "extract/NewOnlyMark.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTime>

namespace vc {

namespace {}  // namespace

QString watchingText(const QString &folder, const QTime &since, qint64 count)
{
    return QStringLiteral("Watching %1 since %2 (%3 new)")
        .arg(folder, since.toString(QStringLiteral("HH:mm")))
        .arg(count);
}

NewOnlyMark::Key Form1::newOnlyKey(const QString &folder) const
{
    return {accountName(accountBox->text(), accountSuffixCombo->currentText()),
            signInPlan().host + QLatin1Char(':') + QString::number(options_.connection.port),
            folder.isEmpty() ? QString() : NewOnlyProgress::folderKey(folder)};
}

std::optional<quint32> Form1::newMailAbove(const QString &folder, quint32 uidValidity)
{
    if (!newOnlyWanted())
        return std::nullopt;
    NewOnlyMark marks;
    const NewOnlyMark::Mark m = marks.load(newOnlyKey(folder), uidValidity);
    quint32 mark = 0;
    switch (m.state) {
    case NewOnlyMark::Mark::Unreadable:
        dialogs().messageBox(m.error, BoxButtons::Ok, BoxIcon::Warning);
        return std::nullopt;  // walked as usual, and no mark moves
    case NewOnlyMark::Mark::ValidityChanged: dialogs().messageBox(NewOnlyMark::validityChangedText(folder)); break;
    case NewOnlyMark::Mark::Ready: mark = m.uid; break;
    case NewOnlyMark::Mark::None: break;
    }
    newOnly_.begin(folder, uidValidity, mark);
    return mark;
}

// The rows of `record` are in the list: its folder's run of messages
// delivered without a gap grows by it (a watch delivers new mail in UID order,
// each message once).
void Form1::noteDelivered(const MailRecord &record)
{
    if (!watching_) {
        newOnly_.walked(record);
        return;
    }
    ++watchNew_;
    setStatusText(watchingText(watchFolder_, watchSince_, watchNew_));
    newOnly_.watched(record);
    moveNewOnlyMarks();
}

void Form1::moveNewOnlyMarks()
{
    NewOnlyMark marks;
    for (const NewOnlyProgress::Move &move : newOnly_.moves()) {
        if (!marks.advance(newOnlyKey(move.folder), move.uidValidity, move.uid)) {
            dialogs().messageBox(marks.lastError(), BoxButtons::Ok, BoxIcon::Warning);
            return;
        }
        newOnly_.written(move);
    }
}

WatchRequest Form1::watchRequest()
{
    WatchRequest w;
    w.on = keepWatchingBox->isChecked();
    return w;
}

void Form1::watchEvent(const WatchEvent &event)
{
    switch (event.kind) {
    case WatchEvent::Started:
        watching_ = true;
        watchFolder_ = event.folder;
        watchSince_ = QTime::currentTime();
        watchNew_ = 0;
        setStatusText(watchingText(watchFolder_, watchSince_, watchNew_));
        break;
    case WatchEvent::Restored: setStatusText(watchingText(watchFolder_, watchSince_, watchNew_)); break;
    case WatchEvent::Lost:
    case WatchEvent::FolderReplaced: setStatusText(event.text); break;
    case WatchEvent::Ended: watching_ = false; break;
    }
}

}  // namespace vc
