#include "backend/BackendController.h"

#include "backend/LaunchPlan.h"
#include "backend/Texts.h"
#include "backend/UpdateStatus.h"
#include "platform/FileSystem.h"
#include "platform/ListeningPorts.h"
#include "platform/PortWatch.h"

#include <QDateTime>

#include <unistd.h>

namespace velmora::backend {

namespace {

// A token cancelled as soon as either of the two is.
platform::CancelToken eitherOf(const platform::CancelToken &a, const platform::CancelToken &b)
{
    const platform::TaskHandle either = platform::TaskHandle::make();
    platform::CancelState *state = either.token().state();
    for (const platform::CancelToken &token : {a, b}) {
        if (token.isCancelled())
            either.cancel();
        else if (platform::CancelState *source = token.state())
            QObject::connect(source, &platform::CancelState::cancelled, state, [state] { state->cancel(); });
    }
    return either.token();
}

// Velmora's own line before each launched backend's output, so that attempts can be told
// apart in the log; "{pid}" is filled in by the launch.
QByteArray launchLogLine(const QString &version, int port)
{
    return QStringLiteral("=== Velmora %1: backend started %2 (pid {pid}, port %3) ===\n")
        .arg(version, QDateTime::currentDateTimeUtc().toString(Qt::ISODate), QString::number(port))
        .toUtf8();
}

// The line for a backend's end, as far as it is known.
QByteArray exitLogLine(const std::optional<platform::ExitStatus> &status)
{
    if (!status)
        return "=== backend exited ===\n";
    return (status->signalled ? "=== backend exited with signal " : "=== backend exited with code ")
           + QByteArray::number(status->code) + " ===\n";
}

} // namespace

BackendController::BackendController(Dependencies deps, QObject *parent)
    : QObject(parent)
    , m_bundle(deps.bundle ? *deps.bundle : platform::Bundle::main())
    , m_processInfo(deps.processInfo ? *deps.processInfo : platform::ProcessInfo::current())
    , m_launcher(deps.launcher ? *deps.launcher : platform::ProcessLauncher::system())
    , m_http(deps.http ? *deps.http : platform::HttpClient::shared())
    , m_timing(deps.timing)
{
    m_adoptedCheck.setInterval(m_timing.adoptedCheckInterval);
    m_adoptedCheck.setTimerType(Qt::VeryCoarseTimer);
    connect(&m_adoptedCheck, &QTimer::timeout, this, [this] { platform::detach(checkAdoptedBackend()); });
}

BackendController::~BackendController()
{
    // A controller going away must not leave its backend running unasked.
    stop();
}

BackendController &BackendController::shared()
{
    // Never destroyed: the application asks the backend to stop on termination itself, and a
    // QObject must not outlive the application object in a static destructor.
    static BackendController *controller = new BackendController;
    return *controller;
}

QCoro::Task<> BackendController::start(platform::CancelToken token)
{
    // Decided and marked before anything suspends, so two callers never run two attempts.
    if (m_starting || !m_url.isEmpty())
        return []() -> QCoro::Task<> { co_return; }();
    setStarting(true);
    setError(QString());
    stop();
    // The attempt runs on a handle of its own, which the caller's token and cancelStart() both
    // cancel.
    m_attemptTask = platform::TaskHandle::make();
    if (token.isCancelled())
        m_attemptTask.cancel();
    else if (platform::CancelState *state = token.state())
        connect(state, &platform::CancelState::cancelled, this, [attempt = m_attemptTask] { attempt.cancel(); });
    return attempt(m_attemptTask.token());
}

void BackendController::cancelStart()
{
    m_attemptTask.cancel();
}

QCoro::Task<> BackendController::startOnAnotherPort()
{
    if (m_starting || !m_url.isEmpty())
        return start();
    if (const std::optional<quint16> free = platform::freeLoopbackPort())
        m_portOverride = *free;
    return start();
}

QCoro::Task<> BackendController::attempt(platform::CancelToken token)
{
    QPointer<BackendController> self(this);

    const LaunchPlanResolution resolution = resolveLaunchPlan(m_bundle);
    if (!resolution.ok()) {
        failPlainly(resolution.error);
        co_return;
    }
    const LaunchPlan plan = resolution.plan;
    PortResolution port = resolvePort(m_processInfo);
    if (m_portOverride != 0) {
        port = PortResolution{};
        port.port = m_portOverride;
        port.baseUrl = QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_portOverride));
    }
    if (!port.ok()) {
        failPlainly(port.error);
        co_return;
    }

    // Until the launch a cancelled attempt ends plainly: a cancelled probe reads as a free
    // port, so it must never be taken as one.
    const auto cancelledBeforeLaunch = [&token, this] {
        if (!token.isCancelled())
            return false;
        failPlainly(startCancelledMessage);
        return true;
    };

    if (cancelledBeforeLaunch())
        co_return;
    Health found = co_await health(port.baseUrl, token);
    if (!self || cancelledBeforeLaunch())
        co_return;
    switch (found) {
    case Health::Ours:
        // Our own backend from an earlier attempt still answers: adopt it.
        succeed(port.baseUrl);
        co_return;
    case Health::Foreign:
        setError(portInUseMessage(port.port), ErrorKind::PortTaken);
        setStarting(false);
        co_return;
    case Health::Unreachable:
        break;
    case Health::OtherInstance: {
        bool freed = false;
        for (int cycle = 0; cycle < m_timing.waitCycles && !freed; ++cycle) {
            // Cut short by a cancellation, which then ends the attempt.
            co_await platform::sleepFor(m_timing.pause, token);
            if (!self || cancelledBeforeLaunch())
                co_return;
            found = co_await health(port.baseUrl, token);
            if (!self || cancelledBeforeLaunch())
                co_return;
            freed = found == Health::Unreachable;
        }
        if (!freed) {
            failPlainly(earlierInstanceMessage);
            co_return;
        }
        break;
    }
    }

    platform::AppendingFile log = platform::openAppendingFile(
        logFilePath(plan.runtimeDirectory), [this](const QString &file) { setLogURL(QUrl::fromLocalFile(file)); });
    if (!log.ok()) {
        failAfterLaunchPreparation(log.error);
        co_return;
    }
    m_log = std::move(log.handle);

    platform::ProcessDescription description;
    description.executable = plan.executable;
    description.arguments = argumentVector(plan, port.port);
    description.environment = backendEnvironment(plan, port.port, m_processInfo, m_bundle);
    description.workingDirectory = plan.runtimeDirectory;
    description.outputFd = m_log.fd();
    description.outputHeader = launchLogLine(m_bundle.infoValue(platform::bundleKey::shortVersion).toString(), port.port);
    platform::LaunchResult launched = m_launcher.launch(description);
    if (!launched.process) {
        failAfterLaunchPreparation(launched.error);
        co_return;
    }
    m_process = std::move(launched.process);
    emit this->launched(port.baseUrl);
    if (!self)
        co_return;
    // A backend that exits ends the pause it happens in: the next cycle reports it at once.
    const platform::TaskHandle exited = platform::TaskHandle::make();
    m_process->whenExited([exited] { exited.cancel(); });

    // The backend is found the moment it can answer rather than at the next step of the
    // cadence: its port accepting a connection ends the pause in progress (or skips the next
    // one) once. The watch ends with the attempt.
    const platform::TaskHandle listening = platform::TaskHandle::make();
    const platform::PortWatch watch(port.baseUrl.host(), quint16(port.baseUrl.port()), m_timing.listenCheckInterval,
                                    m_timing.listenCheckPeriod);
    QObject::connect(&watch, &platform::PortWatch::accepting, [listening] { listening.cancel(); });
    bool listenerWokeUs = false;

    for (int cycle = 0; cycle < m_timing.readinessCycles; ++cycle) {
        if (!m_process || !m_process->isRunning()) {
            if (m_process)
                writeToLog(exitLogLine(m_process->exitStatus()));
            failAfterLaunchPreparation(backendExitedMessage);
            co_return;
        }
        found = co_await health(port.baseUrl, token);
        if (!self)
            co_return;
        if (found == Health::Ours) {
            succeed(port.baseUrl);
            co_return;
        }
        const platform::CancelToken wake = listenerWokeUs ? exited.token() : eitherOf(exited.token(), listening.token());
        const bool paused = co_await platform::sleepFor(m_timing.pause, token, wake);
        if (!self)
            co_return;
        listenerWokeUs = listenerWokeUs || listening.isCancelled();
        if (!paused) {
            failAfterLaunchPreparation(startCancelledMessage);
            co_return;
        }
    }
    failAfterLaunchPreparation(backendNotReadyMessage);
}

QCoro::Task<Health> BackendController::health(QUrl at, platform::CancelToken token)
{
    return probeHealth(m_http, std::move(at), m_processInfo.processId(), m_timing.probeTimeout, std::move(token));
}

void BackendController::watchReadyBackend()
{
    if (!m_process) {
        m_adoptedCheck.start();
        return;
    }
    // Replaces the attempt's own watch. The handle is compared so that the end of an earlier
    // process never counts for a later one.
    QPointer<BackendController> self(this);
    platform::Process *process = m_process.get();
    m_process->whenExited([self, process] {
        if (self && self->m_process.get() == process && !self->m_url.isEmpty())
            self->loseBackend(process->exitStatus());
    });
}

QCoro::Task<> BackendController::checkAdoptedBackend()
{
    if (m_checkingAdopted || m_url.isEmpty() || m_process)
        co_return;
    // Most of the time the system's socket table says that it still listens, which costs
    // nothing; only when it does not (or cannot be read) is the backend asked.
    if (platform::isListeningOn(quint16(m_url.port())) == true)
        co_return;
    m_checkingAdopted = true;
    QPointer<BackendController> self(this);
    const QUrl at = m_url;
    // A single missed answer on a busy machine is not an end: it must miss twice in a row.
    for (int probe = 0; probe < 2; ++probe) {
        const Health found = co_await health(at);
        if (!self)
            co_return;
        if (found == Health::Ours || m_url != at || m_process) {
            m_checkingAdopted = false;
            co_return;
        }
    }
    m_checkingAdopted = false;
    loseBackend(std::nullopt);
}

void BackendController::loseBackend(std::optional<platform::ExitStatus> status)
{
    m_adoptedCheck.stop();
    writeToLog(exitLogLine(status));
    stop();
    // The error first, so that the page gives way to the failure screen directly.
    setError(backendLostMessage(status), ErrorKind::BackendLost);
    setUrl(QUrl());
}

void BackendController::writeToLog(const QByteArray &line)
{
    if (!m_log.isOpen())
        return;
    const char *data = line.constData();
    qsizetype left = line.size();
    while (left > 0) {
        const ssize_t written = ::write(m_log.fd(), data, size_t(left));
        if (written <= 0)
            return;
        data += written;
        left -= written;
    }
}

void BackendController::stop()
{
    if (m_process && m_process->isRunning())
        m_process->requestTermination();
    m_process.reset();
    m_log.close();
}

WorkspacePage *BackendController::webView() const
{
    return m_webView.data();
}

void BackendController::setWebView(WorkspacePage *page)
{
    m_webView = page;
}

QCoro::Task<std::optional<bool>> BackendController::hasActiveWork()
{
    if (m_url.isEmpty())
        co_return false;
    co_return co_await askUpdateStatus(m_url);
}

QCoro::Task<bool> BackendController::prepareForUpdate(platform::CancelToken token)
{
    if (m_url.isEmpty())
        co_return !m_starting;
    QPointer<BackendController> self(this);
    const std::optional<bool> busy = co_await askUpdateStatus(m_url);
    if (!self || token.isCancelled() || busy != false)
        co_return false;
    QPointer<WorkspacePage> page = m_webView;
    if (!page)
        co_return true;
    const PageScriptResult result = co_await page->runAsyncFunction(pagePreparationScript);
    co_return pageAgreesToRelaunch(result);
}

QCoro::Task<std::optional<bool>> BackendController::askUpdateStatus(QUrl baseUrl)
{
    // The backend answers itself: a redirect is its answer, not followed. Nothing of this
    // object is used after the await. (Arguments named first: g++ 12 destroys some temporaries
    // of a co_await expression twice.)
    const QUrl url = updateStatusUrl(baseUrl);
    const platform::RedirectPolicy noRedirects = platform::RedirectPolicy::none();
    const platform::CancelToken never;
    const platform::HttpResponse response = co_await m_http.get(url, noRedirects, m_timing.statusTimeout, never,
                                                                updateStatusMaxBytes);
    co_return classifyUpdateStatus(response);
}

void BackendController::failPlainly(const QString &message)
{
    setError(message);
    setStarting(false);
}

void BackendController::failAfterLaunchPreparation(const QString &message)
{
    setError(message);
    stop();
    setStarting(false);
}

void BackendController::succeed(const QUrl &url)
{
    setUrl(url);
    setStarting(false);
    watchReadyBackend();
}

void BackendController::setUrl(const QUrl &url)
{
    if (m_url == url)
        return;
    m_url = url;
    emit urlChanged();
}

void BackendController::setError(const QString &error, ErrorKind kind)
{
    const bool lost = !error.isEmpty() && kind == ErrorKind::BackendLost;
    const bool taken = !error.isEmpty() && kind == ErrorKind::PortTaken;
    if (m_error == error && m_backendLost == lost && m_portTaken == taken)
        return;
    m_error = error;
    m_backendLost = lost;
    m_portTaken = taken;
    emit errorChanged();
}

void BackendController::setLogURL(const QUrl &logURL)
{
    if (m_logURL == logURL)
        return;
    m_logURL = logURL;
    emit logURLChanged();
}

void BackendController::setStarting(bool starting)
{
    if (m_starting == starting)
        return;
    m_starting = starting;
    emit startingChanged();
}

} // namespace velmora::backend
