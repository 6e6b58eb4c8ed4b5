#pragma once
#include <QString>

namespace vc {

// Runs a command line without a window and returns what it printed on the
// captured stream(s): standard output, standard error, or both merged in arrival
// order. The wait is bounded: after `timeoutMs` the process is killed and what
// arrived so far is returned. Neither stream captured: AppError 5 and nothing is
// started. A program that cannot be started gives kCreateProcessFailed.
// `oemConvert` asks for the console code page; on this platform the console
// prints in the system encoding, so both settings decode the same way.
QString GetCommandOutput(const QString &commandLine, bool stdOut, bool stdErr, bool oemConvert, int timeoutMs = 5000);

inline const QString kCreateProcessFailed =
    QStringLiteral("Failed to create process, check the path of the command line.");
inline const QString kOfflineWarning = QStringLiteral("You must be online to use this software accurately.");

// The ping command for one echo request to a public host, with this platform's
// flags, and the text a reply line carries.
QString defaultOnlineCheckCommand();
QString onlineReplyMarker();

// Replaces the command CheckOnline runs (tests); an empty text restores the ping.
void setOnlineCheckCommand(const QString &commandLine);

// The start-up check: runs the command once and, when its output holds no reply
// marker (letter case ignored), warns "You must be online to use this software
// accurately.". An empty capture counts as offline; the check never holds
// start-up longer than the command's bounded wait (about five seconds).
void CheckOnline();
// The same with a given wait; returns whether a reply was seen.
bool CheckOnlineWithin(int timeoutMs);

}  // namespace vc
