#pragma once

// Velmora's own update engine behind the Updater operations: it reads the update feed over
// HTTPS, picks the newest entry for this platform and reports it to the delegates, checks by
// itself every 24 hours of running time while automatic checks are on, and installs updates
// (UpdateInstaller does the work) in the steps its window shows: the found version with its
// release notes, the download with its progress, the relaunch once the delegate's relaunch
// hold lets it go, and every failure in Korean. A bundle it must not replace (installed by the
// package manager, or in a folder the user cannot write) is still checked; its window then
// says how to update instead.
//
// The engine decides without a window: it keeps the window's state (state()), says when the
// window should come to the front or go out of sight, and takes the user's choices through its
// public slots. UpdateEngineWindow puts a window on it.

#include "platform/Async.h"
#include "updates/InstallPhase.h"
#include "updates/ReleaseNotesLoad.h"
#include "updates/UpdateInstaller.h"
#include "updates/Updater.h"

#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace velmora::platform {
class HttpClient;
} // namespace velmora::platform

namespace velmora::updates {

// Codes in updaterErrorDomain with which the engine ends an update cycle.
enum class UpdateEngineError : int {
    InsecureFeedUrl = 3,          // the feed address is not https; nothing was requested
    InvalidFeedUrl = 4,           // the feed address is empty or has no host
    CheckRefused = 5,             // a check was asked for before startUpdater() or during another cycle
    AppcastParseError = 1000,     // the feed arrived but is not a readable feed
    NoUpdate = noUpdateErrorCode, // 1001: no entry for this platform is newer than the running version
    AppcastUnavailable = 1002,    // no response, time-out, a status other than 200, or a body over the limit
};

// Whole-request limit of the feed download, and the largest feed accepted.
inline constexpr std::chrono::milliseconds feedRequestTimeout{30000};
inline constexpr qint64 maxFeedBytes = 4 * 1024 * 1024;
// Automatic checks while Velmora runs: the update framework's default interval.
inline constexpr std::chrono::milliseconds scheduledCheckInterval = std::chrono::hours(24);

// What the engine works with; an empty or null field takes the build's value.
struct UpdateEngineConfiguration
{
    QString feedUrl;                      // default: platform::buildSettings().updateFeedUrl
    QString runningVersion;               // default: platform::buildSettings().version
    platform::HttpClient *http = nullptr; // default: platform::HttpClient::shared()
    std::chrono::milliseconds feedTimeout = feedRequestTimeout;
    QStringList allowedChannels = {}; // named feed channels offered besides the default one
    // Only Linux downloads that name this architecture (velmora:arch) are offered. One that
    // names none is not offered either: a validly signed archive for another processor would
    // otherwise be exchanged in, and builds older than the attribute ignore it, so a feed can
    // name every download's architecture at once. Default: buildArchitecture().
    QString architecture = {};
    // The installation; its running version and HTTP client default to the ones above.
    InstallerConfiguration installer = {};
    // Hosts the engine's window loads release notes from; default: the build's.
    std::optional<QStringList> releaseNotesHosts = std::nullopt;
    std::chrono::milliseconds checkInterval = scheduledCheckInterval;
    // Ends the application after the new version has been started, whatever its windows say;
    // default: QCoreApplication::exit(0).
    std::function<void()> quit = {};
};

class UpdateEngine final
    : public Updater
    , public StandardUpdaterController
{
    Q_OBJECT
public:
    // Made "not started": canCheckForUpdates stays false until startUpdater(). The delegates
    // must outlive the engine. The initial values of both properties are announced too, later
    // on the event loop.
    UpdateEngine(UpdaterDelegate &updaterDelegate, UserDriverDelegate &userDriverDelegate,
                 UpdateEngineConfiguration configuration = {}, QObject *parent = nullptr);
    ~UpdateEngine() override;

    // Updater
    bool canCheckForUpdates() const override;
    bool automaticallyChecksForUpdates() const override;
    void setAutomaticallyChecksForUpdates(bool on) override;
    bool automaticallyDownloadsUpdates() const override;
    void setAutomaticallyDownloadsUpdates(bool on) override;
    bool sessionInProgress() const override;
    void checkForUpdatesInBackground() override;
    void checkForUpdateInformation() override;

    // StandardUpdaterController
    Updater &updater() override { return *this; }
    void startUpdater() override;
    // The engine's install path: checks, then shows the found update in its window and
    // installs it on the user's word. On a bundle it must not replace, the window says how to
    // update instead.
    void checkForUpdates() override;

    // True once startUpdater() has run.
    bool isStarted() const { return m_started; }
    // The feed address and running version in use.
    QUrl feedUrl() const { return m_feedUrl; }
    QString runningVersion() const { return m_runningVersion; }
    // The version the user chose to skip; empty when none.
    QString skippedVersion() const;
    // The version an earlier start rolled back; empty when none.
    QString rolledBackVersion() const;
    // Called by the start that reports a rollback: checks the user did not ask for pass the
    // version by from now on (the user's own check may still offer it), so that the window of
    // a launch check does not offer it again over the rollback's message.
    static void passOverRolledBackVersion(const QString &version);
    // What the engine's window shows.
    const InstallState &state() const { return m_state; }
    InstallPhase phase() const { return m_state.phase; }
    UpdateInstaller &installer() { return m_installer; }
    // The timer of the scheduled checks (active while they are on).
    const QTimer &scheduleTimer() const { return m_schedule; }
    // Installs an update that is ready ("later" was chosen, or it came without the user) as
    // Velmora quits; connected to the application's aboutToQuit.
    void installAtQuit();

    // The user's choices in the engine's window; each does nothing in a phase that does not
    // offer it.
    void install();
    void later();
    void skip();
    void cancel();
    void installAndRelaunch();
    // The window was closed by its own control: what that means depends on the phase.
    void dismissed();

signals:
    // The engine's phase changed (its window renders it).
    void phaseChanged(velmora::updates::InstallPhase phase);
    // Something state() holds may have changed: a window that exists shows it again.
    void stateChanged();
    // The window comes to the front, made first when there is none.
    void showRequested();
    // The window goes out of sight; work under way goes on.
    void hideRequested();

private:
    void startCycle(UpdateCheckKind kind);
    QCoro::Task<> runCycle(UpdateCheckKind kind, platform::CancelToken token);
    void finishCycle(UpdateCheckKind kind, std::optional<UpdaterError> error);
    void reportCycleEnd(UpdateCheckKind kind, const std::optional<UpdaterError> &error);
    void setSessionInProgress(bool on);
    void announceCanCheckForUpdates();
    void updateSchedule();
    void scheduledCheck();

    // The install path.
    void setPhase(InstallPhase phase);
    void render();
    void showWindow();
    void hideWindow();
    void presentFound(const UpdateItem &item);
    void presentFailure(const InstallFailure &failure);
    void takeNotes();
    void startPreparing(const UpdateItem &item, bool silent);
    QCoro::Task<> prepare(UpdateItem item, bool silent, platform::CancelToken token);
    void continueRelaunch(int generation);
    bool isBusyInstalling() const;

    UpdaterDelegate &m_updaterDelegate;
    UserDriverDelegate &m_userDriverDelegate;
    QUrl m_feedUrl;
    QString m_runningVersion;
    platform::HttpClient &m_http;
    std::chrono::milliseconds m_feedTimeout;
    QStringList m_allowedChannels;
    QString m_architecture;
    std::function<void()> m_quit;
    UpdateInstaller m_installer;
    QTimer m_schedule;

    bool m_started = false;
    bool m_sessionInProgress = false;
    bool m_announcedCanCheck = false;
    bool m_automaticallyChecks = true;
    bool m_automaticallyDownloads = false;
    platform::TaskHandle m_cycleTask;

    InstallState m_state;
    UpdateItem m_item;
    ReleaseNotesLoader m_notes;
    platform::TaskHandle m_prepareTask;
    // Counts relaunch requests: a continuation of an earlier one (the user chose "later" since)
    // does nothing.
    int m_relaunchGeneration = 0;
};

} // namespace velmora::updates
