#pragma once
#include "mail/ImapComponent.h"

#include <QByteArray>

namespace vc {

// Decodes one raw RFC 5322 message (as fetched with BODY.PEEK[]) into the
// e-mail object's fields. Malformed input decodes as far as it can; never throws.
ImapEmail decodeMessage(const QByteArray &raw);

}  // namespace vc
