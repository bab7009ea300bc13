#include "window/WindowLifecycleCoordinator.h"

#include "platform/Async.h"

#include <QCloseEvent>

namespace velmora::window {

WindowLifecycleView::Coordinator::Coordinator(ActiveWork activeWork, Quit quit, QObject *parent)
    : QObject(parent)
    , m_activeWork(std::move(activeWork))
    , m_quit(std::move(quit))
{}

WindowLifecycleView::Coordinator::~Coordinator()
{
    if (m_window)
        m_window->removeEventFilter(this);
}

void WindowLifecycleView::Coordinator::attach(QWidget *window)
{
    if (!window || window == m_window)
        return;
    if (m_window)
        m_window->removeEventFilter(this);
    m_window = window;
    window->installEventFilter(this);
    window->setObjectName(windowID);
}

bool WindowLifecycleView::Coordinator::eventFilter(QObject *watched, QEvent *event)
{
    // Only the window system's request is the user's close: a close the application makes
    // itself (QWidget::close(), or quitting, which closes every window first) goes through,
    // so the quit command and the termination signals are never held up here.
    if (watched == m_window && event->type() == QEvent::Close && event->spontaneous()) {
        event->setAccepted(windowShouldClose());
        return true;
    }
    return QObject::eventFilter(watched, event);
}

bool WindowLifecycleView::Coordinator::windowShouldClose()
{
    // A click during a running check changes nothing.
    if (m_checking)
        return false;
    m_checking = true;
    platform::detach(closeCheck(QPointer<Coordinator>(this), m_window));
    return false;
}

QCoro::Task<> WindowLifecycleView::Coordinator::closeCheck(QPointer<Coordinator> self, QPointer<QWidget> window)
{
    if (!self)
        co_return;
    // The coroutine that activeWork makes may live in the function object: keep it here.
    const ActiveWork ask = self->m_activeWork;
    std::optional<bool> busy;
    if (ask)
        busy = co_await ask();
    if (!self)
        co_return;
    self->m_checking = false;
    if (!window)
        co_return;
    // Undetermined is taken as busy: the safe choice keeps the backend alive.
    if (busy.value_or(true)) {
        window->hide();
        co_return;
    }
    self->m_quit();
}

} // namespace velmora::window
