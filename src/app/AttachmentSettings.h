#pragma once
#include "app/RunMessages.h"
#include "extract/RunOutcome.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace vc {

// Whether the text of attachments joins the text every run searches (the
// stored value; false when it cannot be read), and setting it, which every
// window showing it follows.
bool attachmentTextWanted();
void setAttachmentTextWanted(bool on);

// What a run did with attachments that the user must know: the attachments
// that gave no text, those that could not be saved.
QList<WindowBox> attachmentBoxes(const RunOutcome &outcome);

// The name patterns of an entry ("*.pdf *.csv", "*.pdf; *.txt").
QStringList attachmentGlobs(const QString &entry);

}  // namespace vc
