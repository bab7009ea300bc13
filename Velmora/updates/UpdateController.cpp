#include "updates/UpdateController.h"

#include "platform/Bundle.h"
#include "platform/HttpClient.h"
#include "platform/UrlOpener.h"
#include "updates/ReleaseNotesLoad.h"
#include "updates/SettingsKeys.h"
#include "updates/Texts.h"
#include "updates/UpdateEngineWindow.h"
#include "updates/UpdateWindow.h"

#include <QSettings>
#include <QTimer>

namespace velmora::updates {
namespace {

// The real engine unless the application registers another one.
UpdateController::PrepareForUpdate readyAtOnce()
{
    return [](platform::CancelToken) -> QCoro::Task<bool> { co_return true; };
}

} // namespace

UpdateController::UpdateController() : UpdateController(Dependencies{}) {}

UpdateController::UpdateController(Dependencies deps, QObject *parent)
    : QObject(parent)
    , m_controllerFactory(std::move(deps.controllerFactory))
    , m_bundle(deps.bundle ? *deps.bundle : platform::Bundle::main())
    , m_http(deps.http ? *deps.http : platform::HttpClient::shared())
    , m_urlOpener(deps.urlOpener ? *deps.urlOpener : platform::UrlOpener::system())
    , m_releaseNotesHosts(std::move(deps.releaseNotesHosts))
    , m_prepareForUpdate(deps.prepareForUpdate ? std::move(deps.prepareForUpdate) : readyAtOnce())
    , m_relaunchPollInterval(deps.relaunchPollInterval)
    , m_releaseNotes(m_http, m_releaseNotesHosts)
    , m_status(initialStatus)
{
    connect(&m_releaseNotes, &ReleaseNotesLoader::notesChanged, this, &UpdateController::releaseNotesChanged);
    connect(&m_releaseNotes, &ReleaseNotesLoader::loadingChanged, this, &UpdateController::isLoadingNotesChanged);
    connect(&m_releaseNotes, &ReleaseNotesLoader::failedChanged, this, &UpdateController::notesFailedChanged);
}

UpdateController::~UpdateController()
{
    for (const auto &observer : m_observers)
        QObject::disconnect(observer);
    delete m_updateWindow.data();
}

UpdateController &UpdateController::shared()
{
    // Lives for the whole process, like the application object that keeps it.
    static UpdateController *controller = new UpdateController();
    return *controller;
}

void UpdateController::setPrepareForUpdate(PrepareForUpdate prepare)
{
    m_prepareForUpdate = prepare ? std::move(prepare) : readyAtOnce();
}

bool UpdateController::isDevelopmentBuild() const
{
    return m_bundle.isDevelopmentBuild();
}

StandardUpdaterController &UpdateController::controller()
{
    if (!m_controller) {
        m_controller = m_controllerFactory ? m_controllerFactory(*this, *this) : makeStandardUpdaterController(*this, *this);
    }
    return *m_controller;
}

void UpdateController::setAutomaticallyChecksForUpdates(bool on)
{
    Updater &engine = updater();
    engine.setAutomaticallyChecksForUpdates(on);
    // The engine may refuse or adjust the value: show what it holds, not what was asked.
    setAutomaticallyChecksMirror(engine.automaticallyChecksForUpdates());
}

void UpdateController::start()
{
    if (m_phase != Phase::NotStarted)
        return;
    setPhase(Phase::Idle);

    Updater &engine = updater();
    // Values arrive later on the event loop, never inside the call that caused them, and not
    // at all once this controller is gone (this is the context object of every delivery).
    auto canCheckChanged = [this](bool value) {
        setCanCheckForUpdates(value);
        if (value && m_checkWaiting)
            refreshUpdateInformation();
    };
    m_observers.push_back(
        connect(&engine, &Updater::canCheckForUpdatesChanged, this, canCheckChanged, Qt::QueuedConnection));
    m_observers.push_back(connect(&engine, &Updater::automaticallyChecksForUpdatesChanged, this,
                                  &UpdateController::setAutomaticallyChecksMirror, Qt::QueuedConnection));
    // The initial values go the same way, ahead of any change the calls below cause.
    QMetaObject::invokeMethod(
        this, [canCheckChanged, value = engine.canCheckForUpdates()] { canCheckChanged(value); }, Qt::QueuedConnection);
    QMetaObject::invokeMethod(
        this, [this, value = engine.automaticallyChecksForUpdates()] { setAutomaticallyChecksMirror(value); },
        Qt::QueuedConnection);

    setAutomaticallyChecksMirror(engine.automaticallyChecksForUpdates());

    // Nothing is downloaded or installed without the user, at every launch.
    QSettings().setValue(automaticDownloadsKey, false);
    engine.setAutomaticallyDownloadsUpdates(false);

    if (isDevelopmentBuild()) {
        setStatus(developmentStatus);
        return;
    }

    controller().startUpdater();
    if (engine.automaticallyChecksForUpdates()) {
        setPhase(Phase::LaunchCheck);
        engine.checkForUpdatesInBackground();
    }
}

void UpdateController::refreshUpdateInformation()
{
    if (isDevelopmentBuild() || m_phase == Phase::InformationCheck)
        return;

    Updater &engine = updater();
    if (!m_canCheckForUpdates || engine.sessionInProgress()) {
        // Started later by the first of: the updater becoming able to check, or the end of
        // the cycle that keeps it busy.
        m_checkWaiting = true;
        setStatus(preparingStatus);
        return;
    }

    // The handle stays in the field; the cancelled load writes nothing.
    m_releaseNotes.clear();
    setWindowContentSize(windowSize);
    m_checkWaiting = false;
    setPhase(Phase::InformationCheck);
    setUpdateAvailable(false);
    setStatus(checkingStatus);
    engine.checkForUpdateInformation();
}

void UpdateController::didFindValidUpdate(Updater &, const UpdateItem &item)
{
    // Updates found by the engine's own cycles (scheduled checks, the install path) are left
    // to the engine.
    if (m_phase != Phase::InformationCheck && m_phase != Phase::LaunchCheck)
        return;

    setUpdateAvailable(true);
    setStatus(QLatin1Char('v') + item.displayVersionString + foundStatusSuffix);
    if (m_phase == Phase::LaunchCheck)
        showUpdateWindow();
    setWindowContentSize(windowSizeWithNotes);
    m_releaseNotes.load(item.releaseNotesURL);
}

void UpdateController::showUpdateWindow()
{
    if (!m_updateWindow)
        m_updateWindow = new UpdateWindow(*this, windowSize);
    m_updateWindow->present();
}

void UpdateController::didFinishUpdateCycle(Updater &, UpdateCheckKind, const std::optional<UpdaterError> &error)
{
    const Phase ended = m_phase;
    if (ended == Phase::LaunchCheck || ended == Phase::InformationCheck)
        setPhase(Phase::Idle);
    if (ended == Phase::InformationCheck) {
        if (error && !error->isNoUpdate()) {
            setUpdateAvailable(false);
            setStatus(failedStatus);
            return;
        }
        if (!m_updateAvailable)
            setStatus(upToDateStatus);
        return;
    }
    if (m_checkWaiting) {
        // After this callback has returned: the engine finishes its cycle first.
        QTimer::singleShot(0, this, &UpdateController::refreshUpdateInformation);
    }
}

bool UpdateController::shouldHandleShowingScheduledUpdate(const UpdateItem &, bool)
{
    // The launch check shows its find in this controller's window, not the engine's.
    return m_phase != Phase::LaunchCheck;
}

void UpdateController::willHandleShowingUpdate(bool handleShowingUpdate, const UpdateItem &)
{
    if (!handleShowingUpdate)
        showUpdateWindow();
}

QWidget *UpdateController::updateWindow() const
{
    return m_updateWindow.data();
}

void UpdateController::setWindowContentSize(QSize size)
{
    if (m_updateWindow)
        m_updateWindow->setContentSize(size);
}

bool UpdateController::shouldPostponeRelaunch(Updater &, const UpdateItem &, RelaunchContinuation continuation)
{
    m_installationTask.cancel();
    m_installationTask = platform::TaskHandle::make();
    platform::detach(
        holdRelaunch(m_prepareForUpdate, m_relaunchPollInterval, std::move(continuation), m_installationTask.token()));
    return true;
}

void UpdateController::relaunchWithdrawn(Updater &)
{
    // "Later": the hold stops asking the backend, and a question under way is not followed by
    // the page's preparation.
    m_installationTask.cancel();
}

QCoro::Task<> UpdateController::holdRelaunch(PrepareForUpdate prepare, std::chrono::milliseconds interval,
                                             RelaunchContinuation continuation, platform::CancelToken token)
{
    // Holds only what it needs, so it runs on even if the controller is gone. It begins on
    // the next turn of the event loop, so the engine has its answer before any continuation.
    if (!co_await platform::sleepFor(std::chrono::milliseconds(0), token))
        co_return;
    for (;;) {
        if (token.isCancelled())
            co_return;
        const bool ready = co_await prepare(token);
        // A newer request may have arrived while the backend was being asked: only the latest
        // continuation may run.
        if (token.isCancelled())
            co_return;
        if (ready) {
            if (continuation)
                continuation();
            co_return;
        }
        if (!co_await platform::sleepFor(interval, token))
            co_return;
    }
}

void UpdateController::setCanCheckForUpdates(bool value)
{
    if (m_canCheckForUpdates == value)
        return;
    m_canCheckForUpdates = value;
    emit canCheckForUpdatesChanged();
}

void UpdateController::setAutomaticallyChecksMirror(bool value)
{
    if (m_automaticallyChecksForUpdates == value)
        return;
    m_automaticallyChecksForUpdates = value;
    emit automaticallyChecksForUpdatesChanged();
}

void UpdateController::setPhase(Phase value)
{
    if (m_phase == value)
        return;
    const bool wasChecking = isChecking();
    m_phase = value;
    if (isChecking() != wasChecking)
        emit isCheckingChanged();
}

void UpdateController::setUpdateAvailable(bool value)
{
    if (m_updateAvailable == value)
        return;
    m_updateAvailable = value;
    emit updateAvailableChanged();
}

void UpdateController::setStatus(const QString &value)
{
    if (m_status == value)
        return;
    m_status = value;
    emit statusChanged();
}

} // namespace velmora::updates
