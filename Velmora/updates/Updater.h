#pragma once

// The update engine as the update controller sees it: a standard controller that owns an
// updater, made with "do not start yet" and two delegates. Velmora's own engine and the
// scripted updater of the tests both sit behind these operations.

#include "platform/LiteralUrl.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace velmora::updates {

// The engine's own error domain; code 1001 in it means "no update found".
inline constexpr const char *updaterErrorDomain = "SUSparkleErrorDomain";
inline constexpr int noUpdateErrorCode = 1001;

struct UpdaterError
{
    QString domain;
    int code = 0;
    QString description;

    bool isNoUpdate() const { return domain == QLatin1String(updaterErrorDomain) && code == noUpdateErrorCode; }
};

// One entry of the update feed that the engine considers a valid update.
struct UpdateItem
{
    QString versionString;        // machine version, compared by the engine
    QString displayVersionString; // what the user sees
    // As the feed wrote it: the load checks its scheme and host letter for letter.
    std::optional<platform::LiteralUrl> releaseNotesURL;
    QUrl downloadURL;
    qint64 contentLength = 0; // the enclosure's length; 0 when the feed gave none
    QString edSignature;      // base64 Ed25519 signature over the whole archive; empty when none
};

enum class UpdateCheckKind { UpdatesInBackground, UpdateInformation, Updates };

// The continuation of a postponed relaunch: calling it lets the engine install and relaunch.
using RelaunchContinuation = std::function<void()>;

class Updater;

// Callbacks of the updater delegate and the user-driver delegate that the controller answers.
class UpdaterDelegate
{
public:
    virtual ~UpdaterDelegate() = default;
    virtual void didFindValidUpdate(Updater &updater, const UpdateItem &item) = 0;
    virtual void didFinishUpdateCycle(Updater &updater, UpdateCheckKind kind, const std::optional<UpdaterError> &error) = 0;
    // Answering true takes over the relaunch until the continuation is called.
    virtual bool shouldPostponeRelaunch(Updater &updater, const UpdateItem &item, RelaunchContinuation continuation) = 0;
    // The user postponed the relaunch that a continuation was waiting for: no relaunch follows,
    // so whatever the delegate started for it stops, and that continuation will do nothing.
    virtual void relaunchWithdrawn(Updater &) {}
};

class UserDriverDelegate
{
public:
    virtual ~UserDriverDelegate() = default;
    // Whether the engine may show its own window for an update found by a scheduled check.
    virtual bool shouldHandleShowingScheduledUpdate(const UpdateItem &item, bool immediateFocus) = 0;
    virtual void willHandleShowingUpdate(bool handleShowingUpdate, const UpdateItem &item) = 0;
};

// The updater. Its two observable properties announce every change through their signals,
// always later on the event loop, never inside the call that caused the change.
class Updater : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)
    Q_PROPERTY(bool automaticallyChecksForUpdates READ automaticallyChecksForUpdates WRITE setAutomaticallyChecksForUpdates
                   NOTIFY automaticallyChecksForUpdatesChanged)
public:
    using QObject::QObject;

    virtual bool canCheckForUpdates() const = 0;
    // Stored by the engine in the user's settings and read back unchanged across launches.
    virtual bool automaticallyChecksForUpdates() const = 0;
    virtual void setAutomaticallyChecksForUpdates(bool on) = 0;
    virtual bool automaticallyDownloadsUpdates() const = 0;
    virtual void setAutomaticallyDownloadsUpdates(bool on) = 0;
    // True while the engine is busy with an update cycle.
    virtual bool sessionInProgress() const = 0;

    // A check without the user; ends with didFinishUpdateCycle.
    virtual void checkForUpdatesInBackground() = 0;
    // A check that shows no engine window; a found update goes to didFindValidUpdate, and the
    // cycle always ends with didFinishUpdateCycle.
    virtual void checkForUpdateInformation() = 0;

signals:
    void canCheckForUpdatesChanged(bool value);
    void automaticallyChecksForUpdatesChanged(bool value);
};

// The standard controller: owns the updater and the engine's own user interface.
class StandardUpdaterController
{
public:
    virtual ~StandardUpdaterController() = default;
    // The same object every time.
    virtual Updater &updater() = 0;
    virtual void startUpdater() = 0;
    // The engine's own install path: it presents the update, downloads and installs it on the
    // user's word.
    virtual void checkForUpdates() = 0;
};

// Makes a standard controller that has not started its updater yet and calls back into the
// two delegates (which must outlive it).
using StandardUpdaterControllerFactory = std::function<std::unique_ptr<StandardUpdaterController>(
    UpdaterDelegate &updaterDelegate, UserDriverDelegate &userDriverDelegate)>;

} // namespace velmora::updates
