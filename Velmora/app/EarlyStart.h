#pragma once

// The first thing Velmora does: before the application object, the window, the GL context and
// the web engine are made, it checks access and launches the backend, whose own start-up is
// the longest part of Velmora's. The backend controller takes that process over later as if
// it had launched it itself, so every rule of the start (readiness, the backend's exit,
// cancellation, the one termination request) stays its own. Only a launch whose outcome is
// certain is made this early; everything else is left to the ordinary start.

#include "backend/BackendLaunch.h"

#include <QStringList>

#include <memory>

namespace velmora::platform {
class SingleInstance;
}
namespace velmora::app {

// What the command line and the environment allow at the very start of the process.
enum class EarlyLaunch {
    None,       // leave the start to the application (another command, a relaunch)
    AsInstance, // the ordinary start: the running instance's lock first, the launch with it
    ForPicture, // a --screenshot run: no part in the single instance, the launch alone
};

// The rule: arguments are the command line after the program. A plain start and a
// --screenshot run launch early; any other argument (--help, --version, the update's start
// check, Qt's own options) and a relaunch by a predecessor, which is still on its way out and
// may still hold the backend's port, leave it to the application.
EarlyLaunch earlyLaunchFor(const QStringList &arguments, bool relaunched);

// What the early start made, for VelmoraApp to take over.
struct EarlyStart
{
    // The single instance whose lock this process took (AsInstance), else empty.
    std::unique_ptr<platform::SingleInstance> instance;
    // The backend launched; no process when none was.
    backend::BackendLaunch launch;

    EarlyStart();
    EarlyStart(EarlyStart &&) noexcept;
    EarlyStart &operator=(EarlyStart &&) noexcept;
    ~EarlyStart();
};

// At the top of main, before anything else: launches the backend when earlyLaunchFor() allows
// it and the launch is certain to be what the ordinary start would do. As the instance, the
// lock comes first: a launch that another Velmora holds the lock against launches nothing (it
// hands over to that one later). Then the access check (a file look-up on Linux), then the
// port: only a port that refuses connections, where the ordinary start's probe would find
// nothing and launch, gets the backend; anything that answers there is the ordinary start's
// to judge. Nothing when an update installation of an earlier run waits to be recovered (the
// recovery may replace this process).
EarlyStart startBackendEarly(int argc, char **argv);

} // namespace velmora::app
