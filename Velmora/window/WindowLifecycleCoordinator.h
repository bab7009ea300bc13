#pragma once

#include "window/WindowLifecycleView.h"

#include <QObject>
#include <QPointer>

namespace velmora::window {

// The close guard of one window. It watches the window's events without taking any away
// but the window system's close requests, so whatever handled the window's events before
// (the widget itself, other filters) still sees every other event as before.
class WindowLifecycleView::Coordinator : public QObject
{
    Q_OBJECT
public:
    Coordinator(ActiveWork activeWork, Quit quit, QObject *parent = nullptr);
    ~Coordinator() override;

    /// Serves window from now on: its close requests come here, and it gets the identifier
    /// windowID. Attaching to the window already served changes nothing; attaching to another
    /// one leaves the earlier window alone.
    void attach(QWidget *window);
    /// The window served; nullptr before the first attach or once it is gone.
    QWidget *window() const { return m_window; }
    /// True while a close check runs.
    bool isChecking() const { return m_checking; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Answers false (the window stays open) and starts the check unless one runs.
    bool windowShouldClose();
    static QCoro::Task<> closeCheck(QPointer<Coordinator> self, QPointer<QWidget> window);

    ActiveWork m_activeWork;
    Quit m_quit;
    QPointer<QWidget> m_window;
    bool m_checking = false;
};

} // namespace velmora::window
