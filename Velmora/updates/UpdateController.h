#pragma once

#include "platform/Async.h"
#include "platform/BuildInfo.h"
#include "updates/ReleaseNotesLoad.h"
#include "updates/Updater.h"

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QWidget>

#include <QCoro/QCoroTask>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace velmora::platform {
class Bundle;
class HttpClient;
class UrlOpener;
} // namespace velmora::platform

namespace velmora::updates {

class UpdateWindow;

// The application's single holder of update state and its only contact with the update
// engine. It mirrors two of the updater's properties, runs the launch check and the user's
// information check, keeps the status line of the update window, makes that window, loads
// the release notes of a found update and holds the relaunch after an installation until the
// backend has wound down.
//
// Ordering guarantees, each held by a test:
// - The updater's two properties reach the mirrors later on the event loop, never inside the
//   call that caused them; their values at start() arrive before any change start() causes,
//   and nothing arrives once the controller is gone (tst_updatecontroller:
//   startsOnceWithObservationsDeliveredLater, deliveriesToAGoneControllerDoNothing).
// - refreshUpdateInformation() cancels the running notes load and clears the last find before
//   isChecking turns true, and sets the status last, so whoever reacts to isChecking sees no
//   stale notes (refreshAnnouncesInOrder). A cancelled load writes nothing, whatever stage it
//   reached (tst_updatecontroller_notes: loadCancelledByANewerCheckWritesNothing,
//   answerAfterTheCancelWritesNothing).
// - A check that had to wait starts on the first of: the updater becoming able to check, or
//   the end of a cycle that was not one of this controller's information checks, and then
//   only after that cycle's callback has returned (refreshDuringAnotherSessionRunsAfterIt).
// - The relaunch hold asks the backend from the next turn of the event loop on, so the engine
//   has its answer before any continuation runs, and only the latest continuation can run
//   (tst_relaunchhold: idleBackendRelaunchesAfterTheFirstAnswer, secondRequestCancelsTheFirst).
class UpdateController
    : public QObject
    , public UpdaterDelegate
    , public UserDriverDelegate
{
    Q_OBJECT
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)
    Q_PROPERTY(bool automaticallyChecksForUpdates READ automaticallyChecksForUpdates WRITE setAutomaticallyChecksForUpdates
                   NOTIFY automaticallyChecksForUpdatesChanged)
    Q_PROPERTY(bool isChecking READ isChecking NOTIFY isCheckingChanged)
    Q_PROPERTY(bool updateAvailable READ updateAvailable NOTIFY updateAvailableChanged)
    Q_PROPERTY(QString releaseNotes READ releaseNotes NOTIFY releaseNotesChanged)
    Q_PROPERTY(bool isLoadingNotes READ isLoadingNotes NOTIFY isLoadingNotesChanged)
    Q_PROPERTY(bool notesFailed READ notesFailed NOTIFY notesFailedChanged)
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
public:
    // Where the controller's own update cycles stand.
    enum class Phase {
        NotStarted,       // start() has not run
        Idle,             // started; none of this controller's checks runs
        LaunchCheck,      // the automatic check made by start() runs
        InformationCheck, // the user's check runs (isChecking)
    };
    Q_ENUM(Phase)

    // Answers whether the backend and its page have wound down so the application may be
    // replaced and relaunched.
    // The token is cancelled once the relaunch has been withdrawn: the page is not asked to
    // wind down for a relaunch that will not happen.
    using PrepareForUpdate = std::function<QCoro::Task<bool>(platform::CancelToken token)>;

    // How often the relaunch hold asks again while the backend is not ready.
    static constexpr std::chrono::milliseconds relaunchPollInterval{2000};
    static constexpr std::chrono::milliseconds releaseNotesTimeout = releaseNotesRequestTimeout;
    static constexpr qint64 releaseNotesMaxBytes = releaseNotesMaxBodyBytes;
    static constexpr QSize windowSize{500, 420};
    static constexpr QSize windowSizeWithNotes{500, 650};

    struct Dependencies
    {
        // Makes the engine's standard controller; empty = the default factory (the real engine).
        StandardUpdaterControllerFactory controllerFactory;
        platform::Bundle *bundle = nullptr;       // nullptr = the application's own bundle
        platform::HttpClient *http = nullptr;     // nullptr = the shared client
        platform::UrlOpener *urlOpener = nullptr; // nullptr = the system's default handler
        // The only hosts release notes are loaded from, compared letter for letter.
        QStringList releaseNotesHosts = platform::buildSettings().releaseNotesHosts;
        // Empty = an answer of true at once (no backend to wait for).
        PrepareForUpdate prepareForUpdate;
        std::chrono::milliseconds relaunchPollInterval = UpdateController::relaunchPollInterval;
    };

    // The real services and the registered engine.
    UpdateController();
    explicit UpdateController(Dependencies deps, QObject *parent = nullptr);
    ~UpdateController() override;

    // The one controller of the application, made on first use over the real engine.
    static UpdateController &shared();
    // The backend question the relaunch hold asks; replaces the current one.
    void setPrepareForUpdate(PrepareForUpdate prepare);

    /// Mirror of the updater's canCheckForUpdates.
    bool canCheckForUpdates() const { return m_canCheckForUpdates; }
    /// Mirror of the updater's automaticallyChecksForUpdates (what the checkbox shows).
    bool automaticallyChecksForUpdates() const { return m_automaticallyChecksForUpdates; }
    /// Writes the setting to the updater, then shows what the updater holds afterwards.
    void setAutomaticallyChecksForUpdates(bool on);
    /// An information check started by refreshUpdateInformation() is running.
    bool isChecking() const { return m_phase == Phase::InformationCheck; }
    /// The current information check or the launch check found a valid update.
    bool updateAvailable() const { return m_updateAvailable; }
    /// Plain text of the found update's release notes.
    QString releaseNotes() const { return m_releaseNotes.notes(); }
    /// The release-notes load is running.
    bool isLoadingNotes() const { return m_releaseNotes.isLoading(); }
    /// The release-notes load failed or its address was refused.
    bool notesFailed() const { return m_releaseNotes.failed(); }
    /// The status line of the update window.
    QString status() const { return m_status; }

    /// True in a development build (see platform::Bundle::isDevelopmentBuild).
    bool isDevelopmentBuild() const;
    /// Where the controller's own update cycles stand.
    Phase phase() const { return m_phase; }
    /// The engine's standard controller, made on first use.
    StandardUpdaterController &controller();
    /// The update window once made (hidden, not deleted, when the user closes it).
    QWidget *updateWindow() const;
    /// The bundle whose information dictionary this controller reads.
    platform::Bundle &bundle() const { return m_bundle; }
    /// The handler that opens the release page and links.
    platform::UrlOpener &urlOpener() const { return m_urlOpener; }

    /// One-time setup: observations, engine settings, engine start and launch check.
    void start();
    /// Makes the update window on first use and brings it to the front.
    void showUpdateWindow();
    /// The interactive check for an update; waits when the updater cannot take it yet.
    void refreshUpdateInformation();

    /// The running release-notes load, kept so a newer check can cancel it.
    const platform::TaskHandle &releaseNotesTask() const { return m_releaseNotes.task(); }
    /// The running relaunch hold, kept so a newer request can cancel it.
    const platform::TaskHandle &installationTask() const { return m_installationTask; }

    // UpdaterDelegate
    void didFindValidUpdate(Updater &updater, const UpdateItem &item) override;
    void didFinishUpdateCycle(Updater &updater, UpdateCheckKind kind, const std::optional<UpdaterError> &error) override;
    bool shouldPostponeRelaunch(Updater &updater, const UpdateItem &item, RelaunchContinuation continuation) override;
    void relaunchWithdrawn(Updater &updater) override;
    // UserDriverDelegate
    bool shouldHandleShowingScheduledUpdate(const UpdateItem &item, bool immediateFocus) override;
    void willHandleShowingUpdate(bool handleShowingUpdate, const UpdateItem &item) override;

signals:
    void canCheckForUpdatesChanged();
    void automaticallyChecksForUpdatesChanged();
    void isCheckingChanged();
    void updateAvailableChanged();
    void releaseNotesChanged();
    void isLoadingNotesChanged();
    void notesFailedChanged();
    void statusChanged();

private:
    void setCanCheckForUpdates(bool value);
    void setAutomaticallyChecksMirror(bool value);
    void setPhase(Phase value);
    void setUpdateAvailable(bool value);
    void setStatus(const QString &value);

    Updater &updater() { return controller().updater(); }
    void setWindowContentSize(QSize size);
    static QCoro::Task<> holdRelaunch(PrepareForUpdate prepare, std::chrono::milliseconds interval,
                                      RelaunchContinuation continuation, platform::CancelToken token);

    StandardUpdaterControllerFactory m_controllerFactory;
    platform::Bundle &m_bundle;
    platform::HttpClient &m_http;
    platform::UrlOpener &m_urlOpener;
    QStringList m_releaseNotesHosts;
    PrepareForUpdate m_prepareForUpdate;
    std::chrono::milliseconds m_relaunchPollInterval;

    bool m_canCheckForUpdates = false;
    bool m_automaticallyChecksForUpdates = true;
    bool m_updateAvailable = false;
    ReleaseNotesLoader m_releaseNotes;
    QString m_status;
    std::vector<QMetaObject::Connection> m_observers;
    QPointer<UpdateWindow> m_updateWindow;
    platform::TaskHandle m_installationTask;
    Phase m_phase = Phase::NotStarted;
    // An information check was asked for while the updater could not take one (during the
    // launch check, another cycle of the engine's, or before it could check at all).
    bool m_checkWaiting = false;
    std::unique_ptr<StandardUpdaterController> m_controller;
};

} // namespace velmora::updates
