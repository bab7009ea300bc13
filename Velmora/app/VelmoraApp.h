#pragma once

#include "app/AboutBox.h"
#include "app/RootView.h"
#include "backend/BackendController.h"
#include "platform/Async.h"
#include "updates/UpdateController.h"
#include "window/WindowLifecycleView.h"

#include <QObject>
#include <QPointer>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <functional>
#include <memory>

class QEventLoop;

namespace velmora::access {
class FullDiskAccessAssistant;
class FullDiskAccessGate;
} // namespace velmora::access
namespace velmora::platform {
class SingleInstance;
class TrayIcon;
class UrlOpener;
} // namespace velmora::platform
namespace velmora::app {

class AppDelegate;
class MainWindow;
struct EarlyStart;

// What a VelmoraApp is made with; every empty field means the application's real one.
struct VelmoraAppDependencies
{
    backend::BackendController *backend = nullptr;          // nullptr = BackendController::shared()
    updates::UpdateController *updates = nullptr;           // nullptr = UpdateController::shared()
    std::unique_ptr<access::FullDiskAccessGate> fileAccess; // empty = a new gate with the platform's probe
    access::FullDiskAccessAssistant *assistant = nullptr;   // nullptr = the shared one, made when first needed
    window::WindowLifecycleView::ActiveWork activeWork;     // empty = the backend's answer (app::activeWork)
    std::function<void()> quit;                             // empty = QCoreApplication::quit()
    platform::UrlOpener *opener = nullptr;                  // where the log and outside links go
    RootView::WorkspaceFactory makeWorkspace;               // empty = the real WorkspaceView
};

// The application object and composition root: it owns the long-lived objects for the whole
// run (the backend controller, the update controller and the access gate), runs the startup
// sequence that takes Velmora from the access check to a started backend, and makes the one
// window with its menu, root view and close guard. run() is the whole application: one
// instance per user, the delegate, the window, the event loop.
class VelmoraApp : public QObject
{
    Q_OBJECT
public:
    using Dependencies = VelmoraAppDependencies;

    explicit VelmoraApp(Dependencies dependencies, QObject *parent = nullptr);
    /// backend: the controller to start; fileAccess: the gate to ask, nullptr for a new gate
    /// with the platform's probe; assistant: the access assistant, nullptr for the shared one.
    explicit VelmoraApp(backend::BackendController &backend, std::unique_ptr<access::FullDiskAccessGate> fileAccess = {},
                        access::FullDiskAccessAssistant *assistant = nullptr, QObject *parent = nullptr);
    /// The application's own objects.
    VelmoraApp();
    ~VelmoraApp() override;

    /// Names the application to the desktop (name, organisation, version, desktop entry,
    /// window icon) before anything reads settings or standard paths.
    static void describeApplication();

    /// What startBackendEarly() made before the application object: its lock of the single
    /// instance becomes run()'s, its backend launch the controller's to take over. Before run().
    void takeEarlyStart(EarlyStart early);

    /// Velmora from launch to end: the command line (--screenshot, --version, --help), the
    /// single instance (a second launch hands a reopen request over and ends with 0), the
    /// delegate, the window and the event loop. Answers the exit code.
    int run();

    /// The gate owned for the whole run.
    access::FullDiskAccessGate &fileAccess() const { return *m_fileAccess; }
    backend::BackendController &backend() const { return *m_backend; }
    updates::UpdateController &updates() const { return *m_updates; }
    /// The assistant that guides the user to the settings; closed here once access is found.
    access::FullDiskAccessAssistant &assistant() const;

    /// Makes the one window (root view, close guard, menu) the first time; later calls answer
    /// the same window. keepPlacement: open at the last run's size and position and keep the
    /// new ones; without it the window opens at the default size and saves nothing.
    MainWindow &openWindow(bool keepPlacement = true);
    /// The window once made.
    MainWindow *mainWindow() const { return m_window.get(); }
    /// The root view of the window once made.
    RootView *rootView() const { return m_rootView; }

    /// The About box ("Velmora 정보"), made on first use.
    void showAbout();
    /// The user's update request: start(), showUpdateWindow(), refreshUpdateInformation() on
    /// the update controller, in that order, whatever the backend's state.
    void checkForUpdates();
    /// Quits without asking the close guard.
    void quit();
    /// The About box once made.
    AboutBox *aboutBox() const { return m_aboutBox; }

    /// Checks access; without it, returns and leaves the access screen to the user. With it,
    /// closes the assistant if it is showing and starts the backend. Overlapping runs are
    /// harmless: the gate shares its probe and the controller ignores a start while one runs
    /// or once it is ready. token cancels the backend start of this run.
    QCoro::Task<> startAfterPermission(platform::CancelToken token = {});

    /// Runs the startup sequence as a task of its own that nothing cancels (the recheck).
    void runStartupSequence();
    /// The application became active: runs the sequence again unless access is already there
    /// or a check is still in flight.
    void applicationBecameActive();
    /// Starts a new backend attempt without a new access check (the failure screen's retry).
    void retryBackendStart();
    /// The failure screen's way out of a port another program holds.
    void startBackendOnAnotherPort();

private:
    // Lets a start that was cancelled as Velmora quit come to its end: its suspended steps
    // resume through queued calls, which need the event loop once more after exec() returned.
    // An access check still in flight ends too, without starting anything.
    void settleCancelledStart();
    bool startSettled() const;
    void quitSettlingWhenSettled();

    QPointer<backend::BackendController> m_backend;
    QPointer<updates::UpdateController> m_updates;
    std::unique_ptr<access::FullDiskAccessGate> m_fileAccess;
    QPointer<access::FullDiskAccessAssistant> m_assistant;
    bool m_sharedAssistant;
    window::WindowLifecycleView::ActiveWork m_activeWork;
    std::function<void()> m_quit;
    platform::UrlOpener *m_opener;
    RootView::WorkspaceFactory m_makeWorkspace;

    // Made by run(): one instance per user, the delegate and the status-area icon.
    std::unique_ptr<platform::SingleInstance> m_instance;
    std::unique_ptr<AppDelegate> m_delegate;
    std::unique_ptr<platform::TrayIcon> m_tray;
    // The scene, made by openWindow(); it goes before the objects its views use.
    std::unique_ptr<MainWindow> m_window;
    RootView *m_rootView = nullptr;
    QPointer<AboutBox> m_aboutBox;

    // Runs of startAfterPermission() not yet at their end, and whether the event loop has
    // ended: a run that gets its access answer after that starts nothing.
    int m_startsInFlight = 0;
    bool m_ended = false;
    QPointer<QEventLoop> m_settling;
};

} // namespace velmora::app
