#pragma once
#include <QPointer>
#include <QPushButton>

namespace vc {

// What the main window is doing. Its commands decide by it, and the captions
// follow it: the connect command reads "Disconnect" while connected, the
// command that started a run reads "Stop" until a stop is asked for. A run
// keeps going after a Disconnect during it, so whether a connection is open
// is kept beside the run.
struct WindowState {
    enum class Phase { Idle, Connecting, Connected, Running, Stopping };
    enum class Run { None, Running, Stopping };

    bool connected = false;           // a connection is open
    bool connecting = false;          // the connect command waits for the server
    Run run = Run::None;              // a run, and whether a stop was asked for
    QPointer<QPushButton> runButton;  // the command that started the run

    Phase phase() const
    {
        if (run != Run::None)
            return run == Run::Running ? Phase::Running : Phase::Stopping;
        if (connecting)
            return Phase::Connecting;
        return connected ? Phase::Connected : Phase::Idle;
    }
    // A click on `button` asks the run it started to stop.
    bool isStopRequest(const QPushButton *button) const { return run == Run::Running && runButton == button; }
};

// Whether a run is in progress (until it has ended, also after a stop
// request), read from a window's state: the main window's onExtractEmail.
class RunInProgress {
public:
    explicit RunInProgress(const WindowState &state) : state_(state) {}
    operator bool() const { return state_.run != WindowState::Run::None; }

private:
    const WindowState &state_;
};

}  // namespace vc
