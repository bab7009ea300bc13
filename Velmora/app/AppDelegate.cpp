#include "app/AppDelegate.h"

#include "platform/TrayIcon.h"
#include "updates/UpdateController.h"
#include "window/WindowLifecycleView.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

namespace velmora::app {

AppDelegate::AppDelegate(QCoreApplication &application, backend::BackendController &backend,
                         updates::UpdateController &updates, std::function<void()> quit, QObject *parent)
    : QObject(parent)
    , m_shutdownGuard(application, backend)
    , m_updates(updates)
    , m_quit(quit ? std::move(quit) : std::function<void()>([] { QCoreApplication::quit(); }))
{
    // Whether closing the window hides it or quits is the close guard's decision.
    QGuiApplication::setQuitOnLastWindowClosed(applicationShouldTerminateAfterLastWindowClosed());
}

AppDelegate::~AppDelegate()
{
    if (m_window)
        m_window->removeEventFilter(this);
}

void AppDelegate::applicationDidFinishLaunching()
{
    m_updates.start();
}

bool AppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows)
{
    if (hasVisibleWindows)
        return true;
    return !window::WindowLifecycleView::restoreWindows(QApplication::topLevelWidgets());
}

void AppDelegate::reopen()
{
    bool hasVisibleWindows = false;
    for (QWidget *window : QApplication::topLevelWidgets())
        hasVisibleWindows = hasVisibleWindows
                            || (window->isVisible() && window->objectName() == window::WindowLifecycleView::windowID);
    // A desktop launcher asks a running application to come forward, visible or not; Linux
    // has no handling of its own for that, so the one window is brought to the front either way.
    if (applicationShouldHandleReopen(hasVisibleWindows))
        window::WindowLifecycleView::restoreWindows(QApplication::topLevelWidgets());
}

void AppDelegate::showTrayWhileHidden(platform::TrayIcon *tray, QWidget *window)
{
    if (m_window)
        m_window->removeEventFilter(this);
    m_tray = tray;
    m_window = window;
    if (m_tray) {
        connect(m_tray, &platform::TrayIcon::openRequested, this, [this] { applicationShouldHandleReopen(false); });
        connect(m_tray, &platform::TrayIcon::quitRequested, this, [this] { m_quit(); });
    }
    if (m_window)
        m_window->installEventFilter(this);
    updateTray();
}

bool AppDelegate::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && (event->type() == QEvent::Show || event->type() == QEvent::Hide))
        updateTray();
    return QObject::eventFilter(watched, event);
}

void AppDelegate::updateTray()
{
    // A minimised window is still there in the task bar; only a hidden one needs the icon.
    if (m_tray)
        m_tray->setVisible(m_window && !m_window->isVisible());
}

} // namespace velmora::app
