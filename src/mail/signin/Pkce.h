#pragma once
#include <QByteArray>

// Proof Key for Code Exchange (RFC 7636, method S256) and the random "state" of
// an authorisation request. All values are base64url without padding.
namespace vc::pkce {

// 43 characters from 32 random bytes of the system's generator.
QByteArray makeVerifier();
// base64url(SHA-256(verifier)).
QByteArray challengeFor(const QByteArray &verifier);
// 22 characters from 16 random bytes.
QByteArray makeState();

}  // namespace vc::pkce
