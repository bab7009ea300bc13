#pragma once

#include "app/ScreenChoice.h"
#include "platform/Async.h"
#include "platform/UrlOpener.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QStackedWidget>

#include <QCoro/QCoroTask>

#include <chrono>
#include <functional>

namespace velmora::workspace {
class WorkspaceView;
}
namespace velmora::app {

class VelmoraApp;

// A start that fails at once still shows its progress this long before the failure screen
// comes back, so that a retry is seen to have tried.
inline constexpr std::chrono::milliseconds minimumProgressTime{600};

// The content of the main window: the one screen that the access gate and the backend's state
// call for, replaced whenever one of the four values it depends on changes. It also installs
// the triggers of the startup sequence: its own appearance and the application becoming
// active; the access screen's recheck is the third.
class RootView : public QStackedWidget
{
    Q_OBJECT
    Q_PROPERTY(velmora::app::StartupScreen screen READ screen NOTIFY screenChanged)
public:
    /// Makes the workspace for the backend's URL.
    using WorkspaceFactory = std::function<QWidget *(const QUrl &url, QWidget *parent)>;

    /// opener: where the log and the page's outside links go. makeWorkspace: empty for the
    /// real WorkspaceView.
    explicit RootView(VelmoraApp &app, platform::UrlOpener &opener = platform::UrlOpener::system(),
                      WorkspaceFactory makeWorkspace = {}, QWidget *parent = nullptr);
    ~RootView() override;

    /// The screen shown now.
    StartupScreen screen() const { return m_screen; }
    /// The widget of the screen shown now.
    QWidget *screenWidget() const { return currentWidget(); }

signals:
    void screenChanged(velmora::app::StartupScreen screen);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void render();
    // Makes widget the screen shown, in place of everything the stack held.
    void showScreen(StartupScreen screen, QWidget *widget);
    // Starts the real workspace's page out of sight; it becomes the screen once the page has
    // loaded, so that no blank page stands between the progress screen and the page.
    void bringInWorkspace();
    // Makes the workspace for the address the backend was launched at while it starts, in
    // steps that each return to the event loop, out of sight until url is set.
    void prepareWorkspace(const QUrl &at);
    void prepareNextStep();
    QWidget *makeScreen(StartupScreen screen);
    // The failure screen over a workspace whose page could not be shown; its retry loads the
    // page again and brings the workspace back.
    void showPageFailure(workspace::WorkspaceView *view);
    static QCoro::Task<> appear(QPointer<RootView> self, QCoro::Task<> sequence);

    VelmoraApp &m_app;
    WorkspaceFactory m_makeWorkspace;
    platform::UrlOpener &m_opener;
    StartupScreen m_screen;
    bool m_hasScreen = false;
    // The sequence started by this view's appearance; cancelled when the view goes away (is
    // destroyed), not when its window is hidden: the close guard hides the window while the
    // backend may still be starting.
    platform::TaskHandle m_appearanceTask;
    bool m_appearing = false;
    // The workspace made ahead of url (real web view only), and the address it is for.
    QPointer<workspace::WorkspaceView> m_preparedWorkspace;
    // The workspace whose page loads out of sight before it is shown.
    QPointer<workspace::WorkspaceView> m_arrivingWorkspace;
    // Since when the progress screen shows, and whether a failure waits for its minimum time.
    QElapsedTimer m_progressShown;
    bool m_failureWaits = false;
    QUrl m_preparingFor;
};

} // namespace velmora::app
