// Installs the packaged build into temporary folders and runs the installed velmora: it starts
// its backend from the bundle it finds itself in (where it was installed, or wherever the
// bundle was moved afterwards), shows the page, keeps the backend's log in the user's data
// folder and takes the backend down when it quits. Nothing installed names a path of the build
// or source tree. An update installed into the bundle is confirmed once the new version is up,
// or exchanged back after its second unconfirmed start.

#include "PackagingSupport.h"
#include "RunningBackend.h"
#include "TestSupport.h"
#include "VirtualDisplay.h"

#include "platform/HttpClient.h"
#include "platform/InstallFiles.h"
#include "updates/InstallJournal.h"
#include "updates/UpdateInstaller.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace velmora;
using namespace velmora::test;
using namespace std::chrono_literals;
using test::runCommand;

namespace {

constexpr int startPatience = 6 * test::patience; // a cold start of the engine and Python
constexpr int stopPatience = 3 * test::patience / 2;

const QString appId = QStringLiteral("app.velmora.Velmora");

QString velmoraIn(const QString &bundle)
{
    return bundle + QStringLiteral("/bin/velmora");
}

// The parent pid the backend on port reports; empty when nothing answers.
QStringList procList(qint64 pid, const char *name)
{
    const QByteArray text = test::readFile(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    QStringList items;
    for (const QByteArray &item : text.split('\0')) {
        if (!item.isEmpty())
            items.append(QString::fromLocal8Bit(item));
    }
    return items;
}

QString procEnvironmentValue(qint64 pid, const QString &name)
{
    for (const QString &item : procList(pid, "environ")) {
        if (item.startsWith(name + QLatin1Char('=')))
            return item.mid(name.size() + 1);
    }
    return {};
}

QJsonObject readInfo(const QString &bundle)
{
    return QJsonDocument::fromJson(test::readFile(bundle + QStringLiteral("/Info.json"))).object();
}

} // namespace

class TestPackagedBundle : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_bundle; // installed once for the checks that only read it

    // Velmora's environment for a run: its user folders in home, the backend on port, whose own
    // watch of its parent is off so that only velmora's termination request can stop it.
    static QProcessEnvironment environmentFor(const QString &home, quint16 port)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/cache"));
        // One Velmora runs per user: this run's must not meet another test's. A runtime folder
        // is the user's alone.
        QDir().mkpath(home + QStringLiteral("/runtime"));
        QFile::setPermissions(home + QStringLiteral("/runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/runtime"));
        environment.insert(QStringLiteral("VELMORA_DESKTOP_PORT"), QString::number(port));
        environment.insert(QStringLiteral("VELMORA_BACKEND_WATCH_PARENT"), QStringLiteral("0"));
        // A packaged backend must not see an interpreter home of the user's.
        environment.insert(QStringLiteral("PYTHONHOME"), home + QStringLiteral("/no-python-home"));
        return environment;
    }

    // velmora started from an installed bundle with its user folders in home and its backend on
    // port; killed with its backend when the test ends before it quits.
    struct BundleRun
    {
        BundleRun(const QString &bundle, const QString &home, quint16 port)
            : log(home + QStringLiteral("/data/Velmora/logs/desktop.log"))
            , port(port)
        {
            test::endWithThisProcess(process);
            process.setProcessEnvironment(environmentFor(home, port));
            process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            process.start(velmoraIn(bundle), {});
        }
        ~BundleRun()
        {
            if (process.state() != QProcess::NotRunning) {
                process.kill();
                process.waitForFinished(stopPatience);
            }
            if (const qint64 backend = backendPid(log, port); backend > 0 && !processGone(backend))
                ::kill(pid_t(backend), SIGKILL);
        }
        BundleRun(const BundleRun &) = delete;
        BundleRun &operator=(const BundleRun &) = delete;

        QProcess process;
        const QString log; // the velmora log in the user's data folder
        const quint16 port;
    };

    // A fresh bundle under parent; moved: installed elsewhere first, then moved to its place.
    static QString installFreshBundle(const QString &parent, bool moved)
    {
        const QString place = parent + QStringLiteral("/Velmora bundle");
        const QString installed = moved ? parent + QStringLiteral("/first/velmora") : place;
        const auto install = test::installBundle(installed);
        if (!install.ok()) {
            qWarning() << "cmake --install:" << install.describe();
            return {};
        }
        if (moved && !QDir().rename(installed, place))
            return {};
        return place;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(QFileInfo::exists(QStringLiteral(VELMORA_PACKAGED_BUILD_DIR "/CMakeCache.txt")),
                 "no packaged build: run the test packaging/build first (it is this test's fixture)");
        m_bundle = m_dir.filePath(QStringLiteral("installed/velmora"));
        const auto install = test::installBundle(m_bundle);
        QVERIFY2(install.ok(), install.describe().constData());
    }

    void bundleHoldsWhatVelmoraNeeds_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("executable");

        QTest::newRow("application") << "bin/velmora" << true;
        QTest::newRow("the backend's watch") << "bin/velmora-child-watch" << true;
        QTest::newRow("interpreter entry") << "Resources/python/bin/python3" << true;
        QTest::newRow("backend code") << "Resources/app/src/main.py" << false;
        QTest::newRow("backend page") << "Resources/app/src/static/index.html" << false;
        QTest::newRow("icon for the access screen") << "Resources/velmora.png" << false;
        QTest::newRow("information") << "Info.json" << false;
        QTest::newRow("desktop entry") << "share/applications/" + appId + ".desktop" << false;
        QTest::newRow("metainfo") << "share/metainfo/" + appId + ".metainfo.xml" << false;
        QTest::newRow("scalable icon") << "share/icons/hicolor/scalable/apps/" + appId + ".svg" << false;
    }

    void bundleHoldsWhatVelmoraNeeds()
    {
        QFETCH(QString, path);
        QFETCH(bool, executable);
        const QFileInfo info(m_bundle + QLatin1Char('/') + path);
        QVERIFY2(info.isFile() && !info.isSymLink(), qPrintable(path + " is not a file in the bundle"));
        QCOMPARE(info.isExecutable(), executable);
    }

    void informationDescribesTheBuild()
    {
        const QJsonObject info = readInfo(m_bundle);
        const QString version = info.value(QStringLiteral("CFBundleShortVersionString")).toString();
        QCOMPARE(version, QStringLiteral(VELMORA_PROJECT_VERSION));
        QCOMPARE(info.value(QStringLiteral("CFBundleIdentifier")).toString(), appId);
        QCOMPARE(info.value(QStringLiteral("VelmoraBundledInterpreter")).toString(), QStringLiteral("python/bin/python3"));
        QVERIFY(info.value(QStringLiteral("VelmoraUpdateFeedURL")).toString().startsWith(QStringLiteral("https://")));
        QCOMPARE(info.value(QStringLiteral("VelmoraReleaseNotesHosts")).toArray().size(), 2);
        QVERIFY(info.value(QStringLiteral("VelmoraUpdatePublicKeys")).isArray());

        // The program carries the same version in itself.
        const auto run = runCommand(velmoraIn(m_bundle), {QStringLiteral("--version")});
        QVERIFY2(run.ok(), run.describe().constData());
        QCOMPARE(run.out.trimmed(), ("Velmora " + version).toUtf8());
    }

    void interpreterEntryRunsDebiansPython()
    {
        const auto run = runCommand(
            m_bundle + QStringLiteral("/Resources/python/bin/python3"),
            {QStringLiteral("-c"), QStringLiteral("import sys, fastapi, uvicorn; print(sys.executable)")});
        QVERIFY2(run.ok(), run.describe().constData());
        QCOMPARE(run.out.trimmed(), QByteArray("/usr/bin/python3"));
    }

    void iconSizesAreDrawn_data()
    {
        QTest::addColumn<int>("size");
        for (int size : {16, 24, 32, 48, 64, 128, 256, 512})
            QTest::addRow("%dx%d", size, size) << size;
    }

    void iconSizesAreDrawn()
    {
        QFETCH(int, size);
        const QImage image(m_bundle + QStringLiteral("/share/icons/hicolor/%1x%1/apps/").arg(size) + appId + ".png");
        QCOMPARE(image.size(), QSize(size, size));
        // Drawn, not empty: the middle of the tile is opaque.
        QCOMPARE(qAlpha(image.pixel(size / 2, size * 3 / 4)), 255);
    }

    void noPathOfTheBuildIsInstalled()
    {
        const QList<QByteArray> forbidden = {
            QByteArrayLiteral(VELMORA_SOURCE_DIR),
            QByteArrayLiteral(VELMORA_PACKAGED_BUILD_DIR),
            QByteArrayLiteral(VELMORA_DEVELOPMENT_BUILD_DIR),
        };
        const auto tree = test::describeTree(m_bundle);
        QVERIFY(tree.contains(QStringLiteral("bin/velmora")));
        for (auto it = tree.cbegin(); it != tree.cend(); ++it) {
            for (const QByteArray &path : forbidden)
                QVERIFY2(!it->content.contains(path), qPrintable(it.key() + " names " + path));
        }
    }

    void runsItsBackendFromTheBundle_data()
    {
        QTest::addColumn<bool>("moved");
        QTest::newRow("where installed") << false;
        QTest::newRow("moved after installation") << true;
    }

    void runsItsBackendFromTheBundle()
    {
        QFETCH(bool, moved);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString bundle = installFreshBundle(dir.path(), moved);
        QVERIFY2(!bundle.isEmpty(), "the bundle could not be installed");
        // As velmora finds itself: through its executable's real path.
        const QString realBundle = QFileInfo(bundle).canonicalFilePath();
        const QString home = dir.filePath(QStringLiteral("home"));
        const test::ReservedPort reserved;
        const quint16 port = reserved.number();

        BundleRun run(bundle, home, port);
        QProcess &velmora = run.process;
        const QString &log = run.log;
        QVERIFY(velmora.waitForStarted(startPatience));
        const QString velmoraPid = QString::number(velmora.processId());
        QVERIFY2(QTest::qWaitFor([&] { return backendParent(port) == velmoraPid; }, startPatience),
                 "no backend answered as velmora's");

        // The log is in the user's data folder, and the backend is the bundle's.
        const qint64 backend = backendPid(log, port);
        QVERIFY2(backend > 0, "the log in the user's data folder names no backend on this port");
        const QStringList expectedCommand = {"/usr/bin/python3",
                                             "-m",
                                             "uvicorn",
                                             "src.main:app",
                                             "--loop",
                                             "asyncio",
                                             "--http",
                                             "h11",
                                             "--ws",
                                             "none",
                                             "--host",
                                             "127.0.0.1",
                                             "--port",
                                             QString::number(port),
                                             "--workers",
                                             "1"};
        QCOMPARE(procList(backend, "cmdline"), expectedCommand);
        QCOMPARE(procEnvironmentValue(backend, QStringLiteral("PYTHONPATH")), realBundle + QStringLiteral("/Resources/app"));
        QCOMPARE(procEnvironmentValue(backend, QStringLiteral("VELMORA_BUNDLED_RESOURCES")),
                 realBundle + QStringLiteral("/Resources"));
        QVERIFY(!procList(backend, "environ").join(QLatin1Char('\n')).contains(QStringLiteral("PYTHONHOME=")));
        QCOMPARE(QFileInfo(QStringLiteral("/proc/%1/cwd").arg(backend)).symLinkTarget(),
                 QFileInfo(home + QStringLiteral("/data/Velmora")).canonicalFilePath());

        // Quitting stops the backend.
        velmora.terminate();
        QVERIFY(velmora.waitForFinished(stopPatience));
        QCOMPARE(velmora.exitStatus(), QProcess::NormalExit);
        QCOMPARE(velmora.exitCode(), 0);
        QVERIFY2(QTest::qWaitFor([&] { return processGone(backend); }, stopPatience), "the backend outlived velmora");
        QVERIFY(!portAccepts(port));

        // The bundle is left as installed: no compiled Python beside the backend's code.
        QDirIterator files(bundle, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString file = files.next();
            QVERIFY2(!file.contains(QStringLiteral("__pycache__")), qPrintable(file));
        }
        // And the source tree saw nothing of this run.
        QCOMPARE(backendPid(QStringLiteral(VELMORA_SOURCE_DIR "/logs/desktop.log"), port), 0);
    }

    void showsThePage_data()
    {
        QTest::addColumn<bool>("moved");
        QTest::newRow("where installed") << false;
        QTest::newRow("moved after installation") << true;
    }

    void showsThePage()
    {
        QFETCH(bool, moved);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString bundle = installFreshBundle(dir.path(), moved);
        QVERIFY2(!bundle.isEmpty(), "the bundle could not be installed");
        const QString home = dir.filePath(QStringLiteral("home"));
        const test::ReservedPort reserved;
        const quint16 port = reserved.number();
        const QString shot = dir.filePath(QStringLiteral("velmora.png"));

        // A screenshot run quits once the page has loaded; exit code 0 says it did.
        const auto run = runCommand(velmoraIn(bundle), {QStringLiteral("--screenshot"), shot}, environmentFor(home, port),
                                    startPatience);
        QVERIFY2(run.ok(), run.describe().constData());
        QCOMPARE(QImage(shot).size(), QSize(1480, 900));
        const qint64 backend = backendPid(home + QStringLiteral("/data/Velmora/logs/desktop.log"), port);
        QVERIFY(backend > 0);
        QVERIFY2(QTest::qWaitFor([&] { return processGone(backend); }, stopPatience), "the backend outlived velmora");
    }

    void installedUpdateIsConfirmedOrRolledBack_data()
    {
        QTest::addColumn<int>("startsBefore");
        QTest::addColumn<bool>("crashes"); // the new version's start dies of SIGSEGV before it is up
        QTest::newRow("the new version's first start: confirmed once up") << 0 << false;
        QTest::newRow("its third start after two unconfirmed: rolled back") << 2 << false;
        QTest::newRow("its first start crashes: rolled back at once") << 0 << true;
    }

    void installedUpdateIsConfirmedOrRolledBack()
    {
        QFETCH(int, startsBefore);
        QFETCH(bool, crashes);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // As an installation leaves it: the new bundle in place, the old one as the backup in
        // the work folder beside it, the journal at "swapped".
        const QString bundle = installFreshBundle(dir.path(), false);
        QVERIFY2(!bundle.isEmpty(), "the bundle could not be installed");
        const updates::InstallPaths paths = updates::InstallPaths::forBundle(bundle);
        QVERIFY(QDir().mkpath(paths.work));
        const auto backup = test::installBundle(paths.swap);
        QVERIFY2(backup.ok(), backup.describe().constData());
        updates::InstallJournal journal;
        journal.step = updates::JournalStep::Swapped;
        journal.bundle = bundle;
        journal.fromVersion = QStringLiteral("0.0.1");
        journal.toVersion = QStringLiteral(VELMORA_PROJECT_VERSION);
        journal.oldBundle = *platform::identityOf(paths.swap);
        journal.newBundle = *platform::identityOf(bundle);
        journal.starts = startsBefore;
        QVERIFY(test::writeFile(paths.journal, updates::serializeJournal(journal)));

        const QString home = dir.filePath(QStringLiteral("home"));
        const test::ReservedPort reserved;
        const quint16 port = reserved.number();
        BundleRun run(bundle, home, port);
        QProcess &velmora = run.process;
        QVERIFY(velmora.waitForStarted(startPatience));
        // The first start of a new version is watched from the process started; Velmora runs
        // in its child.
        const QString children = QStringLiteral("/proc/%1/task/%1/children").arg(velmora.processId());
        QString velmoraPid;
        QVERIFY2(QTest::qWaitFor(
                     [&] { return !(velmoraPid = QString::fromLatin1(test::readFile(children).trimmed())).isEmpty(); },
                     startPatience),
                 "velmora's start was not watched");
        if (crashes) {
            ::kill(velmoraPid.toInt(), SIGSEGV);
            // The old version comes back in the process started, and runs there.
            velmoraPid = QString::number(velmora.processId());
        }
        // The version that stays (in the same process: a rollback gives way to the old one)
        // starts its backend, and the installation's work folder goes.
        QVERIFY2(QTest::qWaitFor([&] { return backendParent(port) == velmoraPid; }, startPatience),
                 "no backend answered as velmora's");
        QVERIFY2(QTest::qWaitFor([&] { return !QFileInfo::exists(paths.work); }, startPatience),
                 "the installation's work folder stayed");
        QCOMPARE(platform::identityOf(bundle),
                 std::optional(startsBefore == 0 && !crashes ? journal.newBundle : journal.oldBundle));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 (QStringList{QStringLiteral("home"), QStringLiteral("Velmora bundle")}));

        // Asked to end, the watching process passes the request on and ends as Velmora did.
        velmora.terminate();
        QVERIFY(velmora.waitForFinished(stopPatience));
        QCOMPARE(velmora.exitCode(), 0);
    }

    // X11 desktops find a window's desktop entry by its class: the entry's StartupWMClass must
    // be the class of velmora's window.
    void windowClassIsTheDesktopEntrys()
    {
        const QByteArray entry = test::readFile(m_bundle + "/share/applications/" + appId + ".desktop");
        const auto line = QRegularExpression(QStringLiteral("^StartupWMClass=(.*)$"), QRegularExpression::MultilineOption)
                              .match(QString::fromUtf8(entry));
        QVERIFY2(line.hasMatch(), "the desktop entry names no StartupWMClass");
        const QString wmClass = line.captured(1);

        const test::VirtualDisplay xserver(false, "1600x1000x24");
        QVERIFY2(xserver.isRunning(), "Xvfb could not be started");
        const QString display = QString::fromLatin1(xserver.name());

        QTemporaryDir home;
        QProcessEnvironment environment = environmentFor(home.path(), 0);
        environment.insert(QStringLiteral("DISPLAY"), display);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        // The window is what counts here, not the backend: a refused port leaves it on the
        // failure screen without starting one.
        environment.insert(QStringLiteral("VELMORA_DESKTOP_PORT"), QStringLiteral("80"));
        QProcess velmora;
        test::endWithThisProcess(velmora);
        velmora.setProcessEnvironment(environment);
        velmora.setProcessChannelMode(QProcess::MergedChannels);
        velmora.start(velmoraIn(m_bundle), {});
        auto stopVelmora = qScopeGuard([&] {
            velmora.terminate();
            if (!velmora.waitForFinished(stopPatience))
                velmora.kill();
        });
        QVERIFY(velmora.waitForStarted(startPatience));

        // xwininfo lists each window as  0x… "title": ("instance" "class")  …
        const QRegularExpression velmoraWindow(QStringLiteral("\"Velmora\": \\(\"([^\"]*)\" \"([^\"]*)\"\\)"));
        const auto windowClass = [&] {
            const auto list = runCommand(QStringLiteral("xwininfo"), {QStringLiteral("-display"), display,
                                                                      QStringLiteral("-root"), QStringLiteral("-tree")});
            const auto match = velmoraWindow.match(QString::fromUtf8(list.out));
            return match.hasMatch() ? match.captured(2) : QString();
        };
        QString found;
        // On a time-out the comparison below says what the window's class was.
        const bool appeared = QTest::qWaitFor([&] { return (found = windowClass()) == wmClass; }, startPatience);
        if (!appeared) {
            qWarning().noquote() << "velmora" << (velmora.state() == QProcess::Running ? "runs" : "has ended")
                                 << "and wrote:" << velmora.readAll();
            qWarning().noquote() << "windows:"
                                 << runCommand(QStringLiteral("xwininfo"),
                                               {QStringLiteral("-display"), display, QStringLiteral("-root"),
                                                QStringLiteral("-tree")})
                                        .out;
        }
        QCOMPARE(found, wmClass);
    }
};

QTEST_GUILESS_MAIN(TestPackagedBundle)
#include "tst_packagedbundle.moc"
