#pragma once

#include "app/TerminationSignals.h"

#include <QObject>

class QCoreApplication;

namespace velmora::backend {
class BackendController;
}

namespace velmora::app {

// Sees to it that the backend hears of the application's end, once, however it ends: quitting
// (aboutToQuit calls the controller's stop()); SIGTERM, SIGINT and SIGHUP, which
// TerminationSignals turns into a quit; a call of exit() that passes by aboutToQuit (Qt's X11
// plugin makes one when the display connection breaks); and a fatal signal (a crash, abort()
// after qFatal). The last two happen where only async-signal-safe calls are allowed, so they
// ask through platform::requestTerminationOfChildren(), which passes over a backend that
// stop() has asked already. Their handlers stay for the rest of the process. One instance,
// for the application's whole run. (What no handler sees, SIGKILL above all, is left to the
// backend's watch, described at platform::Process, which asks only a backend not asked yet.)
class ShutdownGuard : public QObject
{
    Q_OBJECT
public:
    ShutdownGuard(QCoreApplication &app, backend::BackendController &backend, QObject *parent = nullptr);
    ~ShutdownGuard() override;

    /// False when the termination signals could not be turned into a quit.
    bool isActive() const { return m_terminationSignals.isActive(); }

private:
    TerminationSignals m_terminationSignals;
};

} // namespace velmora::app
