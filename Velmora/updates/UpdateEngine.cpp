#include "updates/UpdateEngine.h"

#include "platform/BuildInfo.h"
#include "platform/HttpClient.h"
#include "updates/Appcast.h"
#include "updates/BundleInfo.h"
#include "updates/SettingsKeys.h"
#include "updates/Texts.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSettings>

namespace velmora::updates {
namespace {

UpdaterError engineError(UpdateEngineError code, const QString &description, const QString &detail = {})
{
    QString message = description;
    if (!detail.isEmpty())
        message += QStringLiteral(" (%1)").arg(detail);
    return UpdaterError{QLatin1String(updaterErrorDomain), int(code), message};
}

InstallerConfiguration installerConfiguration(InstallerConfiguration installer, const QString &runningVersion,
                                              platform::HttpClient &http)
{
    if (installer.runningVersion.isEmpty())
        installer.runningVersion = runningVersion;
    if (!installer.http)
        installer.http = &http;
    return installer;
}

} // namespace

UpdateEngine::UpdateEngine(UpdaterDelegate &updaterDelegate, UserDriverDelegate &userDriverDelegate,
                           UpdateEngineConfiguration configuration, QObject *parent)
    : Updater(parent)
    , m_updaterDelegate(updaterDelegate)
    , m_userDriverDelegate(userDriverDelegate)
    , m_feedUrl(configuration.feedUrl.isEmpty() ? platform::buildSettings().updateFeedUrl : configuration.feedUrl,
                QUrl::StrictMode)
    , m_runningVersion(configuration.runningVersion.isEmpty() ? platform::buildSettings().version
                                                              : configuration.runningVersion)
    , m_http(configuration.http ? *configuration.http : platform::HttpClient::shared())
    , m_feedTimeout(configuration.feedTimeout)
    , m_allowedChannels(configuration.allowedChannels)
    , m_architecture(!configuration.architecture.isEmpty() ? configuration.architecture
                     : !buildArchitecture().isEmpty()      ? buildArchitecture()
                                                           : QStringLiteral("?")) // names no download
    , m_quit(configuration.quit ? std::move(configuration.quit) : std::function<void()>([] {
        // The user chose to relaunch and the new version already waits for this process: the
        // event loop ends without asking the windows, any of which could refuse a quit().
        QCoreApplication::exit(0);
    }))
    , m_installer(installerConfiguration(std::move(configuration.installer), m_runningVersion, m_http))
    , m_notes(m_http, configuration.releaseNotesHosts.value_or(platform::buildSettings().releaseNotesHosts))
{
    const QSettings settings;
    m_automaticallyChecks = settings.value(automaticChecksKey, true).toBool();
    m_automaticallyDownloads = settings.value(automaticDownloadsKey, false).toBool();
    m_state.runningVersion = m_runningVersion;

    m_schedule.setInterval(configuration.checkInterval);
    connect(&m_schedule, &QTimer::timeout, this, &UpdateEngine::scheduledCheck);
    connect(&m_installer, &UpdateInstaller::downloadProgress, this, [this](qint64 received, qint64 total) {
        m_state.received = received;
        m_state.total = total;
        // The last byte is in: the signature and the unpacking come next.
        setPhase(received >= total ? InstallPhase::Preparing : InstallPhase::Downloading);
        render();
    });
    connect(&m_notes, &ReleaseNotesLoader::notesChanged, this, &UpdateEngine::takeNotes);
    connect(&m_notes, &ReleaseNotesLoader::failedChanged, this, &UpdateEngine::takeNotes);
    connect(&m_notes, &ReleaseNotesLoader::loadingChanged, this, &UpdateEngine::takeNotes);
    // A prepared update that waited for "later" is installed as Velmora quits.
    if (QCoreApplication *application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, &UpdateEngine::installAtQuit);

    // Observers connect right after construction and expect the current values as their first
    // announcement, delivered like every later one.
    const bool automaticallyChecks = m_automaticallyChecks;
    QMetaObject::invokeMethod(
        this,
        [this, automaticallyChecks] {
            emit canCheckForUpdatesChanged(false);
            emit automaticallyChecksForUpdatesChanged(automaticallyChecks);
        },
        Qt::QueuedConnection);
}

UpdateEngine::~UpdateEngine()
{
    m_cycleTask.cancel();
    m_prepareTask.cancel();
}

bool UpdateEngine::canCheckForUpdates() const
{
    return m_started && !m_sessionInProgress && !isBusyInstalling();
}

bool UpdateEngine::automaticallyChecksForUpdates() const
{
    return m_automaticallyChecks;
}

void UpdateEngine::setAutomaticallyChecksForUpdates(bool on)
{
    // Written even when unchanged, so that an explicit choice survives a later change of the
    // default.
    QSettings().setValue(automaticChecksKey, on);
    if (m_automaticallyChecks == on)
        return;
    m_automaticallyChecks = on;
    updateSchedule();
    QMetaObject::invokeMethod(
        this, [this, on] { emit automaticallyChecksForUpdatesChanged(on); }, Qt::QueuedConnection);
}

bool UpdateEngine::automaticallyDownloadsUpdates() const
{
    return m_automaticallyDownloads;
}

void UpdateEngine::setAutomaticallyDownloadsUpdates(bool on)
{
    QSettings().setValue(automaticDownloadsKey, on);
    m_automaticallyDownloads = on;
}

bool UpdateEngine::sessionInProgress() const
{
    return m_sessionInProgress;
}

QString UpdateEngine::skippedVersion() const
{
    return QSettings().value(skippedVersionKey).toString();
}

QString UpdateEngine::rolledBackVersion() const
{
    return QSettings().value(rolledBackVersionKey).toString();
}

void UpdateEngine::passOverRolledBackVersion(const QString &version)
{
    if (!version.isEmpty())
        QSettings().setValue(rolledBackVersionKey, version);
}

void UpdateEngine::startUpdater()
{
    if (m_started)
        return;
    m_started = true;
    updateSchedule();
    announceCanCheckForUpdates();
}

void UpdateEngine::updateSchedule()
{
    // The launch check is the controller's; from then on one check per interval of running
    // time (the monotonic clock stands still while the computer sleeps).
    if (m_started && m_automaticallyChecks) {
        if (!m_schedule.isActive())
            m_schedule.start();
    } else {
        m_schedule.stop();
    }
}

void UpdateEngine::scheduledCheck()
{
    // A check or an installation under way already looks after this interval.
    if (canCheckForUpdates() && m_automaticallyChecks)
        startCycle(UpdateCheckKind::UpdatesInBackground);
}

void UpdateEngine::checkForUpdatesInBackground()
{
    startCycle(UpdateCheckKind::UpdatesInBackground);
}

void UpdateEngine::checkForUpdateInformation()
{
    startCycle(UpdateCheckKind::UpdateInformation);
}

void UpdateEngine::checkForUpdates()
{
    // An update already found, on its way or waiting: its window is the answer.
    if (isUnderWay(m_state.phase)) {
        showWindow();
        return;
    }

    // Installing is not ours to do here: say how to update instead, without a check.
    const InstallRefusal refusal = m_installer.refusal();
    if (refusal != InstallRefusal::None) {
        InstallFailure failure;
        failure.error = InstallError::Refused;
        failure.refusal = refusal;
        failure.bundlePath = m_installer.bundle();
        presentFailure(failure);
        showWindow();
        return;
    }
    setPhase(InstallPhase::Checking);
    showWindow();
    startCycle(UpdateCheckKind::Updates);
}

void UpdateEngine::startCycle(UpdateCheckKind kind)
{
    if (!canCheckForUpdates()) {
        // The running cycle (if any) is left alone; this request alone ends, still later on the
        // event loop like every cycle end, so a caller waiting for it is never left hanging.
        QMetaObject::invokeMethod(
            this, [this, kind] { reportCycleEnd(kind, engineError(UpdateEngineError::CheckRefused, checkRefusedText)); },
            Qt::QueuedConnection);
        return;
    }

    setSessionInProgress(true);
    m_cycleTask.cancel();
    m_cycleTask = platform::TaskHandle::make();
    const platform::CancelToken token = m_cycleTask.token();
    // Every delegate call comes after the call that asked for the check has returned.
    QMetaObject::invokeMethod(
        this, [this, kind, token] { platform::detach(runCycle(kind, token)); }, Qt::QueuedConnection);
}

QCoro::Task<> UpdateEngine::runCycle(UpdateCheckKind kind, platform::CancelToken token)
{
    QPointer<UpdateEngine> self(this);
    const QUrl feed = m_feedUrl;

    if (!feed.isValid() || feed.scheme().isEmpty() || feed.host().isEmpty()) {
        finishCycle(kind, engineError(UpdateEngineError::InvalidFeedUrl, invalidFeedText, feed.toString()));
        co_return;
    }
    if (feed.scheme() != QLatin1String("https")) {
        finishCycle(kind, engineError(UpdateEngineError::InsecureFeedUrl, insecureFeedText, feed.toString()));
        co_return;
    }

    // Redirects are followed on the feed's own host only: the feed says what gets installed.
    // (Named first: g++ 12 mishandles a braced list inside a co_await expression.)
    const platform::RedirectPolicy redirects = platform::RedirectPolicy::httpsWithin(QStringList(feed.host()));
    const platform::HttpResponse response = co_await m_http.get(feed, redirects, m_feedTimeout, token, maxFeedBytes);
    if (!self || token.isCancelled())
        co_return;

    if (!response.received) {
        finishCycle(kind, engineError(UpdateEngineError::AppcastUnavailable, unavailableFeedText, response.errorString));
        co_return;
    }
    if (response.status != 200) {
        finishCycle(kind, engineError(UpdateEngineError::AppcastUnavailable, unavailableFeedText,
                                      QStringLiteral("HTTP %1").arg(response.status)));
        co_return;
    }
    if (response.bodyTooLarge) {
        finishCycle(kind, engineError(UpdateEngineError::AppcastUnavailable, unavailableFeedText,
                                      QStringLiteral("more than %1 bytes").arg(maxFeedBytes)));
        co_return;
    }

    const AppcastParseResult feedContent = parseAppcast(response.body, QLatin1String(appcastLinuxOs), m_allowedChannels,
                                                        m_architecture);
    if (!feedContent.ok()) {
        finishCycle(kind, engineError(UpdateEngineError::AppcastParseError, unreadableFeedText, feedContent.error));
        co_return;
    }

    std::optional<AppcastItem> found = selectUpdate(feedContent.items, m_runningVersion);
    // A skipped version waits for a newer one, unless the user asks.
    const bool userInitiated = kind != UpdateCheckKind::UpdatesInBackground;
    // So does a version that was rolled back.
    if (found
        && (!isOffered(found->versionString, skippedVersion(), userInitiated)
            || !isOffered(found->versionString, rolledBackVersion(), userInitiated)))
        found.reset();
    if (!found) {
        finishCycle(kind, engineError(UpdateEngineError::NoUpdate, noUpdateText));
        co_return;
    }

    // A delegate may drop the engine from inside its callback: look again after each one.
    const UpdateItem item = found->updateItem();
    m_updaterDelegate.didFindValidUpdate(*this, item);
    if (!self)
        co_return;
    if (kind == UpdateCheckKind::Updates && m_state.phase == InstallPhase::Checking) {
        presentFound(item);
    } else if (kind == UpdateCheckKind::UpdatesInBackground) {
        if (m_automaticallyDownloads && m_installer.refusal() == InstallRefusal::None && !isBusyInstalling()
            && !m_installer.isReady()) {
            // Downloaded and prepared without a word; installed when Velmora quits.
            startPreparing(item, true);
        } else {
            const bool engineShows = m_userDriverDelegate.shouldHandleShowingScheduledUpdate(item, false);
            if (!self)
                co_return;
            m_userDriverDelegate.willHandleShowingUpdate(engineShows, item);
            if (!self)
                co_return;
            if (engineShows && !isBusyInstalling() && m_state.phase != InstallPhase::Ready)
                presentFound(item);
        }
    }
    finishCycle(kind, std::nullopt);
}

void UpdateEngine::finishCycle(UpdateCheckKind kind, std::optional<UpdaterError> error)
{
    // The session ends before the delegate hears of it, so that it may start the next check
    // from inside the callback.
    setSessionInProgress(false);
    reportCycleEnd(kind, error);
}

void UpdateEngine::reportCycleEnd(UpdateCheckKind kind, const std::optional<UpdaterError> &error)
{
    if (kind == UpdateCheckKind::Updates && m_state.phase == InstallPhase::Checking) {
        if (error)
            setPhase(error->isNoUpdate() ? InstallPhase::NoUpdate : InstallPhase::CheckFailed);
        render();
    }
    m_updaterDelegate.didFinishUpdateCycle(*this, kind, error);
}

void UpdateEngine::setSessionInProgress(bool on)
{
    if (m_sessionInProgress == on)
        return;
    m_sessionInProgress = on;
    announceCanCheckForUpdates();
}

void UpdateEngine::announceCanCheckForUpdates()
{
    const bool value = canCheckForUpdates();
    if (value == m_announcedCanCheck)
        return;
    m_announcedCanCheck = value;
    QMetaObject::invokeMethod(
        this, [this, value] { emit canCheckForUpdatesChanged(value); }, Qt::QueuedConnection);
}

bool UpdateEngine::isBusyInstalling() const
{
    return isInstalling(m_state.phase);
}

void UpdateEngine::setPhase(InstallPhase phase)
{
    if (m_state.phase == phase)
        return;
    m_state.phase = phase;
    render();
    announceCanCheckForUpdates();
    emit phaseChanged(phase);
}

void UpdateEngine::render()
{
    emit stateChanged();
}

void UpdateEngine::showWindow()
{
    emit showRequested();
}

void UpdateEngine::hideWindow()
{
    emit hideRequested();
}

void UpdateEngine::presentFound(const UpdateItem &item)
{
    m_item = item;
    m_state.newVersion = item.displayVersionString;
    m_state.message.clear();
    m_state.received = 0;
    m_state.total = item.contentLength;
    // The same addresses as the update window takes: https on the release-notes hosts, as written.
    m_notes.load(item.releaseNotesURL);
    setPhase(InstallPhase::Found);
    render();
    showWindow();
}

void UpdateEngine::presentFailure(const InstallFailure &failure)
{
    m_state.message = failure.message();
    setPhase(failure.error == InstallError::Refused ? InstallPhase::Refused : InstallPhase::Failed);
    render();
}

void UpdateEngine::takeNotes()
{
    m_state.notes = m_notes.notes();
    m_state.notesLoading = m_notes.isLoading();
    m_state.notesFailed = m_notes.failed();
    render();
}

void UpdateEngine::install()
{
    if (m_state.phase != InstallPhase::Found)
        return;
    // Choosing a skipped version after all takes the skip back.
    if (skippedVersion() == m_item.versionString)
        QSettings().remove(skippedVersionKey);
    if (rolledBackVersion() == m_item.versionString)
        QSettings().remove(rolledBackVersionKey);
    startPreparing(m_item, false);
}

void UpdateEngine::startPreparing(const UpdateItem &item, bool silent)
{
    m_prepareTask.cancel();
    if (m_installer.isReady())
        m_installer.discard();
    m_item = item;
    m_state.newVersion = item.displayVersionString;
    m_state.received = 0;
    m_state.total = item.contentLength;
    m_prepareTask = platform::TaskHandle::make();
    setPhase(InstallPhase::Downloading);
    platform::detach(prepare(item, silent, m_prepareTask.token()));
}

QCoro::Task<> UpdateEngine::prepare(UpdateItem item, bool silent, platform::CancelToken token)
{
    QPointer<UpdateEngine> self(this);
    const std::optional<InstallFailure> failure = co_await m_installer.prepare(item, token);
    if (!self || token.isCancelled())
        co_return;
    if (failure) {
        if (failure->error == InstallError::Cancelled || silent) {
            // A download without the user fails without a word; the next check tries again.
            setPhase(InstallPhase::Idle);
            co_return;
        }
        presentFailure(*failure);
        showWindow();
        co_return;
    }
    setPhase(InstallPhase::Ready);
    if (!silent)
        showWindow();
}

void UpdateEngine::installAndRelaunch()
{
    if (m_state.phase != InstallPhase::Ready || !m_installer.isReady())
        return;
    setPhase(InstallPhase::Waiting);
    const int generation = ++m_relaunchGeneration;
    QPointer<UpdateEngine> self(this);
    // The delegate holds the relaunch until the backend has wound down, then continues.
    const bool postponed = m_updaterDelegate.shouldPostponeRelaunch(*this, m_item, [self, generation] {
        if (self)
            self->continueRelaunch(generation);
    });
    if (self && !postponed)
        continueRelaunch(generation);
}

void UpdateEngine::continueRelaunch(int generation)
{
    if (generation != m_relaunchGeneration || m_state.phase != InstallPhase::Waiting)
        return;
    setPhase(InstallPhase::Installing);
    if (const auto failure = m_installer.swap()) {
        presentFailure(*failure);
        showWindow();
        return;
    }
    if (const auto failure = m_installer.relaunch()) {
        presentFailure(*failure);
        showWindow();
        return;
    }
    // The new version waits for this process to end before it takes over.
    m_quit();
}

void UpdateEngine::later()
{
    switch (m_state.phase) {
    case InstallPhase::Found:
        setPhase(InstallPhase::Idle);
        break;
    case InstallPhase::Waiting: {
        // A continuation of this request arriving later does nothing, and the delegate stops
        // holding the relaunch for it.
        ++m_relaunchGeneration;
        setPhase(InstallPhase::Ready);
        QPointer<UpdateEngine> self(this);
        m_updaterDelegate.relaunchWithdrawn(*this);
        if (!self)
            return;
        break;
    }
    default:
        break;
    }
    hideWindow();
}

void UpdateEngine::skip()
{
    if (m_state.phase != InstallPhase::Found)
        return;
    QSettings().setValue(skippedVersionKey, m_item.versionString);
    setPhase(InstallPhase::Idle);
    hideWindow();
}

void UpdateEngine::cancel()
{
    if (isCancellable(m_state.phase)) {
        // A check runs to its end, and nothing is shown of it; a download or its preparation
        // stops.
        if (isInstalling(m_state.phase))
            m_prepareTask.cancel();
        setPhase(InstallPhase::Idle);
    }
    hideWindow();
}

void UpdateEngine::dismissed()
{
    // Work under way goes on out of sight, and a prepared update is installed at quit; a check
    // nobody watches any more is as good as cancelled.
    if (canWaitForLater(m_state.phase))
        later();
    else if (m_state.phase == InstallPhase::Checking)
        cancel();
    else if (isOutcome(m_state.phase))
        setPhase(InstallPhase::Idle);
    hideWindow();
}

void UpdateEngine::installAtQuit()
{
    if (!m_installer.isReady())
        return;
    // The next start runs the new version, which confirms itself like a relaunched one.
    m_installer.swap();
}

} // namespace velmora::updates
