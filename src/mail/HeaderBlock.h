#pragma once
#include <QByteArray>

#include <optional>

// The header block of a raw message, read as bytes before GMime parses the
// message: what the decoder mends, leaves out and looks at first.
namespace vc::mime {

// The message with the blank line its header block lacks put in before the
// first line that is neither a header field nor the folded continuation of
// one; the message itself (sharing its bytes) when the block is sound. A
// leading mailbox "From " line is left to GMime.
QByteArray withHeaderBlockEnd(const QByteArray &raw);

// The message without the header fields the record is not made of (see the
// definition for which go and when); `raw` itself when none goes, else the
// copy made in `trimmed`.
const QByteArray &withRecordFieldsOnly(const QByteArray &raw, QByteArray &trimmed);

// Where the body of a message with a sound header block starts when the
// message itself is a single part (see the definition).
std::optional<qsizetype> singlePartBodyStart(const QByteArray &raw);

}  // namespace vc::mime
