#include "window/WindowLifecycleView.h"

#include "window/WindowLifecycleCoordinator.h"

#include <QCoreApplication>
#include <QEvent>

namespace velmora::window {

const QString WindowLifecycleView::windowID = QStringLiteral("velmora.workspace");

WindowLifecycleView::WindowLifecycleView(ActiveWork activeWork, Quit quit, QWidget *parent)
    : QWidget(parent)
    , m_coordinator(
          new Coordinator(std::move(activeWork), quit ? std::move(quit) : Quit([] { QCoreApplication::quit(); }), this))
{
    // Nothing to see, nothing to click: it only finds its window.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(0, 0);
    captureWindow();
}

WindowLifecycleView::~WindowLifecycleView() = default;

bool WindowLifecycleView::event(QEvent *event)
{
    const bool handled = QWidget::event(event);
    // Qt has no "moved into a window" event: a new parent, or being shown in a window,
    // is when the window can have changed.
    if (event->type() == QEvent::ParentChange || event->type() == QEvent::Show)
        captureWindow();
    return handled;
}

void WindowLifecycleView::captureWindow()
{
    // Without a parent this view is a window of its own, which is nothing to guard.
    if (QWidget *own = window(); own != this)
        m_coordinator->attach(own);
}

bool WindowLifecycleView::restoreWindows(const QList<QWidget *> &windows)
{
    bool found = false;
    for (QWidget *window : windows) {
        if (!window || window->objectName() != windowID)
            continue;
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
        window->show();
        window->raise();
        window->activateWindow();
        found = true;
    }
    return found;
}

} // namespace velmora::window
