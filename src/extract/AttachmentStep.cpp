#include "extract/AttachmentStep.h"

#include "core/AppError.h"
#include "extract/AttachmentSaver.h"
#include "extract/ErrorLog.h"

namespace vc {

AttachmentStep::AttachmentStep(AttachmentRequest request, QString errorLogPath)
    : request_(request), errorLogPath_(std::move(errorLogPath))
{}

DecodeNeeds AttachmentStep::needs() const
{
    DecodeNeeds needs;
    needs.attachmentText = request_.text;
    needs.attachments = request_.any();
    if (request_.saver)
        needs.keepBytes = [matches = request_.saver->matcher()](const AttachmentInfo &info) {
            return matches(info.name);
        };
    return needs;
}

void AttachmentStep::handle(MailRecord &record)
{
    const quint32 id = record.uid != 0 ? record.uid : quint32(qMax(0, record.uID));
    for (qsizetype i = 0; i < record.attachments.size(); ++i) {
        const AttachmentInfo &a = record.attachments[i];
        const QByteArray bytes = record.heldAttachmentBytes.value(i);
        if (!a.problem.isEmpty()) {
            ++textProblems_;
            log(QStringLiteral("message %1: attachment %2: %3").arg(id).arg(a.name, a.problem));
        }
        if (!request_.saver || bytes.isNull())
            continue;
        QString error;
        if (!request_.saver->save(id, a.name, bytes, &error).isEmpty()) {
            ++saved_;
        } else {
            ++saveFailures_;
            log(QStringLiteral("message %1: attachment not saved: %2").arg(id).arg(error));
        }
    }
    record.heldAttachmentBytes.clear();
}

void AttachmentStep::log(const QString &text)
{
    // A log that cannot be written is no reason to stop the walk; the counts
    // still tell the run's end what went wrong.
    try {
        errorlog::append(errorLogPath_, text);
    } catch (const AppError &) {}
}

}  // namespace vc
