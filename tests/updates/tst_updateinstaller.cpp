// Installing an update into a bundle, for real: archives made with libarchive, served over
// loopback HTTPS, signed with a key pair made for this run, unpacked into temporary folders;
// installations killed (SIGKILL) at each step in a process of their own; new versions that
// pass their start check but fail, hang or end on their first starts, relaunched or started
// after an installation at quit, and this build's velmora program crashing as a new version.

#include "platform/FolderLock.h"
#include "platform/HttpClient.h"
#include "platform/InstallFiles.h"
#include "platform/PackageOwnership.h"
#include "platform/Relauncher.h"
#include "updates/FirstStartWatch.h"
#include "updates/InstallJournal.h"
#include "updates/Texts.h"
#include "updates/UpdateInstaller.h"

#include "RunningBackend.h"
#include "TestSupport.h"
#include "TlsTestServer.h"
#include "TreeSnapshot.h"
#include "UpdateFixtures.h"

#include <QDirIterator>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/stat.h>

using namespace velmora;
using namespace velmora::updates;
using test::HttpReply;
using test::TarEntry;

Q_DECLARE_METATYPE(velmora::updates::InstallError)

namespace {

using Tree = QMap<QString, test::TreeEntry>;

const QString running = QStringLiteral("1.0");
const QString next = QStringLiteral("1.1");
const QByteArray shellExecutable = "#!/bin/sh\nexit 0\n";

struct ProcessRun
{
    bool crashed = false; // ended by a signal
    int exitCode = -1;
    QString out;
};

// Runs program to its end while this process's event loop goes on (the test's server answers
// the program's requests).
ProcessRun runProgram(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(program, arguments);
    ProcessRun run;
    if (!finished.wait(3 * test::patience)) {
        process.kill();
        process.waitForFinished();
        run.out = QStringLiteral("did not finish: ") + QString::fromUtf8(process.readAllStandardOutput());
        return run;
    }
    run.crashed = process.exitStatus() == QProcess::CrashExit;
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    return run;
}

// One line a harness start wrote to its log.
struct LogLine
{
    qint64 pid = 0;
    QString text;
};

QList<LogLine> readLog(const QString &log)
{
    QList<LogLine> lines;
    for (const QByteArray &raw : test::readFile(log).split('\n')) {
        const qsizetype space = raw.indexOf(' ');
        if (space > 0)
            lines.append(LogLine{raw.left(space).toLongLong(), QString::fromUtf8(raw.mid(space + 1))});
    }
    return lines;
}

QString describeLog(const QList<LogLine> &lines)
{
    QString text;
    for (const LogLine &line : lines)
        text += QStringLiteral("\n%1 %2").arg(line.pid).arg(line.text);
    return text;
}

} // namespace

class TestUpdateInstaller : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void refusedWithNothingInstalled_data();
    void refusedWithNothingInstalled();
    void installsSwapsRelaunchesAndConfirms();
    void relaunchFailureRollsBackAtOnce();
    void cancelledDownloadLeavesNothing();
    void stalledDownloadFails();
    void anotherInstallationIsLeftAlone();
    void bundlesTheEngineMustNotReplace_data();
    void bundlesTheEngineMustNotReplace();
    void killedAtEachStep_data();
    void killedAtEachStep();
    void failedFirstStartIsRolledBack_data();
    void failedFirstStartIsRolledBack();
    void confirmedFirstStartStays_data();
    void confirmedFirstStartStays();
    void firstStartsEndedOnPurposeAreCounted();
    void launchWhileWatchedGoesOnUnwatched();
    void terminationRequestReachesTheWatchedStart();
    void realVelmoraFirstStartIsWatched();
    void versionThatCannotStartIsRefused_data();
    void versionThatCannotStartIsRefused();
    void realVelmoraPassesTheStartCheck();

private:
    InstallerConfiguration configuration();
    UpdateItem itemFor(const QByteArray &archive, const QString &version = next);
    void serve(const QByteArray &archive) { m_served = archive; }
    QString harness() const { return test::helperProgram(QStringLiteral("update_harness")); }
    QStringList installArguments(const QString &stopAt);
    enum class RunAfterSwap { Nothing, Relaunch };
    // Installs the new version with the harness's behaviour and exchanges it in; with
    // Relaunch it is started as the installing process starts it (detached).
    // executable: the new version's bin/velmora instead of the harness's launcher.
    bool installAndSwap(const QString &behaviour, RunAfterSwap after, const QByteArray &executable = {});
    // Until the returned guard goes: the harness's starts write their lines to log too, and
    // with a short bound a hung start is ended soon.
    [[nodiscard]] auto setStartEnvironment(const QString &log, bool shortBound)
    {
        qputenv("VELMORA_TEST_LOG", QFile::encodeName(log));
        if (shortBound)
            qputenv("VELMORA_TEST_WATCH_BOUND", "3000");
        return qScopeGuard([] {
            qunsetenv("VELMORA_TEST_LOG");
            qunsetenv("VELMORA_TEST_WATCH_BOUND");
        });
    }

    std::unique_ptr<QTemporaryDir> m_temporary;
    QDir m_dir;
    QTemporaryDir m_outside; // where archives aim their escapes: must stay empty
    QString m_bundle;
    Tree m_oldTree;
    QByteArray m_archive; // the new version's archive, signed
    Tree m_newTree;
    QByteArray m_served;
    // Set: the transfer stops after the first half of m_served and stays open until the client
    // closes it or the test finishes it.
    bool m_heldHalfway = false;
    std::unique_ptr<test::LoopbackHttpsServer> m_server;
    platform::HttpClient m_http;
    std::unique_ptr<platform::PackageOwnership> m_packages;
    QString m_certificateFile;
    QStringList m_relaunched;
    QList<qint64> m_relaunchedIds;
};

void TestUpdateInstaller::initTestCase()
{
    const test::TestCertificate &certificate = test::TestCertificate::localhost();
    QVERIFY2(certificate.isValid(), qPrintable(certificate.error()));
    m_http.setSslConfiguration(certificate.clientConfiguration());
}

void TestUpdateInstaller::init()
{
    m_temporary = std::make_unique<QTemporaryDir>();
    QVERIFY(m_temporary->isValid());
    m_dir = QDir(m_temporary->path());
    m_bundle = m_dir.filePath(QStringLiteral("Apps/velmora"));
    QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("Apps"))));
    QVERIFY(test::writeBundle(m_bundle, running, test::harnessLauncher(), "\"VelmoraTestBehaviour\": \"report\""));
    m_oldTree = test::describeTree(m_bundle);

    // The new version, with a file large enough to arrive in many pieces.
    QList<TarEntry> entries = test::bundleEntries(next, test::harnessLauncher(), "\"VelmoraTestBehaviour\": \"confirm\"");
    entries << TarEntry::file("velmora/Resources/app/model.bin", test::incompressible(3 * 1024 * 1024));
    // Entries that would let others change the installed program.
    entries << TarEntry::folder("velmora/Resources/shared/", 0777)
            << TarEntry::file("velmora/Resources/shared/settings.txt", "anyone\n", 0666);
    m_archive = test::makeTarGz(entries);
    const QString reference = m_dir.filePath(QStringLiteral("reference"));
    QVERIFY(QDir().mkpath(reference));
    {
        QProcess tar;
        tar.start(QStringLiteral("tar"), {QStringLiteral("-xzf"), QStringLiteral("-"), QStringLiteral("-C"), reference});
        QVERIFY(tar.waitForStarted());
        tar.write(m_archive);
        tar.closeWriteChannel();
        QVERIFY(tar.waitForFinished(test::patience) && tar.exitCode() == 0);
    }
    // As the installation must leave it: whatever the archive says, only the owner may write.
    QCOMPARE(QProcess::execute(QStringLiteral("chmod"), {QStringLiteral("-R"), QStringLiteral("go-w"), reference}), 0);
    m_newTree = test::describeTree(reference + QStringLiteral("/velmora"));
    QVERIFY(m_newTree.contains(QStringLiteral("bin/velmora")));

    m_served = m_archive;
    m_heldHalfway = false;
    m_server = std::make_unique<test::LoopbackHttpsServer>();
    QVERIFY2(m_server->listen(), qPrintable(m_server->errorString()));
    m_server->setHandler([this](const QByteArray &, const QString &path) {
        if (path == QLatin1String("/Velmora-1.1.tar.gz"))
            return HttpReply{200, m_served, {}, false, -1, m_heldHalfway ? m_served.size() / 2 : -1, m_heldHalfway};
        return HttpReply{404, "not here", {}, false};
    });
    m_packages = std::make_unique<platform::PackageOwnership>(m_dir.filePath(QStringLiteral("dpkg-info")));
    m_certificateFile = m_dir.filePath(QStringLiteral("ca.pem"));
    QVERIFY(test::writeFile(m_certificateFile, test::TestCertificate::localhost().certificate().toPem()));
    m_relaunched.clear();
    m_relaunchedIds.clear();
}

void TestUpdateInstaller::cleanup()
{
    m_server.reset();
    QVERIFY2(QDir(m_outside.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             "something was written outside the bundle");
    if (m_temporary)
        QFile::setPermissions(m_temporary->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_temporary.reset();
}

InstallerConfiguration TestUpdateInstaller::configuration()
{
    InstallerConfiguration configuration;
    configuration.bundle = m_bundle;
    configuration.runningVersion = running;
    configuration.publicKeys = QStringList{test::testPublicKey()};
    configuration.http = &m_http;
    configuration.packages = m_packages.get();
    configuration.relaunch = [this](const QString &program) {
        m_relaunched << program;
        return platform::RelaunchResult{4242, {}};
    };
    return configuration;
}

UpdateItem TestUpdateInstaller::itemFor(const QByteArray &archive, const QString &version)
{
    UpdateItem item;
    item.versionString = version;
    item.displayVersionString = version;
    item.downloadURL = m_server->url(QStringLiteral("/Velmora-1.1.tar.gz"));
    item.contentLength = archive.size();
    item.edSignature = signData(archive, test::testKeys());
    return item;
}

QStringList TestUpdateInstaller::installArguments(const QString &stopAt)
{
    const UpdateItem item = itemFor(m_archive);
    QStringList arguments{QStringLiteral("install"),
                          QStringLiteral("--bundle"),
                          m_bundle,
                          QStringLiteral("--url"),
                          item.downloadURL.toString(),
                          QStringLiteral("--length"),
                          QString::number(item.contentLength),
                          QStringLiteral("--signature"),
                          item.edSignature,
                          QStringLiteral("--key"),
                          test::testPublicKey(),
                          QStringLiteral("--version"),
                          next,
                          QStringLiteral("--running"),
                          running,
                          QStringLiteral("--ca"),
                          m_certificateFile};
    if (!stopAt.isEmpty())
        arguments << QStringLiteral("--stop-at") << stopAt;
    return arguments;
}

bool TestUpdateInstaller::installAndSwap(const QString &behaviour, RunAfterSwap after, const QByteArray &executable)
{
    const QByteArray archive = test::makeTarGz(
        test::bundleEntries(next, executable.isEmpty() ? test::harnessLauncher() : executable,
                            "\"VelmoraTestBehaviour\": \"" + behaviour.toUtf8() + '"'));
    serve(archive);
    InstallerConfiguration installing = configuration();
    if (after == RunAfterSwap::Relaunch) {
        // As the engine relaunches: the old version's program (here the harness) watches the
        // new one, which it starts.
        installing.relaunch = [this](const QString &program) {
            const platform::RelaunchResult result = startWatchedRelaunch(harness(), m_bundle, {});
            m_relaunched << program;
            m_relaunchedIds << result.processId;
            return result;
        };
    }
    UpdateInstaller installer(installing);
    const auto failure = test::waitFor(installer.prepare(itemFor(archive)));
    if (failure) {
        qWarning("prepare failed: %s", qPrintable(failure->detail));
        return false;
    }
    // At quit the engine exchanges the folders and the installing process ends.
    if (installer.swap())
        return false;
    m_newTree = test::describeTree(m_bundle);
    return after == RunAfterSwap::Nothing || !installer.relaunch();
}

void TestUpdateInstaller::refusedWithNothingInstalled_data()
{
    QTest::addColumn<QByteArray>("archive");  // what the feed announces and signs
    QTest::addColumn<QByteArray>("served");   // empty: the archive itself
    QTest::addColumn<int>("announcedLength"); // the server's Content-Length; -1: the body's, -2: none
    QTest::addColumn<QString>("itemVersion");
    QTest::addColumn<QString>("change"); // how the item differs from the archive's
    QTest::addColumn<InstallError>("error");
    QTest::addColumn<QString>("outside"); // a path the archive aims at, which must not appear

    auto archiveOf = [](QList<TarEntry> entries) { return test::makeTarGz(entries); };
    const QByteArray good = test::makeTarGz(test::bundleEntries(next, shellExecutable));
    QByteArray tampered = good;
    tampered[good.size() / 2] = char(tampered[good.size() / 2] ^ 0x20);
    const QString none;

    QTest::newRow("a tampered byte") << good << tampered << -1 << next << none << InstallError::BadSignature << none;
    QTest::newRow("a wrong key") << good << QByteArray() << -1 << next << QStringLiteral("other key")
                                 << InstallError::BadSignature << none;
    QTest::newRow("a missing signature") << good << QByteArray() << -1 << next << QStringLiteral("no signature")
                                         << InstallError::MissingSignature << none;
    QTest::newRow("a malformed signature")
        << good << QByteArray() << -1 << next << QStringLiteral("bad signature") << InstallError::BadSignature << none;
    QTest::newRow("a truncated download") << good << good.left(good.size() / 2) << int(good.size()) << next << none
                                          << InstallError::DownloadFailed << none;
    QTest::newRow("a truncated archive, signed as it is")
        << good.left(good.size() - 20) << QByteArray() << -1 << next << none << InstallError::Damaged << none;
    QTest::newRow("a longer body") << good << good + QByteArray(5000, 'x') << -1 << next << none
                                   << InstallError::LengthMismatch << none;
    QTest::newRow("a longer body without a length")
        << good << good + QByteArray(5000, 'x') << -2 << next << none << InstallError::LengthMismatch << none;
    QTest::newRow("a shorter body without a length")
        << good << good.chopped(10) << -2 << next << none << InstallError::LengthMismatch << none;
    QTest::newRow("a length mismatch, announced shorter")
        << good << QByteArray() << -1 << next << QStringLiteral("length -1") << InstallError::LengthMismatch << none;
    QTest::newRow("a length mismatch, announced longer")
        << good << QByteArray() << -1 << next << QStringLiteral("length +1") << InstallError::LengthMismatch << none;
    QTest::newRow("no length") << good << QByteArray() << -1 << next << QStringLiteral("length 0") << InstallError::NoLength
                               << none;
    QTest::newRow("an http enclosure") << good << QByteArray() << -1 << next << QStringLiteral("http")
                                       << InstallError::InsecureUrl << none;
    QTest::newRow("an https to http redirect")
        << good << QByteArray() << -1 << next << QStringLiteral("redirect to http") << InstallError::RedirectRefused << none;
    QTest::newRow("a redirect loop") << good << QByteArray() << -1 << next << QStringLiteral("redirect loop")
                                     << InstallError::RedirectRefused << none;
    QTest::newRow("not found") << good << QByteArray() << -1 << next << QStringLiteral("404") << InstallError::HttpStatus
                               << none;
    QTest::newRow("a downgrade announced as newer")
        << test::makeTarGz(test::bundleEntries(QStringLiteral("0.9"), shellExecutable)) << QByteArray() << -1 << next << none
        << InstallError::WrongVersion << none;
    QTest::newRow("a downgrade") << test::makeTarGz(test::bundleEntries(QStringLiteral("0.9"), shellExecutable))
                                 << QByteArray() << -1 << QStringLiteral("0.9") << none << InstallError::NotNewer << none;
    QTest::newRow("the same version") << test::makeTarGz(test::bundleEntries(running, shellExecutable)) << QByteArray() << -1
                                      << running << none << InstallError::NotNewer << none;
    QTest::newRow("no executable") << archiveOf(
        {TarEntry::folder("velmora/"), TarEntry::file("velmora/Info.json", "{\"CFBundleShortVersionString\": \"1.1\"}")})
                                   << QByteArray() << -1 << next << none << InstallError::NotABundle << none;
    QTest::newRow("no Info.json") << archiveOf(
        {TarEntry::folder("velmora/"), TarEntry::file("velmora/bin/velmora", shellExecutable, 0755)})
                                  << QByteArray() << -1 << next << none << InstallError::NotABundle << none;
    QTest::newRow("not an archive") << QByteArray("<html>captive portal</html>") << QByteArray() << -1 << next << none
                                    << InstallError::Damaged << none;

    // Archives that aim outside the bundle: the marked path must never appear.
    QList<TarEntry> dotdot = test::bundleEntries(next, shellExecutable);
    dotdot << TarEntry::file("velmora/../../escaped-by-dots", "x");
    QTest::newRow("an archive with ../") << archiveOf(dotdot) << QByteArray() << -1 << next << none
                                         << InstallError::UnsafeArchive << QStringLiteral("escaped-by-dots");
    QList<TarEntry> absolute = test::bundleEntries(next, shellExecutable);
    absolute << TarEntry::file(QFile::encodeName(m_outside.path()) + "/escaped-absolute", "x");
    QTest::newRow("an absolute path") << archiveOf(absolute) << QByteArray() << -1 << next << none
                                      << InstallError::UnsafeArchive << QStringLiteral("escaped-absolute");
    QList<TarEntry> escapingLink = test::bundleEntries(next, shellExecutable);
    escapingLink << TarEntry::link("velmora/Resources/out", "../../..")
                 << TarEntry::file("velmora/Resources/out/escaped-link", "x");
    QTest::newRow("an escaping link") << archiveOf(escapingLink) << QByteArray() << -1 << next << none
                                      << InstallError::UnsafeArchive << QStringLiteral("escaped-link");
    QList<TarEntry> absoluteLink = test::bundleEntries(next, shellExecutable);
    absoluteLink << TarEntry::link("velmora/Resources/out", QFile::encodeName(m_outside.path()))
                 << TarEntry::file("velmora/Resources/out/escaped-absolute-link", "x");
    QTest::newRow("a link to an absolute path") << archiveOf(absoluteLink) << QByteArray() << -1 << next << none
                                                << InstallError::UnsafeArchive << QStringLiteral("escaped-absolute-link");
    QList<TarEntry> device = test::bundleEntries(next, shellExecutable);
    device << TarEntry{"velmora/Resources/null", TarEntry::CharacterDevice, {}, {}, 0666};
    QTest::newRow("a device file") << archiveOf(device) << QByteArray() << -1 << next << none << InstallError::UnsafeArchive
                                   << none;
    QList<TarEntry> hardLink = test::bundleEntries(next, shellExecutable);
    hardLink << TarEntry{"velmora/Resources/passwd", TarEntry::HardLink, {}, "/etc/passwd", 0644};
    QTest::newRow("a hard link") << archiveOf(hardLink) << QByteArray() << -1 << next << none << InstallError::UnsafeArchive
                                 << none;
}

void TestUpdateInstaller::refusedWithNothingInstalled()
{
    QFETCH(QByteArray, archive);
    QFETCH(QByteArray, served);
    QFETCH(int, announcedLength);
    QFETCH(QString, itemVersion);
    QFETCH(QString, change);
    QFETCH(InstallError, error);
    QFETCH(QString, outside);

    const QByteArray body = served.isEmpty() ? archive : served;
    m_server->setHandler([&](const QByteArray &, const QString &path) {
        if (path == QLatin1String("/moved"))
            return HttpReply{302, {}, {{"Location", "http://127.0.0.1:1/Velmora-1.1.tar.gz"}}, false};
        if (path == QLatin1String("/loop"))
            return HttpReply{302, {}, {{"Location", "/loop"}}, false};
        if (path != QLatin1String("/Velmora-1.1.tar.gz") || change == QLatin1String("404"))
            return HttpReply{404, "not here", {}, false};
        HttpReply reply{200, body, {}, false};
        reply.announcedLength = announcedLength;
        return reply;
    });

    UpdateItem item = itemFor(archive, itemVersion);
    if (change == QLatin1String("other key"))
        item.edSignature = signData(archive, generateKeyPair());
    else if (change == QLatin1String("no signature"))
        item.edSignature.clear();
    else if (change == QLatin1String("bad signature"))
        item.edSignature = QStringLiteral("c2lnbmF0dXJl");
    else if (change == QLatin1String("length -1"))
        item.contentLength -= 1;
    else if (change == QLatin1String("length +1"))
        item.contentLength += 1;
    else if (change == QLatin1String("length 0"))
        item.contentLength = 0;
    else if (change == QLatin1String("http"))
        item.downloadURL.setScheme(QStringLiteral("http"));
    else if (change == QLatin1String("redirect to http"))
        item.downloadURL = m_server->url(QStringLiteral("/moved"));
    else if (change == QLatin1String("redirect loop"))
        item.downloadURL = m_server->url(QStringLiteral("/loop"));

    UpdateInstaller installer(configuration());
    const std::optional<InstallFailure> failure = test::waitFor(installer.prepare(item));
    QVERIFY2(failure, "installed");
    QCOMPARE(failure->error, error);
    QVERIFY2(!failure->message().isEmpty(), "no sentence for the user");
    QVERIFY(!installer.isReady());

    // Nothing installed, nothing left behind, the running bundle untouched.
    QVERIFY(installer.swap()); // nothing to swap in
    QCOMPARE(test::describeTree(m_bundle), m_oldTree);
    QVERIFY2(!QFileInfo::exists(installer.paths().work), "the work folder is left behind");
    QCOMPARE(QDir(m_dir.filePath(QStringLiteral("Apps"))).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("velmora")});
    if (!outside.isEmpty()) {
        for (const QString &root : {m_dir.path(), QFileInfo(m_dir.path()).path()}) {
            QDirIterator everything(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                    root == m_dir.path() ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags);
            while (everything.hasNext())
                QVERIFY2(!everything.next().contains(outside), qPrintable(everything.filePath()));
        }
    }
    QVERIFY(m_relaunched.isEmpty());
}

void TestUpdateInstaller::installsSwapsRelaunchesAndConfirms()
{
    UpdateInstaller installer(configuration());
    QSignalSpy progress(&installer, &UpdateInstaller::downloadProgress);
    // The download pauses halfway until its first progress is out.
    m_heldHalfway = true;
    connect(&installer, &UpdateInstaller::downloadProgress, m_server.get(), &test::LoopbackHttpServer::finishHeldTransfers);
    const UpdateItem item = itemFor(m_archive);
    const auto failure = test::waitFor(installer.prepare(item));
    QVERIFY2(!failure, failure ? qPrintable(failure->detail) : "");
    QVERIFY(installer.isReady());

    // Progress: bytes and total, rising to the whole archive.
    QVERIFY(progress.size() > 1);
    qint64 last = 0;
    for (const QList<QVariant> &arguments : progress) {
        QVERIFY(arguments.at(0).toLongLong() >= last);
        last = arguments.at(0).toLongLong();
        QCOMPARE(arguments.at(1).toLongLong(), item.contentLength);
    }
    QCOMPARE(last, item.contentLength);

    // Ready: the new bundle waits beside the old, which still runs untouched; the archive is gone.
    const InstallPaths &paths = installer.paths();
    QCOMPARE(test::describeTree(m_bundle), m_oldTree);
    QCOMPARE(test::describeTree(paths.swap), m_newTree);
    QVERIFY(!QFileInfo::exists(paths.archive));
    QCOMPARE(paths.work, m_dir.filePath(QStringLiteral("Apps/.velmora.update")));
    QVERIFY(platform::onSameFileSystem(paths.work, m_bundle));
    auto journal = parseJournal(test::readFile(paths.journal));
    QVERIFY(journal);
    QCOMPARE(journal->step, JournalStep::Ready);
    QCOMPARE(QFileInfo(paths.work).permissions() & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());

    // Nothing unpacked is writable by the group or others, whatever the archive said.
    for (const QString &name : {QStringLiteral("Resources/shared"), QStringLiteral("Resources/shared/settings.txt")}) {
        const QFileInfo unpacked(paths.swap + QLatin1Char('/') + name);
        QVERIFY2(unpacked.exists(), qPrintable(name));
        QCOMPARE(unpacked.permissions() & (QFile::WriteGroup | QFile::WriteOther), QFile::Permissions());
        QVERIFY(unpacked.permissions() & QFile::ReadOther);
    }

    QVERIFY(!installer.swap());
    QCOMPARE(test::describeTree(m_bundle), m_newTree);
    QCOMPARE(test::describeTree(paths.swap), m_oldTree); // the backup
    journal = parseJournal(test::readFile(paths.journal));
    QCOMPARE(journal->step, JournalStep::Swapped);
    QCOMPARE(journal->starts, 0);
    QCOMPARE(platform::identityOf(m_bundle), std::optional(journal->newBundle));

    QVERIFY(!installer.relaunch());
    QCOMPARE(m_relaunched, QStringList{m_bundle + QStringLiteral("/bin/velmora")});

    // The new version's start counts; once up, it confirms and the backup goes.
    const auto start = UpdateInstaller::recoverAtLaunch(m_bundle);
    QCOMPARE(start.action, RecoveryAction::CountStart);
    QCOMPARE(parseJournal(test::readFile(paths.journal))->starts, 1);
    QVERIFY(UpdateInstaller::confirm(m_bundle));
    QVERIFY(!QFileInfo::exists(paths.work));
    QCOMPARE(test::describeTree(m_bundle), m_newTree);
    QCOMPARE(UpdateInstaller::recoverAtLaunch(m_bundle).action, RecoveryAction::Nothing);
    QVERIFY(!UpdateInstaller::confirm(m_bundle)); // nothing left to confirm
}

void TestUpdateInstaller::relaunchFailureRollsBackAtOnce()
{
    InstallerConfiguration failing = configuration();
    failing.relaunch = [](const QString &) { return platform::RelaunchResult{0, QStringLiteral("Permission denied")}; };
    UpdateInstaller installer(failing);
    QVERIFY(!test::waitFor(installer.prepare(itemFor(m_archive))));
    QVERIFY(!installer.swap());
    QCOMPARE(test::describeTree(m_bundle), m_newTree);

    const auto failure = installer.relaunch();
    QVERIFY(failure);
    QCOMPARE(failure->error, InstallError::RelaunchFailed);
    QVERIFY(failure->message().contains(QStringLiteral("Permission denied")));
    QCOMPARE(test::describeTree(m_bundle), m_oldTree);
    QVERIFY(!QFileInfo::exists(installer.paths().work));
}

void TestUpdateInstaller::cancelledDownloadLeavesNothing()
{
    m_heldHalfway = true; // still under way when it is cancelled, however the pieces arrive
    UpdateInstaller installer(configuration());
    platform::TaskHandle handle = platform::TaskHandle::make();
    connect(&installer, &UpdateInstaller::downloadProgress, this, [&handle](qint64 received, qint64 total) {
        if (received < total)
            handle.cancel();
    });
    const auto failure = test::waitFor(installer.prepare(itemFor(m_archive), handle.token()));
    QVERIFY(failure);
    QCOMPARE(failure->error, InstallError::Cancelled);
    QVERIFY(failure->message().isEmpty()); // nothing to tell: the user asked for it
    QVERIFY(!QFileInfo::exists(installer.paths().work));
    QCOMPARE(test::describeTree(m_bundle), m_oldTree);
}

void TestUpdateInstaller::stalledDownloadFails()
{
    m_server->setHandler([](const QByteArray &, const QString &) { return HttpReply{200, {}, {}, true}; });
    InstallerConfiguration impatient = configuration();
    impatient.stallTimeout = std::chrono::milliseconds(300);
    UpdateInstaller installer(impatient);
    const auto failure = test::waitFor(installer.prepare(itemFor(m_archive)));
    QVERIFY(failure);
    QCOMPARE(failure->error, InstallError::DownloadFailed);
    QVERIFY(!QFileInfo::exists(installer.paths().work));
}

void TestUpdateInstaller::anotherInstallationIsLeftAlone()
{
    const InstallPaths paths = InstallPaths::forBundle(m_bundle);
    QVERIFY(QDir().mkpath(paths.work));
    QVERIFY(test::writeFile(
        paths.journal, serializeJournal(InstallJournal{JournalStep::Downloading, m_bundle, running, next, {}, {}, 0, {}})));
    platform::FolderLock other = platform::FolderLock::tryLock(paths.work);
    QVERIFY(other.isHeld());

    UpdateInstaller installer(configuration());
    const auto failure = test::waitFor(installer.prepare(itemFor(m_archive)));
    QVERIFY(failure);
    QCOMPARE(failure->error, InstallError::Busy);
    QCOMPARE(UpdateInstaller::recoverAtLaunch(m_bundle).action, RecoveryAction::LeaveAlone);
    QVERIFY(QFileInfo::exists(paths.journal));
    QVERIFY(m_server->requests().isEmpty());

    // Once it is gone, its leftovers are cleared at the next start.
    other.release();
    QCOMPARE(UpdateInstaller::recoverAtLaunch(m_bundle).action, RecoveryAction::DiscardWork);
    QVERIFY(!QFileInfo::exists(paths.work));
}

void TestUpdateInstaller::bundlesTheEngineMustNotReplace_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("refusal");
    QTest::newRow("installed by the package manager") << "package" << int(InstallRefusal::PackageManaged);
    QTest::newRow("in a folder the user cannot write") << "read-only" << int(InstallRefusal::NotWritable);
    QTest::newRow("in a folder others may write") << "shared" << int(InstallRefusal::SharedParent);
    QTest::newRow("without Info.json") << "no info" << int(InstallRefusal::NotABundle);
    QTest::newRow("a build without keys") << "no keys" << int(InstallRefusal::NoPublicKeys);
    QTest::newRow("an ordinary bundle") << "fine" << int(InstallRefusal::None);
}

void TestUpdateInstaller::bundlesTheEngineMustNotReplace()
{
    QFETCH(QString, kind);
    QFETCH(int, refusal);
    InstallerConfiguration configured = configuration();
    if (kind == QLatin1String("package")) {
        // dpkg's record of the package's files, as the Debian package leaves it.
        QVERIFY(test::writeFile(m_dir.filePath(QStringLiteral("dpkg-info/velmora.list")),
                                "/.\n/usr\n" + QFile::encodeName(m_bundle) + "\n" + QFile::encodeName(m_bundle)
                                    + "/bin/velmora\n/usr/bin/velmora\n"));
    } else if (kind == QLatin1String("no info")) {
        QVERIFY(QFile::remove(m_bundle + QStringLiteral("/Info.json")));
    } else if (kind == QLatin1String("shared")) {
        QVERIFY(QFile::setPermissions(m_dir.filePath(QStringLiteral("Apps")), QFile::ReadOwner | QFile::WriteOwner
                                                                                  | QFile::ExeOwner | QFile::ReadOther
                                                                                  | QFile::WriteOther | QFile::ExeOther));
    } else if (kind == QLatin1String("no keys")) {
        configured.publicKeys = QStringList();
    } else if (kind == QLatin1String("read-only")) {
        QVERIFY(QFile::setPermissions(m_dir.filePath(QStringLiteral("Apps")), QFile::ReadOwner | QFile::ExeOwner
                                                                                  | QFile::ReadOther | QFile::ExeOther
                                                                                  | QFile::ReadGroup | QFile::ExeGroup));
        auto restore = qScopeGuard([this] {
            QFile::setPermissions(m_dir.filePath(QStringLiteral("Apps")),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        });
        if (::geteuid() == 0) {
            // Root may write anywhere: the folder is read-only to the user nobody, so ask as nobody.
            QVERIFY(QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                            | QFile::ExeOther | QFile::ExeGroup));
            // The helper program starts as root and becomes nobody, so its own folder may stay closed.
            const ProcessRun run = runProgram(harness(), {QStringLiteral("refusal"), QStringLiteral("--bundle"), m_bundle,
                                                          QStringLiteral("--key"), test::testPublicKey(),
                                                          QStringLiteral("--as-nobody")});
            QCOMPARE(run.out.trimmed(), QStringLiteral("refusal %1").arg(refusal));
            return;
        }
    }
    UpdateInstaller installer(configured);
    QCOMPARE(int(installer.refusal()), refusal);
    if (refusal == int(InstallRefusal::None))
        return;
    const auto failure = test::waitFor(installer.prepare(itemFor(m_archive)));
    QVERIFY(failure);
    QCOMPARE(failure->error, InstallError::Refused);
    QCOMPARE(int(failure->refusal), refusal);
    if (kind == QLatin1String("package"))
        QVERIFY(failure->message().contains(QStringLiteral("sudo apt")));
    if (kind == QLatin1String("shared"))
        QCOMPARE(failure->message(), sharedParentText.arg(m_dir.filePath(QStringLiteral("Apps"))));
    // Nothing was made beside the bundle.
    QVERIFY(!QFileInfo::exists(InstallPaths::forBundle(m_bundle).work));
    QVERIFY(m_server->requests().isEmpty());
}

void TestUpdateInstaller::killedAtEachStep_data()
{
    QTest::addColumn<QString>("point");
    QTest::addColumn<int>("startsBefore");     // starts of the new version before the killed run (rollback rows)
    QTest::addColumn<bool>("newVersionAfter"); // which version the next start must find

    QTest::newRow("during the download") << "Downloading" << -1 << false;
    QTest::newRow("downloaded") << "Downloaded" << -1 << false;
    QTest::newRow("unpacking") << "Unpacking" << -1 << false;
    QTest::newRow("unpacked") << "Unpacked" << -1 << false;
    QTest::newRow("ready") << "Ready" << -1 << false;
    QTest::newRow("swapping") << "Swapping" << -1 << false;
    QTest::newRow("exchanged, journal behind") << "Exchanged" << -1 << true;
    QTest::newRow("swapped") << "Swapped" << -1 << true;
    QTest::newRow("confirming") << "Confirming" << -1 << true;
    QTest::newRow("rolling back") << "RollingBack" << 2 << false;
    QTest::newRow("exchanged back, journal behind") << "ExchangedBack" << 2 << false;
}

void TestUpdateInstaller::killedAtEachStep()
{
    QFETCH(QString, point);
    QFETCH(int, startsBefore);
    QFETCH(bool, newVersionAfter);
    const InstallPaths paths = InstallPaths::forBundle(m_bundle);

    ProcessRun run;
    if (startsBefore < 0) {
        QStringList arguments = installArguments(point);
        if (point == QLatin1String("Confirming"))
            arguments << QStringLiteral("--confirm");
        run = runProgram(harness(), arguments);
    } else {
        // Installed, then started twice without confirming; the third start rolls back.
        const ProcessRun installed = runProgram(harness(), installArguments(QString()));
        QVERIFY2(installed.exitCode == 0, qPrintable(installed.out));
        for (int start = 0; start < startsBefore; ++start)
            QCOMPARE(UpdateInstaller::recoverAtLaunch(m_bundle).action, RecoveryAction::CountStart);
        run = runProgram(
            harness(), {QStringLiteral("launch"), QStringLiteral("--bundle"), m_bundle, QStringLiteral("--stop-at"), point});
    }
    QVERIFY2(run.crashed && run.out.contains(QStringLiteral("stopping at ") + point), qPrintable(run.out));

    // Killed: whatever the moment, the bundle's path holds one complete version.
    const Tree atBundle = test::describeTree(m_bundle);
    QVERIFY2(atBundle == m_oldTree || atBundle == m_newTree, "the bundle is neither version complete");

    // The next start makes it sound.
    const auto recovery = UpdateInstaller::recoverAtLaunch(m_bundle);
    QVERIFY2(recovery.error.isEmpty(), qPrintable(recovery.error));
    if (recovery.restartBundle) {
        // A third unconfirmed start rolled back; the old version's start then reports it.
        QCOMPARE(UpdateInstaller::recoverAtLaunch(m_bundle).action, RecoveryAction::ReportRolledBack);
    } else if (recovery.action == RecoveryAction::ReportRolledBack) {
        QCOMPARE(recovery.message, rolledBackNotConfirmedText.arg(next, running));
    }
    QCOMPARE(test::describeTree(m_bundle), newVersionAfter ? m_newTree : m_oldTree);
    if (QFileInfo::exists(paths.work)) {
        const auto journal = parseJournal(test::readFile(paths.journal));
        QVERIFY2(journal, "the journal left is unreadable");
        QCOMPARE(journal->step, JournalStep::Swapped);
        QVERIFY(newVersionAfter);
        QCOMPARE(platform::identityOf(m_bundle), std::optional(journal->newBundle));
        QCOMPARE(platform::identityOf(paths.swap), std::optional(journal->oldBundle));
        QCOMPARE(test::describeTree(paths.swap), m_oldTree);
        QVERIFY(journal->starts >= 1);
        // And the new version, once up, finishes it.
        QVERIFY(UpdateInstaller::confirm(m_bundle));
    }
    QVERIFY(!QFileInfo::exists(paths.work));
    QCOMPARE(QDir(m_dir.filePath(QStringLiteral("Apps"))).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("velmora")});
}

void TestUpdateInstaller::failedFirstStartIsRolledBack_data()
{
    QTest::addColumn<QString>("behaviour"); // of the new version after its start check
    QTest::addColumn<bool>("relaunched");   // started by the installing process, else by the user after a quit
    // Set: the new version's program, which runs none of Velmora's code once it has passed its
    // start check. Only the relaunch's watching process, the old version's, can see it fail.
    QTest::addColumn<QByteArray>("foreign");

    for (const bool relaunched : {false, true}) {
        const char *path = relaunched ? "after relaunch" : "installed at quit";
        QTest::addRow("exits at once, %s", path) << "exit" << relaunched << QByteArray();
        QTest::addRow("dies of SIGSEGV, %s", path) << "segv" << relaunched << QByteArray();
        QTest::addRow("aborts, %s", path) << "crash" << relaunched << QByteArray();
        QTest::addRow("hangs, %s", path) << "hang" << relaunched << QByteArray();
    }
    const QByteArray check
        = "#!/bin/sh\nif [ \"$1\" = --check-start ]; then echo 'velmora start check: ok 1.1'; exit 0; fi\n";
    QTest::newRow("foreign, exits at once, after relaunch") << "exit" << true << check + "exit 1\n";
    QTest::newRow("foreign, dies of SIGSEGV, after relaunch") << "segv" << true << check + "kill -SEGV $$\n";
    QTest::newRow("foreign, hangs, after relaunch") << "hang" << true << check + "exec sleep 600\n";
}

void TestUpdateInstaller::failedFirstStartIsRolledBack()
{
    QFETCH(QString, behaviour);
    QFETCH(bool, relaunched);
    QFETCH(QByteArray, foreign);
    const QString log = m_dir.filePath(QStringLiteral("starts.log"));
    auto environment = setStartEnvironment(log, behaviour == QLatin1String("hang"));
    QVERIFY(installAndSwap(behaviour, relaunched ? RunAfterSwap::Relaunch : RunAfterSwap::Nothing, foreign));

    qint64 started = 0; // the process its launcher knows: the watching one
    if (relaunched) {
        QCOMPARE(m_relaunched.size(), 1);
        started = m_relaunchedIds.value(0);
        QVERIFY(started > 0);
        QTRY_VERIFY_WITH_TIMEOUT(test::processGone(started), 3 * test::patience);
    } else {
        // The user's next start, of the version that stands there.
        QProcess start;
        start.setProcessChannelMode(QProcess::ForwardedChannels);
        start.start(m_bundle + QStringLiteral("/bin/velmora"), {});
        QVERIFY(start.waitForStarted(test::patience));
        started = start.processId();
        QVERIFY(start.waitForFinished(3 * test::patience));
        // The version that came back ran in it and ended as it does.
        QCOMPARE(start.exitStatus(), QProcess::NormalExit);
        QCOMPARE(start.exitCode(), 0);
    }

    // The new version's start went as far as it goes (a hung one maybe less far before its
    // bound); the old version then ran in the watching process and told why, once.
    const QList<LogLine> lines = readLog(log);
    QList<LogLine> watched;
    QStringList child;
    for (const LogLine &line : lines) {
        if (line.pid == started)
            watched << line;
        else
            child << line.text;
    }
    const QStringList firstStart = foreign.isEmpty()
                                       ? QStringList{QStringLiteral("action CountStart"), QStringLiteral("runs ") + next}
                                       : QStringList();
    if (behaviour == QLatin1String("hang"))
        QVERIFY2(firstStart.mid(0, child.size()) == child, qPrintable(describeLog(lines)));
    else
        QVERIFY2(child == firstStart, qPrintable(describeLog(lines)));
    QStringList restored;
    for (const LogLine &line : watched)
        restored << line.text;
    QVERIFY2(restored
                 == (QStringList{QStringLiteral("action ReportRolledBack"),
                                 QStringLiteral("message ") + rolledBackFirstStartText.arg(next, running),
                                 QStringLiteral("runs ") + running}),
             qPrintable(describeLog(lines)));
    QCOMPARE(test::describeTree(m_bundle), m_oldTree);
    QVERIFY(!QFileInfo::exists(InstallPaths::forBundle(m_bundle).work));

    // The next start is an ordinary one of the old version: nothing more to tell.
    const ProcessRun after = runProgram(m_bundle + QStringLiteral("/bin/velmora"), {});
    QCOMPARE(after.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts),
             (QStringList{QStringLiteral("action Nothing"), QStringLiteral("runs ") + running}));
}

void TestUpdateInstaller::confirmedFirstStartStays_data()
{
    QTest::addColumn<bool>("relaunched");
    QTest::newRow("installed at quit") << false;
    QTest::newRow("after relaunch") << true;
}

void TestUpdateInstaller::confirmedFirstStartStays()
{
    QFETCH(bool, relaunched);
    const QString log = m_dir.filePath(QStringLiteral("starts.log"));
    auto environment = setStartEnvironment(log, false);
    QVERIFY(installAndSwap(QStringLiteral("confirm"), relaunched ? RunAfterSwap::Relaunch : RunAfterSwap::Nothing));

    qint64 watching = 0;
    if (relaunched) {
        watching = m_relaunchedIds.value(0);
        QVERIFY(watching > 0);
        QTRY_VERIFY_WITH_TIMEOUT(test::processGone(watching), 3 * test::patience);
    } else {
        QProcess start;
        start.setProcessChannelMode(QProcess::ForwardedChannels);
        start.start(m_bundle + QStringLiteral("/bin/velmora"), {});
        QVERIFY(start.waitForStarted(test::patience));
        watching = start.processId();
        QVERIFY(start.waitForFinished(3 * test::patience));
        QCOMPARE(start.exitCode(), 0);
    }

    // One watching process passed on the confirmed start's status (the new version's own
    // watch stood aside for the relaunch's) and left the version be.
    QStringList watcher;
    QStringList child;
    const QList<LogLine> lines = readLog(log);
    for (const LogLine &line : lines)
        (line.pid == watching ? watcher : child) << line.text;
    QVERIFY2(watcher == QStringList{QStringLiteral("watched 0")}, qPrintable(describeLog(lines)));
    QVERIFY2(child
                 == (QStringList{QStringLiteral("action CountStart"), QStringLiteral("runs ") + next,
                                 QStringLiteral("confirmed 1")}),
             qPrintable(describeLog(lines)));
    QCOMPARE(test::describeTree(m_bundle), m_newTree);
    QVERIFY(!QFileInfo::exists(InstallPaths::forBundle(m_bundle).work));
}

void TestUpdateInstaller::firstStartsEndedOnPurposeAreCounted()
{
    const QString log = m_dir.filePath(QStringLiteral("starts.log"));
    auto environment = setStartEnvironment(log, false);
    QVERIFY(installAndSwap(QStringLiteral("quit"), RunAfterSwap::Nothing));
    const InstallPaths paths = InstallPaths::forBundle(m_bundle);

    // Ended with status 0 before it was up (the user quit at once): not a failure of the
    // version, so the watch leaves it to the next start, which counts it.
    for (int start = 1; start <= maxUnconfirmedStarts; ++start) {
        const ProcessRun run = runProgram(m_bundle + QStringLiteral("/bin/velmora"), {});
        QVERIFY2(!run.crashed && run.exitCode == 0, qPrintable(run.out));
        QCOMPARE(
            run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts),
            (QStringList{QStringLiteral("action CountStart"), QStringLiteral("runs ") + next, QStringLiteral("watched 0")}));
        QCOMPARE(test::describeTree(m_bundle), m_newTree);
        const auto journal = parseJournal(test::readFile(paths.journal));
        QVERIFY(journal);
        QCOMPARE(journal->step, JournalStep::Swapped);
        QCOMPARE(journal->starts, start);
    }

    // A version that never gets up is still rolled back by its count: the start after its
    // second gives way to the old version, which says why.
    const ProcessRun third = runProgram(m_bundle + QStringLiteral("/bin/velmora"), {});
    QVERIFY2(!third.crashed && third.exitCode == 0, qPrintable(third.out));
    QCOMPARE(third.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts),
             (QStringList{QStringLiteral("action RollBack"), QStringLiteral("action ReportRolledBack"),
                          QStringLiteral("message ") + rolledBackNotConfirmedText.arg(next, running),
                          QStringLiteral("runs ") + running, QStringLiteral("watched 0")}));
    QCOMPARE(test::describeTree(m_bundle), m_oldTree);
    QVERIFY(!QFileInfo::exists(paths.work));
}

void TestUpdateInstaller::launchWhileWatchedGoesOnUnwatched()
{
    QVERIFY(installAndSwap(QStringLiteral("quit"), RunAfterSwap::Nothing));
    QVERIFY(awaitsConfirmation(m_bundle));
    // Another process watches this version's first start.
    const platform::FolderLock watching = platform::FolderLock::tryLock(m_bundle);
    QVERIFY(watching.isHeld());
    const auto begun = std::chrono::steady_clock::now();
    QCOMPARE(watchFirstStart(m_bundle, {}, std::chrono::minutes(10)), std::optional<int>());
    // Returned without a second watch, which would have waited for its child.
    QVERIFY(std::chrono::steady_clock::now() - begun < std::chrono::minutes(10));
    QCOMPARE(test::describeTree(m_bundle), m_newTree);
    QCOMPARE(parseJournal(test::readFile(InstallPaths::forBundle(m_bundle).journal))->starts, 0);
}

void TestUpdateInstaller::terminationRequestReachesTheWatchedStart()
{
    const QString log = m_dir.filePath(QStringLiteral("starts.log"));
    auto environment = setStartEnvironment(log, false);
    QVERIFY(installAndSwap(QStringLiteral("hang"), RunAfterSwap::Nothing));

    QProcess start;
    start.setProcessChannelMode(QProcess::ForwardedChannels);
    start.start(m_bundle + QStringLiteral("/bin/velmora"), {});
    QVERIFY(start.waitForStarted(test::patience));
    auto stop = qScopeGuard([&start] {
        start.kill();
        start.waitForFinished(test::patience);
    });
    QTRY_VERIFY_WITH_TIMEOUT(test::readFile(log).contains("runs " + next.toUtf8()), test::patience);

    // The desktop or the terminal knows the watching process only: the request reaches the
    // start it watches, which ends as asked. That is no failure of the version: it stays, and
    // the next start is watched again.
    ::kill(pid_t(start.processId()), SIGTERM);
    QTRY_VERIFY_WITH_TIMEOUT(start.state() == QProcess::NotRunning, test::patience);
    QCOMPARE(start.exitStatus(), QProcess::NormalExit);
    QCOMPARE(start.exitCode(), 128 + SIGTERM);
    QCOMPARE(test::describeTree(m_bundle), m_newTree);
    const auto journal = parseJournal(test::readFile(InstallPaths::forBundle(m_bundle).journal));
    QVERIFY(journal);
    QCOMPARE(journal->step, JournalStep::Swapped);
    QCOMPARE(journal->starts, 1);
    QVERIFY(awaitsConfirmation(m_bundle));
}

void TestUpdateInstaller::realVelmoraFirstStartIsWatched()
{
    // This build's velmora program as the new version; the old one is the harness's launcher,
    // which reports what it finds when it comes back.
    const QByteArray velmora = test::readFile(QStringLiteral(VELMORA_TEST_BIN_DIR "/../../bin/velmora"));
    QVERIFY(velmora.size() > 1000);
    const QByteArray archive = test::makeTarGz(test::bundleEntries(next, velmora));
    serve(archive);
    {
        UpdateInstaller installer(configuration());
        const auto failure = test::waitFor(installer.prepare(itemFor(archive)), 3 * test::patience);
        QVERIFY2(!failure, failure ? qPrintable(failure->detail) : "");
        QVERIFY(!installer.swap());
    }

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
        const QString folder = m_dir.filePath(QStringLiteral("user/") + QLatin1String(variable));
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        environment.insert(QLatin1String(variable), folder);
    }
    environment.remove(QString::fromLatin1(platform::Relauncher::relaunchedFromVariable));
    QProcess start;
    start.setProcessEnvironment(environment);
    start.setProcessChannelMode(QProcess::SeparateChannels);
    start.start(m_bundle + QStringLiteral("/bin/velmora"), {});
    QVERIFY(start.waitForStarted(test::patience));
    auto stop = qScopeGuard([&start] {
        start.kill();
        start.waitForFinished(test::patience);
    });

    // Velmora runs in the watching process's child; it crashes there (SIGSEGV) before it is up.
    const QString children = QStringLiteral("/proc/%1/task/%1/children").arg(start.processId());
    qint64 child = 0;
    QTRY_VERIFY_WITH_TIMEOUT((child = test::readFile(children).trimmed().toLongLong()) > 0
                                 || start.state() == QProcess::NotRunning,
                             test::patience);
    if (child > 0)
        ::kill(pid_t(child), SIGSEGV);
    // (waitForFinished() answers false for a process that has ended already.)
    QTRY_VERIFY_WITH_TIMEOUT(start.state() == QProcess::NotRunning, 3 * test::patience);
    const QString out = QString::fromUtf8(start.readAllStandardOutput());
    QCOMPARE(start.exitCode(), 0);
    QCOMPARE(out.split(QLatin1Char('\n'), Qt::SkipEmptyParts),
             (QStringList{QStringLiteral("action ReportRolledBack"),
                          QStringLiteral("message ") + rolledBackFirstStartText.arg(next, running),
                          QStringLiteral("runs ") + running}));
    QCOMPARE(test::describeTree(m_bundle), m_oldTree);
    QVERIFY(!QFileInfo::exists(InstallPaths::forBundle(m_bundle).work));
}

void TestUpdateInstaller::versionThatCannotStartIsRefused_data()
{
    QTest::addColumn<QByteArray>("executable");
    QTest::addColumn<QString>("detail"); // a part of the English diagnostics

    QTest::newRow("exits at once") << QByteArray("#!/bin/sh\nexit 1\n") << "status 1";
    QTest::newRow("exits at once without a word") << QByteArray("#!/bin/sh\nexit 0\n") << "did not answer";
    QTest::newRow("crashes before its window") << QByteArray("#!/bin/sh\nkill -SEGV $$\n") << "crashed";
    QTest::newRow("needs a library that is not there")
        << test::readFile(test::helperProgram(QStringLiteral("needs_absent_library"))) << "status 127";
    // The first bytes of a 64-bit little-endian executable for AArch64 (machine 183): the
    // kernel refuses to run it here.
    QByteArray foreign("\x7f"
                       "ELF\x02\x01\x01",
                       7);
    foreign += QByteArray(9, '\0');
    foreign += QByteArray("\x02\x00\xb7\x00\x01\x00\x00\x00", 8);
    foreign += QByteArray(48, '\0');
    QTest::newRow("built for another architecture") << foreign << "could not be started";
    QTest::newRow("answers for another version")
        << QByteArray("#!/bin/sh\necho 'velmora start check: ok 9.9'\n") << "did not answer";
}

void TestUpdateInstaller::versionThatCannotStartIsRefused()
{
    QFETCH(QByteArray, executable);
    QFETCH(QString, detail);
    const QByteArray archive = test::makeTarGz(test::bundleEntries(next, executable));
    serve(archive);
    UpdateInstaller installer(configuration());
    const auto failure = test::waitFor(installer.prepare(itemFor(archive)));
    QVERIFY(failure);
    QCOMPARE(failure->error, InstallError::CannotStart);
    QVERIFY2(failure->detail.contains(detail), qPrintable(failure->detail));
    QCOMPARE(failure->message(), cannotStartText.arg(next));
    // Nothing was exchanged, nothing is left beside the bundle, and the next start is ordinary.
    QVERIFY(!installer.isReady());
    QCOMPARE(test::describeTree(m_bundle), m_oldTree);
    QVERIFY(!QFileInfo::exists(InstallPaths::forBundle(m_bundle).work));
    QCOMPARE(UpdateInstaller::recoverAtLaunch(m_bundle).action, RecoveryAction::Nothing);
}

void TestUpdateInstaller::realVelmoraPassesTheStartCheck()
{
    // The velmora program of this build as the new version's.
    const QByteArray velmora = test::readFile(QStringLiteral(VELMORA_TEST_BIN_DIR "/../../bin/velmora"));
    QVERIFY(velmora.size() > 1000);

    // Asked by itself, with empty user folders: it answers and leaves them as they were.
    const QString bundle = m_dir.filePath(QStringLiteral("checked/velmora"));
    QVERIFY(test::writeBundle(bundle, next, velmora));
    QProcess check;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const char *variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
        const QString folder = m_dir.filePath(QStringLiteral("user/") + QLatin1String(variable));
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        environment.insert(QLatin1String(variable), folder);
    }
    check.setProcessEnvironment(environment);
    check.start(bundle + QStringLiteral("/bin/velmora"), {QLatin1String(startCheckArgument)});
    QVERIFY(check.waitForFinished(test::patience));
    QCOMPARE(check.exitStatus(), QProcess::NormalExit);
    QCOMPARE(check.exitCode(), 0);
    QCOMPARE(check.readAllStandardOutput(), QByteArray(startCheckAnswer) + next.toUtf8() + '\n');
    QDirIterator written(m_dir.filePath(QStringLiteral("user")), QDir::Files | QDir::Hidden | QDir::System,
                         QDirIterator::Subdirectories);
    QVERIFY2(!written.hasNext(), qPrintable(written.hasNext() ? written.next() : QString()));

    // And through an installation: prepared, ready to be exchanged in.
    const QByteArray archive = test::makeTarGz(test::bundleEntries(next, velmora));
    serve(archive);
    UpdateInstaller installer(configuration());
    const auto failure = test::waitFor(installer.prepare(itemFor(archive)), 3 * test::patience);
    QVERIFY2(!failure, failure ? qPrintable(failure->detail) : "");
    QVERIFY(installer.isReady());
}

QTEST_GUILESS_MAIN(TestUpdateInstaller)
#include "tst_updateinstaller.moc"
