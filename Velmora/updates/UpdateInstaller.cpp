#include "updates/UpdateInstaller.h"

#include "platform/BuildInfo.h"
#include "platform/Bundle.h"
#include "platform/FileSystem.h"
#include "platform/FolderLock.h"
#include "platform/HttpClient.h"
#include "platform/MappedFile.h"
#include "platform/PackageOwnership.h"
#include "platform/Relauncher.h"
#include "platform/SystemError.h"
#include "updates/BundleInfo.h"
#include "updates/BundleUnpacker.h"
#include "updates/FirstStartWatch.h"
#include "updates/Texts.h"
#include "updates/UpdateSignature.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QScopeGuard>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace velmora::updates {
namespace {

// Runs program's start check (on a worker thread: it blocks); empty when it passed, else what
// went wrong, in English for the diagnostics.
QString startCheckProblem(const QString &program, const QString &version, std::chrono::milliseconds bound)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // No window, no display needed; and not a relaunch of this process.
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.remove(QString::fromLatin1(platform::Relauncher::relaunchedFromVariable));
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, {QLatin1String(startCheckArgument)});
    if (!process.waitForStarted(int(bound.count())))
        return QStringLiteral("it could not be started: %1").arg(process.errorString());
    if (!process.waitForFinished(int(bound.count()))) {
        process.kill();
        process.waitForFinished(int(bound.count()));
        return QStringLiteral("it did not finish within %1 ms").arg(bound.count());
    }
    const QString errors = QString::fromLocal8Bit(process.readAllStandardError()).right(500).trimmed();
    if (process.exitStatus() != QProcess::NormalExit)
        return QStringLiteral("it crashed: %1").arg(errors);
    if (process.exitCode() != 0)
        return QStringLiteral("it ended with status %1: %2").arg(process.exitCode()).arg(errors);
    const QByteArray expected = QByteArray(startCheckAnswer) + version.toUtf8();
    const QList<QByteArray> lines = process.readAllStandardOutput().split('\n');
    if (!lines.contains(expected))
        return QStringLiteral("it did not answer \"%1\"").arg(QString::fromUtf8(expected));
    return {};
}

platform::RelaunchResult relaunchWatched(const QString &program)
{
    // This process's own program, the old version's, wherever the exchange has moved it (the
    // kernel's name for it follows the rename): it watches the new version's first start.
    const QString self = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    const QString bundle = QFileInfo(QFileInfo(program).absolutePath()).absolutePath();
    return startWatchedRelaunch(self, bundle, QCoreApplication::arguments().mid(1));
}

bool isExecutableRegularFile(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IXUSR);
}

bool readJournalFile(const InstallPaths &paths, RecoveryFacts &facts)
{
    const platform::SmallFile file = platform::readSmallFile(paths.journal, maxJournalBytes);
    if (!file.exists) {
        facts.journalState = RecoveryFacts::Journal::Absent;
        return false;
    }
    const auto journal = file.error.isEmpty() && !file.tooLarge ? parseJournal(file.content) : std::nullopt;
    if (!journal) {
        facts.journalState = RecoveryFacts::Journal::Unreadable;
        return false;
    }
    facts.journalState = RecoveryFacts::Journal::Read;
    facts.journal = *journal;
    return true;
}

void call(const std::function<void(InstallPoint)> &reached, InstallPoint point)
{
    if (reached)
        reached(point);
}

QString rolledBackMessage(const InstallJournal &journal)
{
    const QString &text = journal.reason == RollbackReason::RelaunchFailed     ? rolledBackRelaunchFailedText
                          : journal.reason == RollbackReason::FirstStartFailed ? rolledBackFirstStartText
                                                                               : rolledBackNotConfirmedText;
    return text.arg(journal.toVersion, journal.fromVersion);
}

} // namespace

InstallPaths InstallPaths::forBundle(const QString &bundle)
{
    InstallPaths paths;
    paths.bundle = QDir::cleanPath(bundle);
    const QFileInfo info(paths.bundle);
    paths.work = info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".update");
    paths.journal = paths.work + QStringLiteral("/journal");
    paths.archive = paths.work + QStringLiteral("/archive");
    paths.swap = paths.work + QStringLiteral("/swap");
    return paths;
}

QString InstallFailure::message() const
{
    switch (error) {
    case InstallError::Refused:
        switch (refusal) {
        case InstallRefusal::PackageManaged:
            return packageManagedText;
        case InstallRefusal::NotWritable:
            return notWritableText.arg(bundlePath);
        case InstallRefusal::SharedParent:
            return sharedParentText.arg(QFileInfo(bundlePath).absolutePath());
        case InstallRefusal::SeparateFileSystem:
            return separateFileSystemText.arg(bundlePath);
        case InstallRefusal::NoPublicKeys:
            return noPublicKeysText;
        case InstallRefusal::NotABundle:
        case InstallRefusal::None:
            return notABundleText;
        }
        return notABundleText;
    case InstallError::Busy:
        return busyText;
    case InstallError::InsecureUrl:
        return insecureDownloadText;
    case InstallError::RedirectRefused:
        return redirectRefusedText;
    case InstallError::NoLength:
        return noLengthText;
    case InstallError::TooLarge:
        return tooLargeText;
    case InstallError::DiskFull:
        return diskFullText;
    case InstallError::DownloadFailed:
        return downloadFailedText;
    case InstallError::HttpStatus:
        return downloadStatusText.arg(httpStatus);
    case InstallError::LengthMismatch:
        return lengthMismatchText;
    case InstallError::MissingSignature:
        return missingSignatureText;
    case InstallError::BadSignature:
        return badSignatureText;
    case InstallError::Damaged:
        return damagedArchiveText;
    case InstallError::UnsafeArchive:
        return unsafeArchiveText;
    case InstallError::NotABundle:
        return notABundleArchiveText;
    case InstallError::WrongVersion:
        return wrongVersionText.arg(bundleVersion, feedVersion);
    case InstallError::NotNewer:
        return notNewerText.arg(bundleVersion, runningVersion);
    case InstallError::FileError:
        return fileErrorText.arg(detail);
    case InstallError::SwapFailed:
        return swapFailedText.arg(detail);
    case InstallError::RelaunchFailed:
        return relaunchFailedText.arg(detail);
    case InstallError::CannotStart:
        return cannotStartText.arg(bundleVersion);
    case InstallError::Cancelled:
        return QString();
    }
    return fileErrorText.arg(detail);
}

UpdateInstaller::UpdateInstaller(InstallerConfiguration configuration, QObject *parent)
    : QObject(parent)
    , m_paths(InstallPaths::forBundle(!configuration.bundle.isEmpty()
                                          ? configuration.bundle
                                          : platform::Bundle::main().bundleDirectory().value_or(QString())))
    , m_runningVersion(configuration.runningVersion.isEmpty() ? platform::buildSettings().version
                                                              : configuration.runningVersion)
    , m_http(configuration.http ? *configuration.http : platform::HttpClient::shared())
    , m_packages(configuration.packages ? *configuration.packages : platform::PackageOwnership::system())
    , m_relaunch(configuration.relaunch ? std::move(configuration.relaunch) : Relaunch(&relaunchWatched))
    , m_stallTimeout(configuration.stallTimeout)
    , m_startCheckTimeout(configuration.startCheckTimeout)
    , m_maxArchiveBytes(configuration.maxArchiveBytes)
    , m_unpackLimits(configuration.unpackLimits)
    , m_reached(std::move(configuration.reached))
{
    if (configuration.bundle.isEmpty() && !platform::Bundle::main().bundleDirectory())
        m_paths = InstallPaths();
    const PublicKeys keys = decodePublicKeys(configuration.publicKeys.value_or(platform::buildSettings().updatePublicKeys));
    m_keys = keys.keys;
    m_keyError = keys.error;
    if (!m_paths.bundle.isEmpty())
        platform::detach(learnOwnership());
}

QCoro::Task<> UpdateInstaller::learnOwnership()
{
    // The package database is read off the main thread, on values only: the worker may outlive
    // this installer and the ownership object it was given.
    QPointer<UpdateInstaller> self(this);
    const QString infoFolder = m_packages.infoFolder();
    const QString executable = m_paths.bundle + QStringLiteral("/bin/velmora");
    auto owned = std::make_shared<bool>(false);
    // Named first: g++ 12 destroys some temporaries of a co_await expression twice.
    std::function<void()> lookUp = [infoFolder, executable, owned] {
        *owned = platform::PackageOwnership::listedByPackage(infoFolder, executable);
    };
    co_await platform::runOnWorkerThread(std::move(lookUp));
    if (self)
        self->m_ownedByPackage = *owned;
}

UpdateInstaller::~UpdateInstaller() = default;

InstallFacts UpdateInstaller::facts() const
{
    InstallFacts facts;
    const QString &bundle = m_paths.bundle;
    if (bundle.isEmpty())
        return facts;
    const QString executable = bundle + QStringLiteral("/bin/velmora");
    const QString parent = QFileInfo(bundle).absolutePath();
    facts.isBundle = QFileInfo(bundle + QStringLiteral("/Info.json")).isFile() && platform::isExecutableFile(executable);
    // Asked before the worker has answered (the first instants of a start), the one small list
    // is read here.
    facts.ownedByPackage = facts.isBundle && m_ownedByPackage.value_or(m_packages.ownsPath(executable));
    facts.bundleWritable = platform::isWritableFolder(bundle);
    facts.parentWritable = platform::isWritableFolder(parent);
    facts.parentWritableByOthers = platform::writableByOthers(parent);
    facts.sameFileSystemAsParent = platform::onSameFileSystem(bundle, parent);
    facts.hasPublicKeys = !m_keys.isEmpty();
    return facts;
}

InstallRefusal UpdateInstaller::refusal() const
{
    return decideInstallRefusal(facts());
}

void UpdateInstaller::reach(InstallPoint point) const
{
    call(m_reached, point);
}

bool UpdateInstaller::writeJournal(JournalStep step, QString *error)
{
    m_journal.step = step;
    return platform::writeFileAtomically(m_paths.journal, serializeJournal(m_journal), error);
}

void UpdateInstaller::dropWork()
{
    m_ready = false;
    if (m_lock && m_lock->isHeld())
        platform::removeTree(m_paths.work);
    m_lock.reset();
}

void UpdateInstaller::discard()
{
    if (m_preparing || !m_ready)
        return;
    dropWork();
}

QCoro::Task<std::optional<InstallFailure>> UpdateInstaller::prepare(UpdateItem item, platform::CancelToken token)
{
    QPointer<UpdateInstaller> self(this);
    InstallFailure base;
    base.feedVersion = item.versionString;
    base.runningVersion = m_runningVersion;
    base.bundlePath = m_paths.bundle;
    auto failure = [&base](InstallError error, const QString &detail = {}) {
        InstallFailure f = base;
        f.error = error;
        f.detail = detail;
        return std::optional<InstallFailure>(f);
    };

    if (m_preparing || m_ready)
        co_return failure(InstallError::Busy, QStringLiteral("an update is being prepared already"));
    const InstallRefusal refusal = this->refusal();
    if (refusal != InstallRefusal::None) {
        base.refusal = refusal;
        co_return failure(InstallError::Refused);
    }
    const QUrl url = item.downloadURL;
    if (!url.isValid() || url.scheme() != QLatin1String("https") || url.host().isEmpty())
        co_return failure(InstallError::InsecureUrl, url.toString());
    if (item.contentLength <= 0)
        co_return failure(InstallError::NoLength);
    if (item.contentLength > m_maxArchiveBytes)
        co_return failure(InstallError::TooLarge, QString::number(item.contentLength));
    // Known before a byte is downloaded: an item without a usable signature is never installed.
    if (item.edSignature.isEmpty())
        co_return failure(InstallError::MissingSignature);
    if (!decodeBase64Exactly(item.edSignature, signatureBytes))
        co_return failure(InstallError::BadSignature, QStringLiteral("not base64 of 64 bytes"));
    const QString parent = QFileInfo(m_paths.bundle).absolutePath();
    if (const auto free = platform::freeBytes(parent); free && *free < item.contentLength)
        co_return failure(InstallError::DiskFull);

    // The work folder: one left by an earlier run that nobody holds goes first.
    if (QFileInfo::exists(m_paths.work)) {
        platform::FolderLock earlier = platform::FolderLock::tryLock(m_paths.work);
        if (earlier.heldByAnother())
            co_return failure(InstallError::Busy);
        QString error;
        if (!platform::removeTree(m_paths.work, &error))
            co_return failure(InstallError::FileError, error);
    }
    if (!QDir().mkdir(m_paths.work, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        co_return failure(InstallError::FileError,
                          QStringLiteral("%1: %2").arg(m_paths.work, platform::systemErrorText(errno)));
    // Made here just now, but checked all the same before anything goes into it: the user's
    // own, closed to everyone else, and no link.
    if (!platform::isPrivateFolder(m_paths.work))
        co_return failure(InstallError::FileError,
                          QStringLiteral("%1: not a private folder of this user").arg(m_paths.work));
    m_lock = std::make_unique<platform::FolderLock>(platform::FolderLock::tryLock(m_paths.work));
    if (!m_lock->isHeld()) {
        m_lock.reset();
        co_return failure(InstallError::Busy);
    }

    m_preparing = true;
    m_item = item;
    bool succeeded = false;
    // Whatever ends the preparation early leaves no work folder behind (unless the installer
    // itself is gone; then the next start clears it).
    auto cleanup = qScopeGuard([&] {
        if (!self)
            return;
        m_preparing = false;
        if (!succeeded)
            dropWork();
    });

    m_journal = InstallJournal();
    m_journal.bundle = m_paths.bundle;
    m_journal.fromVersion = m_runningVersion;
    m_journal.toVersion = item.versionString;
    QString error;
    if (!writeJournal(JournalStep::Downloading, &error))
        co_return failure(InstallError::FileError, error);

    // The download, straight to disk.
    auto archive = std::make_shared<QFile>(m_paths.archive);
    if (!archive->open(QIODevice::WriteOnly | QIODevice::NewOnly))
        co_return failure(InstallError::FileError, archive->errorString());
    bool first = true;
    const qint64 total = item.contentLength;
    platform::DownloadOptions options;
    options.maxBytes = total;
    options.stallTimeout = m_stallTimeout;
    options.progress = [self, total, &first](qint64 received, qint64) {
        if (!self)
            return;
        emit self->downloadProgress(received, total);
        if (first && received > 0) {
            first = false;
            self->reach(InstallPoint::Downloading);
        }
    };
    const auto sink = [archive](QByteArrayView piece) { return archive->write(piece.data(), piece.size()) == piece.size(); };
    // Arguments named first: g++ 12 destroys some temporaries of a co_await expression twice.
    // The archive's content is checked by its signature, so mirrors on other hosts may serve it.
    const platform::RedirectPolicy anywhere = platform::RedirectPolicy::httpsAnyHost();
    const std::function<bool(QByteArrayView)> write = sink;
    const platform::DownloadResult download = co_await m_http.download(url, anywhere, options, write, token);
    if (!self)
        co_return failure(InstallError::Cancelled);
    const bool flushed = archive->flush() && ::fsync(archive->handle()) == 0;
    const QString writeError = archive->errorString();
    archive->close();

    if (token.isCancelled())
        co_return failure(InstallError::Cancelled);
    switch (download.failure) {
    case platform::HttpFailure::None:
        break;
    case platform::HttpFailure::Cancelled:
        co_return failure(InstallError::Cancelled);
    case platform::HttpFailure::RedirectRefused:
    case platform::HttpFailure::TooManyRedirects:
        co_return failure(InstallError::RedirectRefused, download.errorString);
    case platform::HttpFailure::Status:
        base.httpStatus = download.status;
        co_return failure(InstallError::HttpStatus, QStringLiteral("HTTP %1").arg(download.status));
    case platform::HttpFailure::TimedOut:
    case platform::HttpFailure::Stalled:
    case platform::HttpFailure::Transport:
        co_return failure(InstallError::DownloadFailed, download.errorString);
    }
    if (download.sinkFailed || !flushed)
        co_return failure(InstallError::FileError, writeError);
    if (download.tooLong || download.bytes != total)
        co_return failure(InstallError::LengthMismatch,
                          QStringLiteral("%1 bytes announced, %2%3 received")
                              .arg(total)
                              .arg(download.bytes)
                              .arg(download.tooLong ? QStringLiteral(" and more") : QString()));

    // The signature, over exactly the bytes that will be unpacked.
    auto mapped = std::make_shared<platform::MappedFile>(platform::MappedFile::open(m_paths.archive));
    if (!mapped->isOpen())
        co_return failure(InstallError::FileError, mapped->error());
    if (mapped->size() != total)
        co_return failure(InstallError::LengthMismatch);
    auto check = std::make_shared<SignatureCheck>(SignatureCheck::Invalid);
    std::function<void()> verify = [mapped, check, signature = item.edSignature, keys = m_keys] {
        *check = verifySignature(mapped->data(), signature, keys);
    };
    co_await platform::runOnWorkerThread(std::move(verify));
    if (!self)
        co_return failure(InstallError::Cancelled);
    if (token.isCancelled())
        co_return failure(InstallError::Cancelled);
    switch (*check) {
    case SignatureCheck::Valid:
        break;
    case SignatureCheck::Missing:
        co_return failure(InstallError::MissingSignature);
    case SignatureCheck::NoKeys:
        base.refusal = InstallRefusal::NoPublicKeys;
        co_return failure(InstallError::Refused);
    case SignatureCheck::Malformed:
    case SignatureCheck::Invalid:
        co_return failure(InstallError::BadSignature);
    }
    if (!writeJournal(JournalStep::Downloaded, &error))
        co_return failure(InstallError::FileError, error);
    reach(InstallPoint::Downloaded);

    // Unpacking, entry by entry checked.
    if (!writeJournal(JournalStep::Unpacking, &error))
        co_return failure(InstallError::FileError, error);
    reach(InstallPoint::Unpacking);
    auto outcome = std::make_shared<UnpackOutcome>();
    const platform::WorkerStop stop(token);
    std::function<void()> unpack = [mapped, outcome, stop, destination = m_paths.swap, limits = m_unpackLimits] {
        *outcome = unpackBundle(mapped->data(), destination, limits, stop);
    };
    co_await platform::runOnWorkerThread(std::move(unpack));
    if (!self || token.isCancelled())
        co_return failure(InstallError::Cancelled);
    switch (outcome->result) {
    case UnpackOutcome::Result::Unpacked:
        break;
    case UnpackOutcome::Result::Damaged:
        co_return failure(InstallError::Damaged, outcome->detail);
    case UnpackOutcome::Result::Refused:
        base.problem = outcome->problem;
        co_return failure(InstallError::UnsafeArchive, outcome->detail);
    case UnpackOutcome::Result::WriteFailed:
        co_return failure(InstallError::FileError, outcome->detail);
    case UnpackOutcome::Result::Stopped:
        co_return failure(InstallError::Cancelled);
    }
    reach(InstallPoint::Unpacked);

    // What was unpacked must be a bundle of the announced version.
    if (!isExecutableRegularFile(m_paths.swap + QStringLiteral("/bin/velmora")))
        co_return failure(InstallError::NotABundle, QStringLiteral("no executable bin/velmora"));
    const platform::SmallFile infoFile = platform::readSmallFile(m_paths.swap + QStringLiteral("/Info.json"),
                                                                 maxBundleInfoBytes);
    if (!infoFile.exists || !infoFile.error.isEmpty() || infoFile.tooLarge)
        co_return failure(InstallError::NotABundle, QStringLiteral("no readable Info.json"));
    const BundleInfo info = parseBundleInfo(infoFile.content);
    if (!info.ok())
        co_return failure(InstallError::NotABundle, info.error);
    base.bundleVersion = info.version;
    switch (checkBundleVersion(info.version, item.versionString, m_runningVersion)) {
    case BundleVersionCheck::Accepted:
        break;
    case BundleVersionCheck::NotTheFeedsVersion:
        co_return failure(InstallError::WrongVersion);
    case BundleVersionCheck::NotNewer:
        co_return failure(InstallError::NotNewer);
    }

    // Before anything is exchanged: the new version must be able to start on this system.
    auto startProblem = std::make_shared<QString>();
    std::function<void()> checkStart = [startProblem, program = m_paths.swap + QStringLiteral("/bin/velmora"),
                                        version = info.version, bound = m_startCheckTimeout] {
        *startProblem = startCheckProblem(program, version, bound);
    };
    co_await platform::runOnWorkerThread(std::move(checkStart));
    if (!self || token.isCancelled())
        co_return failure(InstallError::Cancelled);
    if (!startProblem->isEmpty())
        co_return failure(InstallError::CannotStart, *startProblem);

    // On disk before the journal says so.
    if (!platform::syncFileSystem(m_paths.work, &error))
        co_return failure(InstallError::FileError, error);
    const auto oldBundle = platform::identityOf(m_paths.bundle);
    const auto newBundle = platform::identityOf(m_paths.swap);
    if (!oldBundle || !newBundle)
        co_return failure(InstallError::FileError, QStringLiteral("the bundle folders cannot be told apart"));
    m_journal.oldBundle = *oldBundle;
    m_journal.newBundle = *newBundle;
    if (!writeJournal(JournalStep::Ready, &error))
        co_return failure(InstallError::FileError, error);
    mapped.reset();
    QFile::remove(m_paths.archive);
    reach(InstallPoint::Ready);

    succeeded = true;
    m_ready = true;
    co_return std::nullopt;
}

std::optional<InstallFailure> UpdateInstaller::swap()
{
    InstallFailure failure;
    failure.feedVersion = m_item.versionString;
    failure.runningVersion = m_runningVersion;
    failure.bundlePath = m_paths.bundle;
    failure.error = InstallError::SwapFailed;
    if (!m_ready) {
        failure.detail = QStringLiteral("no update is ready");
        return failure;
    }
    // The bundle must still be the one the update was prepared for.
    if (platform::identityOf(m_paths.bundle) != std::optional(m_journal.oldBundle)
        || platform::identityOf(m_paths.swap) != std::optional(m_journal.newBundle)) {
        failure.detail = QStringLiteral("the bundle was changed while the update waited");
        dropWork();
        return failure;
    }
    QString error;
    if (!writeJournal(JournalStep::Swapping, &error)) {
        failure.detail = error;
        dropWork();
        return failure;
    }
    reach(InstallPoint::Swapping);
    if (!platform::exchangePaths(m_paths.bundle, m_paths.swap, &error)) {
        failure.detail = error;
        dropWork();
        return failure;
    }
    reach(InstallPoint::Exchanged);
    // Should this write fail, the journal still says "swapping", which the next start reads
    // by the folder at the bundle's path: the new version.
    m_journal.starts = 0;
    writeJournal(JournalStep::Swapped, &error);
    reach(InstallPoint::Swapped);
    m_ready = false;
    return std::nullopt;
}

std::optional<InstallFailure> UpdateInstaller::relaunch()
{
    InstallFailure failure;
    failure.feedVersion = m_item.versionString;
    failure.runningVersion = m_runningVersion;
    failure.bundlePath = m_paths.bundle;
    failure.error = InstallError::RelaunchFailed;
    if (m_journal.step != JournalStep::Swapped && m_journal.step != JournalStep::Swapping) {
        failure.detail = QStringLiteral("no update was swapped in");
        return failure;
    }
    // The new version counts its start under this lock.
    if (m_lock)
        m_lock->release();
    const platform::RelaunchResult started = m_relaunch(m_paths.bundle + QStringLiteral("/bin/velmora"));
    if (started.started()) {
        m_lock.reset();
        return std::nullopt;
    }

    // It cannot start: the old version goes back at once, while it still runs.
    failure.detail = started.error.isEmpty() ? QStringLiteral("no process was started") : started.error;
    m_lock = std::make_unique<platform::FolderLock>(platform::FolderLock::tryLock(m_paths.work));
    QString error;
    m_journal.reason = RollbackReason::RelaunchFailed;
    writeJournal(JournalStep::RollingBack, &error);
    reach(InstallPoint::RollingBack);
    if (!platform::exchangePaths(m_paths.bundle, m_paths.swap, &error)) {
        failure.detail += QStringLiteral("; the old version could not be put back: ") + error;
        m_lock.reset();
        return failure;
    }
    reach(InstallPoint::ExchangedBack);
    writeJournal(JournalStep::RolledBack, &error);
    // The user hears of it now, from this window: nothing is left for the next start.
    platform::removeTree(m_paths.work);
    m_lock.reset();
    return failure;
}

UpdateInstaller::LaunchRecovery UpdateInstaller::recoverAtLaunch(const QString &bundle,
                                                                 const std::function<void(InstallPoint)> &reached,
                                                                 std::optional<RollbackReason> rollBackNow)
{
    LaunchRecovery recovery;
    if (bundle.isEmpty())
        return recovery;
    const InstallPaths paths = InstallPaths::forBundle(bundle);
    RecoveryFacts facts;
    facts.workFolderExists = QFileInfo(paths.work).isDir();
    if (!facts.workFolderExists)
        return recovery;
    platform::FolderLock lock = platform::FolderLock::tryLock(paths.work);
    facts.heldByAnother = !lock.isHeld();
    readJournalFile(paths, facts);
    facts.atBundle = platform::identityOf(paths.bundle).value_or(FolderIdentity());
    facts.atSwap = platform::identityOf(paths.swap).value_or(FolderIdentity());

    RecoveryPlan plan = planRecovery(facts, rollBackNow ? 0 : maxUnconfirmedStarts);
    if (rollBackNow && plan.action == RecoveryAction::RollBack && plan.journal.step == JournalStep::RollingBack)
        plan.journal.reason = *rollBackNow;
    recovery.action = plan.action;
    recovery.journal = plan.journal;
    QString error;
    switch (plan.action) {
    case RecoveryAction::Nothing:
    case RecoveryAction::LeaveAlone:
        break;
    case RecoveryAction::DiscardWork:
    case RecoveryAction::FinishConfirmation:
        platform::removeTree(paths.work, &recovery.error);
        break;
    case RecoveryAction::CountStart:
        if (!platform::writeFileAtomically(paths.journal, serializeJournal(plan.journal), &error))
            recovery.error = error;
        break;
    case RecoveryAction::RollBack: {
        if (!platform::writeFileAtomically(paths.journal, serializeJournal(plan.journal), &error)) {
            recovery.error = error;
            break;
        }
        call(reached, InstallPoint::RollingBack);
        if (!platform::exchangePaths(paths.bundle, paths.swap, &error)) {
            recovery.error = error;
            break;
        }
        call(reached, InstallPoint::ExchangedBack);
        InstallJournal rolledBack = plan.journal;
        rolledBack.step = JournalStep::RolledBack;
        recovery.journal = rolledBack;
        // Written before the old version starts, which reports it; should it fail, the old
        // version still finds "rollingBack" with itself at the bundle's path.
        platform::writeFileAtomically(paths.journal, serializeJournal(rolledBack), &error);
        recovery.restartBundle = true;
        break;
    }
    case RecoveryAction::ReportRolledBack:
        recovery.message = rolledBackMessage(plan.journal);
        platform::removeTree(paths.work, &recovery.error);
        break;
    }
    return recovery;
}

bool UpdateInstaller::confirm(const QString &bundle, const std::function<void(InstallPoint)> &reached)
{
    if (bundle.isEmpty())
        return false;
    const InstallPaths paths = InstallPaths::forBundle(bundle);
    if (!QFileInfo(paths.work).isDir())
        return false;
    platform::FolderLock lock = platform::FolderLock::tryLock(paths.work);
    if (!lock.isHeld())
        return false;
    RecoveryFacts facts;
    if (!readJournalFile(paths, facts))
        return false;
    InstallJournal journal = facts.journal;
    const auto atBundle = platform::identityOf(paths.bundle);
    if (journal.step == JournalStep::Confirmed) {
        platform::removeTree(paths.work);
        return false;
    }
    if ((journal.step != JournalStep::Swapped && journal.step != JournalStep::Swapping)
        || atBundle != std::optional(journal.newBundle))
        return false;
    journal.step = JournalStep::Confirmed;
    if (!platform::writeFileAtomically(paths.journal, serializeJournal(journal), nullptr))
        return false;
    call(reached, InstallPoint::Confirming);
    platform::removeTree(paths.work);
    return true;
}

} // namespace velmora::updates
