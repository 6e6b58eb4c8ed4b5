#pragma once
#include "mail/Attachments.h"

#include <QList>
#include <QMutex>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <functional>

namespace vc {

// An attachment's name made safe to use as a file name: only what follows the
// last slash or backslash; control characters and the characters that
// Windows file systems refuse become "_"; invisible format characters (bidi
// overrides, zero-width spaces) are left out; no leading dots or spaces and no
// trailing ones; at most `maxBytes` bytes in UTF-8, cut at a character
// boundary with the extension kept; "attachment" when nothing is left.
QString safeAttachmentName(const QString &name, qsizetype maxBytes = 200);

// Writes attachments into one folder as "UID-NAME" (the name made safe):
// those whose safe name matches one of the globs ("*.pdf", any letter case),
// every attachment when there are none. An existing file is never replaced:
// the next free "UID-NAME (2).ext", "(3)", ... is taken instead. Files are
// written through QSaveFile, so a half-written file never shows under its
// name, and never outside the folder. Safe to use from several threads.
class AttachmentSaver {
public:
    AttachmentSaver(const QString &folder, const QStringList &globs);

    // Makes the folder when it is missing. False, with the reason, when it
    // cannot be made or is not a writable folder; nothing is saved then.
    bool open(QString *error);
    QString folder() const { return folder_; }

    // Whether an attachment of this name is saved.
    bool matches(const QString &name) const;
    // The same test as a function of its own (it holds the compiled globs, not
    // the saver), for the decoder's threads.
    std::function<bool(const QString &name)> matcher() const;
    // Writes `bytes` for the attachment `name` of message `uid`; the path of
    // the file written, or empty with the reason in *error.
    QString save(quint32 uid, const QString &name, const QByteArray &bytes, QString *error);
    // What the decoder calls for message `uid` (DecodeNeeds::attachmentBytes):
    // it saves the attachments that match. Failures are kept for takeErrors().
    AttachmentSink sinkFor(quint32 uid);

    // The files written so far.
    QStringList savedFiles() const;
    // The failures since the last call, one line each ("12-invoice.pdf: ...").
    QStringList takeErrors();

private:
    QString write(const QString &fileName, const QByteArray &bytes, QString *error);

    QString folder_;  // absolute and canonical once open
    bool open_ = false;
    QList<QRegularExpression> globs_;
    mutable QMutex mutex_;
    QStringList saved_;
    QStringList errors_;
};

}  // namespace vc
