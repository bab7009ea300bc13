#pragma once

#include "app/ShutdownGuard.h"

#include <QObject>
#include <QPointer>

#include <functional>

class QCoreApplication;
class QWidget;

namespace velmora::backend {
class BackendController;
}
namespace velmora::platform {
class TrayIcon;
}
namespace velmora::updates {
class UpdateController;
}

namespace velmora::app {

// Answers the application-level events: the end of launching starts the update controller;
// the window going away never ends the application; a reopen request (a second launch of
// Velmora, or the status-area icon's "열기") brings the one window back; termination (the
// quit command, SIGTERM, SIGINT, SIGHUP, the display going away, a crash) asks the backend to
// terminate without waiting, through the ShutdownGuard it holds from its construction on.
// While the window is hidden, the status-area icon shows that Velmora still runs.
class AppDelegate : public QObject
{
    Q_OBJECT
public:
    /// Made before anything can launch the backend. quit: the status-area icon's quit entry;
    /// empty = QCoreApplication::quit().
    AppDelegate(QCoreApplication &application, backend::BackendController &backend, updates::UpdateController &updates,
                std::function<void()> quit = {}, QObject *parent = nullptr);
    ~AppDelegate() override;

    /// Launching has finished: starts the update controller.
    void applicationDidFinishLaunching();
    /// The application never quits because its last window went away.
    static bool applicationShouldTerminateAfterLastWindowClosed() { return false; }
    /// A reopen request. With hasVisibleWindows the platform's usual handling applies, which
    /// on Linux is to bring the window to the front. Otherwise the hidden window comes back
    /// (WindowLifecycleView::restoreWindows over the application's windows). Answers whether
    /// the platform should still handle it: false once a window was brought back.
    bool applicationShouldHandleReopen(bool hasVisibleWindows);
    /// The reopen request of a second launch.
    void reopen();

    /// The status-area icon to show while window is hidden, and the window to watch.
    void showTrayWhileHidden(platform::TrayIcon *tray, QWidget *window);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void updateTray();

    ShutdownGuard m_shutdownGuard;
    updates::UpdateController &m_updates;
    std::function<void()> m_quit;
    QPointer<platform::TrayIcon> m_tray;
    QPointer<QWidget> m_window;
};

} // namespace velmora::app
