#pragma once

#include <QList>
#include <QString>
#include <QWidget>

#include <QCoro/QCoroTask>

#include <functional>
#include <optional>

namespace velmora::window {

// An invisible widget placed behind the main window's content. Through it the close guard
// finds the window it lives in and takes over that window's close requests: a window-system
// close (the title bar's close button, the desktop's close command) never closes the window.
// Instead one check at a time asks activeWork whether the backend is working; busy or
// undetermined only hides the window, idle calls quit. Everything else about the window
// (resizing, focus, geometry, its own handling of events) stays as it was.
class WindowLifecycleView : public QWidget
{
    Q_OBJECT
public:
    /// Whether the backend reports work: true busy, false idle, nullopt undetermined. Runs on
    /// the main thread; its own time limit is the only one the check has.
    using ActiveWork = std::function<QCoro::Task<std::optional<bool>>()>;
    using Quit = std::function<void()>;

    /// The identifier (objectName) of the window the guard serves: how the hidden window is
    /// found again.
    static const QString windowID;

    /// quit: what an idle answer does; empty = ask the application to quit.
    explicit WindowLifecycleView(ActiveWork activeWork, Quit quit = {}, QWidget *parent = nullptr);
    ~WindowLifecycleView() override;

    class Coordinator; // in window/WindowLifecycleCoordinator.h
    Coordinator *coordinator() const { return m_coordinator; }

    /// Brings back each of windows (in their order) whose identifier is windowID: shown,
    /// un-minimised, raised and activated, which also asks the desktop to activate the
    /// application. Answers whether there was one; none means nothing was activated.
    static bool restoreWindows(const QList<QWidget *> &windows);

protected:
    bool event(QEvent *event) override;

private:
    void captureWindow();

    Coordinator *m_coordinator;
};

} // namespace velmora::window
