#include "updates/UpdateEngine.h"

#include "platform/BuildInfo.h"
#include "platform/HttpClient.h"
#include "updates/Appcast.h"
#include "updates/SettingsKeys.h"
#include "updates/Texts.h"

#include <QApplication>
#include <QMessageBox>
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
{
    const QSettings settings;
    m_automaticallyChecks = settings.value(automaticChecksKey, true).toBool();
    m_automaticallyDownloads = settings.value(automaticDownloadsKey, false).toBool();

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
    // A long-lived owner may be dropped after the application object is gone; widgets must not
    // be deleted then, and the process is ending anyway.
    if (QCoreApplication::instance())
        delete m_notice.data();
}

bool UpdateEngine::canCheckForUpdates() const
{
    return m_started && !m_sessionInProgress;
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

void UpdateEngine::startUpdater()
{
    if (m_started)
        return;
    m_started = true;
    announceCanCheckForUpdates();
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
    showNotice();
}

QWidget *UpdateEngine::noticeWindow() const
{
    return m_notice.data();
}

void UpdateEngine::startCycle(UpdateCheckKind kind)
{
    if (!canCheckForUpdates()) {
        // The running cycle (if any) is left alone; this request alone ends, still later on the
        // event loop like every cycle end, so a caller waiting for it is never left hanging.
        QMetaObject::invokeMethod(
            this,
            [this, kind] {
                m_updaterDelegate.didFinishUpdateCycle(*this, kind,
                                                       engineError(UpdateEngineError::CheckRefused, checkRefusedText));
            },
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
        finishCycle(kind, engineError(UpdateEngineError::AppcastUnavailable, unavailableFeedText,
                                      response.errorString));
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

    const AppcastParseResult feedContent = parseAppcast(response.body, QLatin1String(appcastLinuxOs), m_allowedChannels);
    if (!feedContent.ok()) {
        finishCycle(kind, engineError(UpdateEngineError::AppcastParseError, unreadableFeedText, feedContent.error));
        co_return;
    }

    const std::optional<AppcastItem> found = selectUpdate(feedContent.items, m_runningVersion);
    if (!found) {
        finishCycle(kind, engineError(UpdateEngineError::NoUpdate, noUpdateText));
        co_return;
    }

    // A delegate may drop the engine from inside its callback: look again after each one.
    const UpdateItem item = found->updateItem();
    m_updaterDelegate.didFindValidUpdate(*this, item);
    if (!self)
        co_return;
    if (kind == UpdateCheckKind::UpdatesInBackground) {
        const bool engineShows = m_userDriverDelegate.shouldHandleShowingScheduledUpdate(item, false);
        if (!self)
            co_return;
        m_userDriverDelegate.willHandleShowingUpdate(engineShows, item);
        if (!self)
            co_return;
        if (engineShows)
            showNotice();
    }
    finishCycle(kind, std::nullopt);
}

void UpdateEngine::finishCycle(UpdateCheckKind kind, std::optional<UpdaterError> error)
{
    // The session ends before the delegate hears of it, so that it may start the next check
    // from inside the callback.
    setSessionInProgress(false);
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

void UpdateEngine::showNotice()
{
    // Without a widget application (a command-line tool, a test without a GUI) there is no
    // window to show.
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    if (!m_notice) {
        auto *box = new QMessageBox(QMessageBox::Information, installNoticeTitle, installUnavailableText,
                                    QMessageBox::Ok, QApplication::activeWindow());
        box->setObjectName(QStringLiteral("velmora.updateEngine.notice"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::NonModal);
        m_notice = box;
    }
    m_notice->show();
    m_notice->raise();
    m_notice->activateWindow();
}

std::unique_ptr<StandardUpdaterController> makeStandardUpdaterController(UpdaterDelegate &updaterDelegate,
                                                                         UserDriverDelegate &userDriverDelegate)
{
    return std::make_unique<UpdateEngine>(updaterDelegate, userDriverDelegate);
}

} // namespace velmora::updates
