#pragma once

#include "backend/BackendLaunch.h"
#include "backend/Health.h"
#include "backend/Texts.h"
#include "backend/WorkspacePage.h"
#include "platform/Async.h"
#include "platform/Bundle.h"
#include "platform/FileHandle.h"
#include "platform/HttpClient.h"
#include "platform/Process.h"
#include "platform/ProcessInfo.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <chrono>
#include <memory>
#include <optional>

namespace velmora::backend {

// Pauses, probe limit and cycle counts of a start attempt. The defaults are the real ones;
// tests pass shorter values.
struct BackendTiming
{
    std::chrono::milliseconds pause{500};
    std::chrono::milliseconds probeTimeout{1000};
    int waitCycles = 40;
    int readinessCycles = 60;
    // While the launched backend starts, its port is tried this often for this long: the
    // moment it accepts a connection, the pause in progress ends and the next probe goes out
    // at once (once per attempt; the pauses and the cycle limit stay the outer bound).
    std::chrono::milliseconds listenCheckInterval{10};
    std::chrono::milliseconds listenCheckPeriod{10'000};
    // The whole status request of hasActiveWork() and prepareForUpdate().
    std::chrono::milliseconds statusTimeout{3000};
    // How often an adopted backend (no process handle to watch) is looked for in the system's
    // socket table once it is ready; asked whether it still answers only when it is not there.
    std::chrono::milliseconds adoptedCheckInterval{10'000};
};

// The services a BackendController works through; nullptr = the real platform service.
// (Declared outside the class so that "Dependencies deps = {}" is a valid default argument.)
struct BackendDependencies
{
    platform::Bundle *bundle = nullptr;
    platform::ProcessInfo *processInfo = nullptr;
    platform::ProcessLauncher *launcher = nullptr;
    platform::HttpClient *http = nullptr;
    BackendTiming timing;
};

// Owns the backend process: starts it (or adopts the one this process already started), waits
// until it answers as this application's backend, publishes its address or a Korean error,
// and asks it to terminate. A ready backend stays watched: one that exits (or, adopted, stops
// answering) takes url back and publishes why, so that a new start can bring it back. Lives
// on the main thread.
class BackendController : public QObject
{
    Q_OBJECT
    // Base URL of the ready backend; empty until then, and again once that backend is gone.
    Q_PROPERTY(QUrl url READ url NOTIFY urlChanged)
    // The message of the last failed attempt, or of a ready backend's end; empty when none
    // (cleared when an attempt begins).
    Q_PROPERTY(QString error READ error NOTIFY errorChanged)
    // True when error tells of a ready backend that went away rather than a failed start.
    Q_PROPERTY(bool backendLost READ backendLost NOTIFY errorChanged)
    // True when error says that another program holds the backend's port.
    Q_PROPERTY(bool portTaken READ portTaken NOTIFY errorChanged)
    // File URL of the backend's log, known once an attempt prepared a launch; never cleared.
    Q_PROPERTY(QUrl logURL READ logURL NOTIFY logURLChanged)
    // True while an attempt runs.
    Q_PROPERTY(bool starting READ starting NOTIFY startingChanged)

public:
    using Dependencies = BackendDependencies;

    explicit BackendController(Dependencies deps = {}, QObject *parent = nullptr);
    // Asks a backend still held to terminate, as stop() does.
    ~BackendController() override;

    // The application's one controller, made on first use with the real services.
    static BackendController &shared();

    /// Base URL of the ready backend, e.g. http://127.0.0.1:18760; empty before it is ready
    /// and after it went away.
    QUrl url() const { return m_url; }
    /// Korean text of the last failed attempt, or of a ready backend's end; empty when none.
    QString error() const { return m_error; }
    /// Whether error is about a ready backend that went away (exited, or stopped answering).
    bool backendLost() const { return m_backendLost; }
    /// Whether error says that something else answers on the backend's port.
    bool portTaken() const { return m_portTaken; }
    /// The port this run uses instead of the configured one; 0 when none was chosen.
    quint16 portOverride() const { return m_portOverride; }
    /// File URL of the backend's log file; empty until an attempt reached it.
    QUrl logURL() const { return m_logURL; }
    /// True while a start attempt is in progress.
    bool starting() const { return m_starting; }

    /// Starts the backend, or adopts the one this process already runs. Does nothing while an
    /// attempt runs or while url is set. The outcome shows only in url, error and logURL.
    /// Cancelling token ends the attempt with startCancelledMessage: before the launch with
    /// nothing created or launched, after it with the backend asked to terminate.
    QCoro::Task<> start(platform::CancelToken token = {});
    /// Asks a running backend to terminate (SIGTERM), drops it and closes the log; a launch
    /// handed over by takeOverLaunch() and not taken over yet goes the same way. Never waits;
    /// safe at any time, any number of times.
    void stop();
    /// A backend launched before this controller could launch one (at the application's
    /// start, before its window is made), for the next start() to take over instead of probing
    /// the port and launching: its log, its process and then every rule of a launch of its own
    /// (readiness, the backend's exit, cancellation, the one termination request). Taken over
    /// only when start() resolves the same address; otherwise that start asks it to terminate
    /// and goes its usual way. A launch without a process is ignored.
    void takeOverLaunch(BackendLaunch launch);
    /// Whether a launch handed over by takeOverLaunch() waits for start().
    bool holdsEarlyLaunch() const { return m_earlyLaunch != nullptr; }
    /// Ends an attempt in progress as a cancelled one, whoever started it (its waits end at
    /// once). For the application's end, so that no attempt is left suspended.
    void cancelStart();
    /// Starts anew on a loopback port that nothing uses now, chosen by the system, in place of
    /// the configured one for the rest of this run (the port of VELMORA_DESKTOP_PORT is taken
    /// by another program). The start's rules are the usual ones.
    QCoro::Task<> startOnAnotherPort();

    /// The workspace's page, held weakly; set by the web view host when it makes the view.
    WorkspacePage *webView() const;
    void setWebView(WorkspacePage *page);

    /// Whether the backend reports work in progress: true or false as it says (false also
    /// when no backend is known), nullopt when that could not be learnt (no answer within the
    /// status time-out, or no usable one). Never cached: every call asks anew.
    QCoro::Task<std::optional<bool>> hasActiveWork();
    /// Whether the application may relaunch now: true without a backend (unless one is being
    /// started), else only when the backend reports no work and the page, when there is one,
    /// has wound down (its window.prepareForAppUpdate answered true). Undetermined is never
    /// taken as ready. Once token is cancelled the page is not asked any more (and the answer
    /// is false).
    QCoro::Task<bool> prepareForUpdate(platform::CancelToken token = {});

signals:
    void urlChanged();
    void errorChanged();
    void logURLChanged();
    void startingChanged();
    /// The backend process was launched; at is where it will answer once it is ready (url is
    /// set to it then). Lets the page be prepared while the backend starts.
    void launched(const QUrl &at);

private:
    QCoro::Task<> attempt(platform::CancelToken token);
    // Makes the launch handed over by takeOverLaunch() this attempt's own when it is for at;
    // false (the launch asked to terminate, if there was one) otherwise.
    bool takeEarlyLaunchFor(const QUrl &at);
    // Asks the current process to terminate, drops it and closes the log.
    void endProcess();
    QCoro::Task<Health> health(QUrl at, platform::CancelToken token = {});
    QCoro::Task<std::optional<bool>> askUpdateStatus(QUrl baseUrl);
    // Keeps the ready backend watched: its process's end, or an adopted one's answers.
    void watchReadyBackend();
    QCoro::Task<> checkAdoptedBackend();
    // The ready backend is gone: status says how its process ended, when that is known.
    void loseBackend(std::optional<platform::ExitStatus> status);
    void writeToLog(const QByteArray &line);

    void setUrl(const QUrl &url);
    enum class ErrorKind { StartFailed, PortTaken, BackendLost };
    void setError(const QString &error, ErrorKind kind = ErrorKind::StartFailed);
    void setLogURL(const QUrl &logURL);
    void setStarting(bool starting);

    // Nothing was launched by this attempt.
    void failPlainly(const QString &message);
    // The attempt reached the log or the launch: the backend, if any, is asked to go.
    void failAfterLaunchPreparation(const QString &message);
    void succeed(const QUrl &url);

    platform::Bundle &m_bundle;
    platform::ProcessInfo &m_processInfo;
    platform::ProcessLauncher &m_launcher;
    platform::HttpClient &m_http;
    const BackendTiming m_timing;

    QUrl m_url;
    QString m_error;
    bool m_backendLost = false;
    bool m_portTaken = false;
    quint16 m_portOverride = 0;
    QUrl m_logURL;
    std::unique_ptr<platform::Process> m_process;
    platform::FileHandle m_log;
    // A launch made before this controller started one, until start() takes it over.
    std::unique_ptr<BackendLaunch> m_earlyLaunch;
    bool m_starting = false;
    // The attempt in progress; cancelled by the caller's token or by cancelStart().
    platform::TaskHandle m_attemptTask;
    QPointer<WorkspacePage> m_webView;
    // Asks an adopted ready backend whether it still answers; a probe in flight is not doubled.
    QTimer m_adoptedCheck;
    bool m_checkingAdopted = false;
};

} // namespace velmora::backend
