#pragma once
// Small helpers shared by the IMAP client tests.
#include "FakeImapServer.h"
#include "mail/ImapClient.h"

#include <QByteArray>
#include <QString>

namespace vc::test {

inline const QString kInvalidLogin = QStringLiteral("Invalid login. Please double-check your username and password.");

// A plain message with a subject and `bodyLines` numbered body lines.
inline QByteArray message(const QByteArray &subject, int bodyLines = 3)
{
    QByteArray m =
        "From: Ann <ann@example.org>\r\nSubject: " + subject + "\r\nDate: Mon, 2 Mar 2015 10:00:00 +0000\r\n\r\n";
    for (int i = 0; i < bodyLines; ++i)
        m += "Body line " + QByteArray::number(i) + " of " + subject + "\r\n";
    return m;
}

// Points the client at the fake server (plain TCP).
inline void connectPlain(ImapClient &c, const FakeImapServer &s)
{
    c.setSsl(false);
    c.setPort(s.port());
}

}  // namespace vc::test
