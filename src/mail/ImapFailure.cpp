#include "mail/ImapFailure.h"

namespace vc {

const char *failureName(ImapFailure kind)
{
    switch (kind) {
    case ImapFailure::None: return "None";
    case ImapFailure::HostNotFound: return "HostNotFound";
    case ImapFailure::Refused: return "Refused";
    case ImapFailure::Unreachable: return "Unreachable";
    case ImapFailure::TlsRejected: return "TlsRejected";
    case ImapFailure::ClosedByServer: return "ClosedByServer";
    case ImapFailure::TimedOut: return "TimedOut";
    case ImapFailure::Protocol: return "Protocol";
    case ImapFailure::TooLarge: return "TooLarge";
    case ImapFailure::Refusal: return "Refusal";
    case ImapFailure::NoMessage: return "NoMessage";
    case ImapFailure::Aborted: return "Aborted";
    case ImapFailure::Disconnected: return "Disconnected";
    case ImapFailure::Busy: return "Busy";
    case ImapFailure::NotConnected: return "NotConnected";
    case ImapFailure::NotSelected: return "NotSelected";
    case ImapFailure::BadRequest: return "BadRequest";
    case ImapFailure::Local: return "Local";
    case ImapFailure::NotKept: return "NotKept";
    case ImapFailure::Network: return "Network";
    }
    return "?";
}

}  // namespace vc
