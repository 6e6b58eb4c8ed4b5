#pragma once
#include "mail/ConnectionConfig.h"
#include "mail/MimeDecode.h"

#include <QString>

#include <memory>

namespace vc {

class ImapComponent;
class OAuthSession;

// What a connection object is made of: the component instance it works
// through, where it connects, who signs in, and where its fetch log goes.
struct Account {
    ImapComponent *component = nullptr;  // not owned
    ConnectionConfig config;             // host and port, and how the client behaves
    bool ssl = true;
    QString username, password;
    QString errorLogPath;  // empty: the default error log
    // Non-null: the account signs in with OAuth 2.0 tokens from this session
    // instead of the password.
    std::shared_ptr<OAuthSession> signIn;
    // Added to a refused password when the server takes tokens: how to turn
    // OAuth 2.0 sign-in on in the program at hand.
    QString tokenHint;
    // What the decoder gives each message of a walk beyond its sender,
    // subject, date and bodies (a template's header fields, attachments).
    DecodeNeeds decodeNeeds;
};

}  // namespace vc
