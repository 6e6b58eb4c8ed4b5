#pragma once
#include "core/MailRecord.h"
#include "mail/MimeDecode.h"

#include <QString>

namespace vc {

class AttachmentSaver;

// What a run does with attachments, as its host asks: their text joins the
// text the rules search, and those the saver's globs match are written to its
// folder (the saver is opened by the host and outlives the run).
struct AttachmentRequest {
    bool text = false;
    AttachmentSaver *saver = nullptr;
    bool any() const { return text || saver; }
};

// The run's part in attachments: what the decoder is asked for, and for each
// message before anyone else sees it, its held attachment bytes saved as
// "UID-NAME" (the sequence number stands in while the walk has no UID) and
// dropped. Every attachment that gave no text (an encrypted or damaged PDF,
// one too large) and every one that could not be saved (a refused name, a
// full disk) is one record in the error log; the run goes on.
class AttachmentStep {
public:
    AttachmentStep(AttachmentRequest request, QString errorLogPath);

    // What the decoder is to produce; its functions hold no reference to the
    // saver, so they may outlive it.
    DecodeNeeds needs() const;
    void handle(MailRecord &record);

    int saved() const { return saved_; }
    int saveFailures() const { return saveFailures_; }
    int textProblems() const { return textProblems_; }

private:
    void log(const QString &text);

    AttachmentRequest request_;
    QString errorLogPath_;
    int saved_ = 0;
    int saveFailures_ = 0;
    int textProblems_ = 0;
};

}  // namespace vc
