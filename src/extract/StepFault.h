#pragma once
#include "mail/ImapFailure.h"

#include <QString>
#include <QStringList>

namespace vc {

// The step of a connection or a run that failed.
enum class RunStage {
    Connect,  // connecting, or the ID command
    Login,    // the server refused the password
    SignIn,   // OAuth 2.0: no token could be had, or the server refused it
    Select,   // the folder could not be selected
    List,     // the folders could not be listed
    Search,   // the server did not select the walk's messages (UID SEARCH)
};

// Why a step failed, with what the program needs to say so: the component's
// fault (its kind, its last-error text as the reason, the server's own
// words), the server that was asked, and what belongs to the stage.
struct StepFault {
    RunStage stage = RunStage::Connect;
    ImapFault fault;
    QString host;  // the server asked, and its port
    int port = 0;
    QStringList certificateErrors;  // why the server's certificate was refused, if it was
    QString hint;                   // Login: how to switch to OAuth 2.0, when the server takes tokens
    // SignIn: the server refused the token (otherwise no token could be had),
    // and why renewing it failed (empty: it was renewed and refused again).
    bool tokenRefused = false;
    QString renewal;
    bool cancelled = false;  // SignIn: the user gave the sign-in up; nothing to tell
    // Select: the server has no folder of that name (`missingFolder`); the
    // names it has, in its order.
    QString missingFolder;
    QStringList existingFolders;
};

template <class T>
using StepResult = ImapResult<T, StepFault>;

// Connect, Login and SignIn: the account did not get signed in.
inline bool isConnectStage(RunStage stage)
{
    return stage == RunStage::Connect || stage == RunStage::Login || stage == RunStage::SignIn;
}

}  // namespace vc
