#pragma once

// Installing an update into the running bundle, and looking after an installation at the next
// starts. Everything happens in a work folder beside the bundle, on its file system:
//
//   <parent>/.<bundle name>.update/
//       journal        the step reached (InstallJournal.h)
//       archive        the downloaded release archive
//       swap/          the new bundle, unpacked; after the exchange the old one (the backup)
//
// prepare() downloads the archive (HTTPS only, exactly the announced length), verifies its
// signature, unpacks it with every entry checked and checks the result (the executable, and
// the announced version in its Info.json, newer than the running one). swap() exchanges the
// bundle folder with "swap" in one step; relaunch() starts the new version under the watch of
// this version's own program (FirstStartWatch.h), and rolls back at once if it cannot. At each start recoverAtLaunch() finishes or undoes what a stopped run
// left, counts the new version's unconfirmed starts and rolls it back after the second;
// confirm() is the new version saying that it works.

#include "platform/Async.h"
#include "platform/InstallFiles.h"
#include "updates/ArchiveEntryChecker.h"
#include "updates/InstallJournal.h"
#include "updates/InstallRefusal.h"
#include "updates/Updater.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <QCoro/QCoroTask>

#include <chrono>
#include <functional>
#include <optional>

namespace velmora::platform {
class FolderLock;
class HttpClient;
class PackageOwnership;
struct RelaunchResult;
} // namespace velmora::platform

namespace velmora::updates {

// The places of one bundle's installation.
struct InstallPaths
{
    QString bundle;
    QString work;
    QString journal;
    QString archive;
    QString swap;

    static InstallPaths forBundle(const QString &bundle);
};

// Moments of an installation that a test can stop a run at (by killing it there). The
// journal has been written, or the effect done, when the moment is reached.
enum class InstallPoint {
    Downloading,   // the first piece of the archive is on disk
    Downloaded,    // verified; "downloaded" written
    Unpacking,     // "unpacking" written, nothing unpacked yet
    Unpacked,      // the new bundle is in "swap", its files not yet synced
    Ready,         // "ready" written
    Swapping,      // "swapping" written, nothing exchanged yet
    Exchanged,     // the bundle's path holds the new version; the journal still says "swapping"
    Swapped,       // "swapped" written
    Confirming,    // "confirmed" written, the backup still there
    RollingBack,   // "rollingBack" written, nothing exchanged yet
    ExchangedBack, // the old version is back; the journal still says "rollingBack"
};

enum class InstallError {
    Refused, // see InstallFailure::refusal
    Busy,    // another Velmora holds the work folder
    InsecureUrl,
    RedirectRefused,
    NoLength,
    TooLarge,
    DiskFull,
    DownloadFailed,
    HttpStatus,
    LengthMismatch,
    MissingSignature,
    BadSignature,
    Damaged,
    UnsafeArchive,
    NotABundle,
    WrongVersion,
    NotNewer,
    FileError,
    SwapFailed,
    RelaunchFailed,
    CannotStart, // the unpacked version failed its start check on this system
    Cancelled,
};

// The start check: before an update is exchanged in, its bin/velmora runs once with this
// argument, offscreen, and must print the answer followed by its version and end with status
// 0 within the installer's bound. It proves that the program, its libraries and the platform
// plugin load here and that it reads its own bundle; it claims nothing and touches no settings.
inline constexpr const char *startCheckArgument = "--check-start";
inline constexpr const char *startCheckAnswer = "velmora start check: ok ";
// How long the start check may take: a cold load of the web engine's libraries on a busy
// machine stays well within it.
inline constexpr std::chrono::milliseconds startCheckTimeout{30000};

struct InstallFailure
{
    InstallError error = InstallError::FileError;
    QString detail; // English, for diagnostics: what exactly failed
    InstallRefusal refusal = InstallRefusal::None;
    int httpStatus = 0;
    EntryProblem problem = EntryProblem::None;
    QString bundleVersion; // the archive's version (WrongVersion, NotNewer)
    QString feedVersion;
    QString runningVersion;
    QString bundlePath;

    // The Korean sentence for the user.
    QString message() const;
};

// What an installer works with; an empty or null field takes the running application's value.
struct InstallerConfiguration
{
    QString bundle;                                 // empty: the running application's bundle folder
    QString runningVersion;                         // empty: the build's version
    std::optional<QStringList> publicKeys;          // nullopt: the build's keys
    platform::HttpClient *http = nullptr;           // nullptr: the shared client
    platform::PackageOwnership *packages = nullptr; // nullptr: the system's package database
    // Starts the new version; empty: this process's own program, detached, as the watching
    // process of the new version's first start (startWatchedRelaunch), which starts program
    // with this process's arguments and VELMORA_RELAUNCHED_FROM.
    std::function<platform::RelaunchResult(const QString &program)> relaunch;
    std::chrono::milliseconds stallTimeout{60000};
    std::chrono::milliseconds startCheckTimeout = updates::startCheckTimeout;
    qint64 maxArchiveBytes = qint64(1) << 30;
    ArchiveLimits unpackLimits;
    // Told each moment as it is reached (for tests that stop a run there).
    std::function<void(InstallPoint)> reached;
};

class UpdateInstaller : public QObject
{
    Q_OBJECT
public:
    using Relaunch = std::function<platform::RelaunchResult(const QString &program)>;

    explicit UpdateInstaller(InstallerConfiguration configuration = {}, QObject *parent = nullptr);
    ~UpdateInstaller() override;

    QString bundle() const { return m_paths.bundle; }
    QString runningVersion() const { return m_runningVersion; }
    const InstallPaths &paths() const { return m_paths; }

    // Whether this bundle may be replaced at all, looked at afresh.
    InstallRefusal refusal() const;

    // Downloads, verifies, unpacks and checks item. nullopt when the new bundle is ready to be
    // swapped in; on a failure (or cancellation) the work folder is gone again.
    QCoro::Task<std::optional<InstallFailure>> prepare(UpdateItem item, platform::CancelToken token = {});
    // True between a successful prepare() and swap() or discard().
    bool isReady() const { return m_ready; }
    // The item being prepared or ready.
    const UpdateItem &item() const { return m_item; }

    // Exchanges the bundle with the prepared one. On failure nothing is exchanged.
    std::optional<InstallFailure> swap();
    // After swap(): starts the new version. If it cannot start, the old bundle is put back at
    // once and the failure says why.
    std::optional<InstallFailure> relaunch();
    // Drops a prepared update (nothing was exchanged).
    void discard();

    // What a start found and did.
    struct LaunchRecovery
    {
        RecoveryAction action = RecoveryAction::Nothing;
        InstallJournal journal;
        // The Korean sentence to show (after a rollback); empty when there is nothing to say.
        QString message;
        // The old version is back at the bundle's path: this process runs the new one and must
        // make way for it (replace itself with the bundle's executable).
        bool restartBundle = false;
        QString error; // what failed, in English; empty when everything went as planned
    };
    // Called early at every start, before the backend is started. With rollBackNow, a new
    // version that has not confirmed itself is rolled back for that reason whatever its count.
    static LaunchRecovery recoverAtLaunch(const QString &bundle, const std::function<void(InstallPoint)> &reached = {},
                                          std::optional<RollbackReason> rollBackNow = std::nullopt);
    // The new version is up (its window and its backend): its installation is complete. True
    // when an installation was confirmed by this call.
    static bool confirm(const QString &bundle, const std::function<void(InstallPoint)> &reached = {});

signals:
    // Bytes of the archive received so far, of total.
    void downloadProgress(qint64 received, qint64 total);

private:
    InstallFacts facts() const;
    QCoro::Task<> learnOwnership();
    bool writeJournal(JournalStep step, QString *error);
    void reach(InstallPoint point) const;
    void dropWork();

    InstallPaths m_paths;
    QString m_runningVersion;
    QList<QByteArray> m_keys;
    QString m_keyError;
    platform::HttpClient &m_http;
    platform::PackageOwnership &m_packages;
    Relaunch m_relaunch;
    std::chrono::milliseconds m_stallTimeout;
    std::chrono::milliseconds m_startCheckTimeout;
    qint64 m_maxArchiveBytes;
    ArchiveLimits m_unpackLimits;
    std::function<void(InstallPoint)> m_reached;

    std::unique_ptr<platform::FolderLock> m_lock;
    InstallJournal m_journal;
    UpdateItem m_item;
    bool m_preparing = false;
    bool m_ready = false;
    // Whether the package manager installed the bundle, once a worker thread has found out.
    std::optional<bool> m_ownedByPackage;
};

} // namespace velmora::updates
