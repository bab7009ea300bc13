#pragma once

// Velmora's own update engine behind the Updater operations: it reads the update feed over
// HTTPS, picks the newest entry for this platform and reports it to the delegates. Installing
// an update is not part of this build yet; the engine's install path says so in a small window.

#include "platform/Async.h"
#include "updates/Updater.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <chrono>
#include <memory>
#include <optional>

class QMessageBox;
class QWidget;

namespace velmora::platform {
class HttpClient;
}

namespace velmora::updates {

// Codes in updaterErrorDomain with which the engine ends an update cycle.
enum class UpdateEngineError : int {
    InsecureFeedUrl = 3,       // the feed address is not https; nothing was requested
    InvalidFeedUrl = 4,        // the feed address is empty or has no host
    CheckRefused = 5,          // a check was asked for before startUpdater() or during another cycle
    AppcastParseError = 1000,  // the feed arrived but is not a readable feed
    NoUpdate = noUpdateErrorCode, // 1001: no entry for this platform is newer than the running version
    AppcastUnavailable = 1002, // no response, time-out, a status other than 200, or a body over the limit
};

// Whole-request limit of the feed download, and the largest feed accepted.
inline constexpr std::chrono::milliseconds feedRequestTimeout{30000};
inline constexpr qint64 maxFeedBytes = 4 * 1024 * 1024;

// What the engine works with; an empty or null field takes the build's value.
struct UpdateEngineConfiguration
{
    QString feedUrl;          // default: platform::buildSettings().updateFeedUrl
    QString runningVersion;   // default: platform::buildSettings().version
    platform::HttpClient *http = nullptr; // default: platform::HttpClient::shared()
    std::chrono::milliseconds feedTimeout = feedRequestTimeout;
    QStringList allowedChannels = {};     // named feed channels offered besides the default one
};

class UpdateEngine final : public Updater, public StandardUpdaterController
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
    // Installing is not available in this build: shows the engine's notice window saying so.
    void checkForUpdates() override;

    // True once startUpdater() has run.
    bool isStarted() const { return m_started; }
    // The feed address and running version in use.
    QUrl feedUrl() const { return m_feedUrl; }
    QString runningVersion() const { return m_runningVersion; }
    // The engine's notice window while it exists (nullptr otherwise).
    QWidget *noticeWindow() const;

private:
    void startCycle(UpdateCheckKind kind);
    QCoro::Task<> runCycle(UpdateCheckKind kind, platform::CancelToken token);
    void finishCycle(UpdateCheckKind kind, std::optional<UpdaterError> error);
    void setSessionInProgress(bool on);
    void announceCanCheckForUpdates();
    void showNotice();

    UpdaterDelegate &m_updaterDelegate;
    UserDriverDelegate &m_userDriverDelegate;
    QUrl m_feedUrl;
    QString m_runningVersion;
    platform::HttpClient &m_http;
    std::chrono::milliseconds m_feedTimeout;
    QStringList m_allowedChannels;

    bool m_started = false;
    bool m_sessionInProgress = false;
    bool m_announcedCanCheck = false;
    bool m_automaticallyChecks = true;
    bool m_automaticallyDownloads = false;
    platform::TaskHandle m_cycleTask;
    QPointer<QMessageBox> m_notice;
};

// The real engine, as the update controller makes it: a StandardUpdaterControllerFactory.
std::unique_ptr<StandardUpdaterController> makeStandardUpdaterController(UpdaterDelegate &updaterDelegate,
                                                                         UserDriverDelegate &userDriverDelegate);

} // namespace velmora::updates
