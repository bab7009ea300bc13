#include "TestSupport.h"

#include "backend/BackendController.h"
#include "backend/BackendLaunch.h"
#include "backend/Health.h"
#include "backend/LaunchPlan.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <QCoro/QCoroTask>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>

using namespace velmora;
using namespace std::chrono_literals;
using backend::BackendController;
using backend::Health;
using test::readFile;
using test::writeFile;

namespace {

using test::patience;
constexpr qint64 ownPid = 777777;

// How many descriptors of this process are open on path.
int openHandlesTo(const QString &path)
{
    int count = 0;
    const QString target = QFileInfo(path).canonicalFilePath();
    const QFileInfoList fds = QDir(QStringLiteral("/proc/self/fd"))
                                  .entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &fd : fds) {
        if (fd.symLinkTarget() == target)
            ++count;
    }
    return count;
}

QByteArray healthBody(const QByteArray &pidMember)
{
    return "{\"app\":\"Velmora\",\"ok\":true,\"desktop_parent_pid\":" + pidMember + "}";
}

// Forwards to the real launcher and counts the launches.
class CountingLauncher : public platform::ProcessLauncher
{
public:
    platform::LaunchResult launch(const platform::ProcessDescription &description) override
    {
        ++launches;
        return platform::ProcessLauncher::launch(description);
    }
    int launches = 0;
};

// Forwards to the real client and counts the requests sent and answered (or failed).
class CountingHttpClient : public platform::HttpClient
{
public:
    QCoro::Task<platform::HttpResponse> get(QUrl url, platform::RedirectPolicy redirects, std::chrono::milliseconds timeout,
                                            platform::CancelToken token, qint64 maxBodyBytes) override
    {
        ++sent;
        platform::HttpResponse response = co_await platform::HttpClient::get(std::move(url), redirects, timeout,
                                                                             std::move(token), maxBodyBytes);
        ++answered;
        co_return response;
    }
    int sent = 0;
    int answered = 0;
};

// A bundle staged in a temporary folder, the application's environment with a free port, and
// a controller with short pauses over them.
struct Stage
{
    enum Mode { Packaged, Development };

    QTemporaryDir dir;
    platform::FixedBundle bundle;
    platform::FixedProcessInfo info;
    CountingLauncher launcher;
    const test::ReservedPort reservedPort;
    quint16 port = 0;
    Mode mode = Packaged;

    // program runs as the bundled interpreter (packaged) or is exec'd by the project's start
    // script (development) with the given arguments; "%SIGNALS%" stands for signalFile().
    Stage(Mode mode, const QString &program, const QStringList &arguments = {}) : mode(mode)
    {
        port = reservedPort.number();
        info.env.insert("PATH", qEnvironmentVariable("PATH"));
        info.env.insert("VELMORA_DESKTOP_PORT", QString::number(port));
        info.env.insert("FAKE_BACKEND_SIGNAL_FILE", signalFile());
        info.pid = ownPid;
        bundle.info.insert("CFBundleShortVersionString", "1.0");
        if (mode == Packaged) {
            bundle.resources = dir.filePath("Resources");
            bundle.applicationSupport = dir.filePath("support");
            QDir().mkpath(dir.filePath("Resources/python/bin"));
            QDir().mkpath(dir.filePath("Resources/app"));
            if (!program.isEmpty())
                QFile::link(program, dir.filePath("Resources/python/bin/python3.12"));
        } else {
            bundle.info.insert("VelmoraProjectRoot", dir.filePath("project"));
            QByteArray script = "#!/bin/bash\necho \"run-app.sh: starting\"\nexec '" + program.toLocal8Bit() + "'";
            for (QString argument : arguments)
                script += " '" + argument.replace("%SIGNALS%", signalFile()).toLocal8Bit() + "'";
            writeFile(dir.filePath("project/scripts/run-app.sh"), script + "\n", false);
        }
    }

    std::unique_ptr<BackendController> controller(int readinessCycles = 100, int waitCycles = 5,
                                                  std::chrono::milliseconds pause = 30ms,
                                                  platform::HttpClient *http = nullptr,
                                                  std::chrono::milliseconds adoptedCheckInterval = 10s)
    {
        BackendController::Dependencies deps;
        deps.timing.adoptedCheckInterval = adoptedCheckInterval;
        deps.http = http;
        deps.bundle = &bundle;
        deps.processInfo = &info;
        deps.launcher = &launcher;
        deps.timing.pause = pause;
        deps.timing.probeTimeout = 2s;
        deps.timing.waitCycles = waitCycles;
        deps.timing.readinessCycles = readinessCycles;
        return std::make_unique<BackendController>(deps);
    }

    QString runtimeDirectory() const { return mode == Packaged ? dir.filePath("support/Velmora") : dir.filePath("project"); }
    QString logFile() const { return runtimeDirectory() + "/logs/desktop.log"; }
    QString signalFile() const { return dir.filePath("signals"); }
    QByteArray log() const { return readFile(logFile()); }
    QByteArray signalsReceived() const { return readFile(signalFile()); }
    QUrl baseUrl() const { return QUrl(QString("http://127.0.0.1:%1").arg(port)); }
};

// A fake backend started by the test itself, as an earlier run of an application would have
// left it: its output goes to output.log in folder, parentPid is the pid it reports.
std::unique_ptr<platform::Process> launchEarlierBackend(const Stage &stage, const QTemporaryDir &folder, qint64 parentPid,
                                                        const QList<QPair<QString, QString>> &extra = {})
{
    platform::FileHandle output(::open(QFile::encodeName(folder.filePath("output.log")).constData(),
                                       O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    platform::ProcessDescription description;
    description.executable = test::helperProgram("fake_backend");
    description.workingDirectory = folder.path();
    description.environment = stage.info.env;
    description.environment.insert("VELMORA_DESKTOP_PARENT_PID", QString::number(parentPid));
    for (const auto &[name, value] : extra)
        description.environment.insert(name, value);
    description.outputFd = output.fd();
    platform::LaunchResult launched = platform::ProcessLauncher::system().launch(description);
    if (!launched.process)
        qWarning("fake backend not started: %s", qPrintable(launched.error));
    else if (!QTest::qWaitFor([&] { return readFile(folder.filePath("output.log")).contains("fake_backend: listening"); },
                              patience))
        qWarning("fake backend does not listen");
    return std::move(launched.process);
}

// The backend launched the way the application does at its very start, before any controller
// exists, on the stage's port (or port, when given).
backend::BackendLaunch launchBeforeTheController(Stage &stage, quint16 port = 0)
{
    platform::FixedProcessInfo info = stage.info;
    if (port != 0)
        info.env.insert("VELMORA_DESKTOP_PORT", QString::number(port));
    const backend::LaunchPlanResolution plan = backend::resolveLaunchPlan(stage.bundle);
    const backend::PortResolution resolved = backend::resolvePort(info);
    if (!plan.ok() || !resolved.ok()) {
        qWarning("no launch plan or port: %s %s", qPrintable(plan.error), qPrintable(resolved.error));
        return {};
    }
    return backend::launchBackend(plan.plan, resolved, stage.bundle, info, platform::ProcessLauncher::system());
}

} // namespace

class TestBackendController : public QObject
{
    Q_OBJECT

private slots:
    void classifiesHealth_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<Health>("expected");

        QTest::newRow("ours") << 200 << healthBody("\"777777\"") << Health::Ours;
        QTest::newRow("ours, extra members")
            << 200 << QByteArray("{\"x\":[1],\"app\":\"Velmora\",\"ok\":true,\"desktop_parent_pid\":\"777777\"}")
            << Health::Ours;
        QTest::newRow("other instance") << 200 << healthBody("\"1234\"") << Health::OtherInstance;
        QTest::newRow("404 with a healthy body") << 404 << healthBody("\"777777\"") << Health::Foreign;
        QTest::newRow("500") << 500 << QByteArray("{}") << Health::Foreign;
        QTest::newRow("redirect to a healthy answer is not followed") << 302 << healthBody("\"777777\"") << Health::Foreign;
        QTest::newRow("JSON array") << 200 << QByteArray("[1,2]") << Health::Foreign;
        QTest::newRow("app missing") << 200 << QByteArray("{\"ok\":true,\"desktop_parent_pid\":\"777777\"}")
                                     << Health::Foreign;
        QTest::newRow("app of another name")
            << 200 << QByteArray("{\"app\":\"velmora\",\"ok\":true,\"desktop_parent_pid\":\"777777\"}") << Health::Foreign;
        QTest::newRow("ok false") << 200
                                  << QByteArray("{\"app\":\"Velmora\",\"ok\":false,\"desktop_parent_pid\":\"777777\"}")
                                  << Health::Foreign;
        QTest::newRow("ok as text") << 200
                                    << QByteArray("{\"app\":\"Velmora\",\"ok\":\"true\",\"desktop_parent_pid\":\"777777\"}")
                                    << Health::Foreign;
        QTest::newRow("pid as number") << 200 << healthBody("777777") << Health::Foreign;
        QTest::newRow("pid missing") << 200 << QByteArray("{\"app\":\"Velmora\",\"ok\":true}") << Health::Foreign;
        QTest::newRow("not JSON") << 200 << QByteArray("<html>hello</html>") << Health::Unreachable;
        QTest::newRow("empty body") << 200 << QByteArray() << Health::Unreachable;
    }

    void classifiesHealth()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(Health, expected);

        test::LoopbackHttpServer server;
        QVERIFY(server.listen());
        server.setHandler([&](const QByteArray &, const QString &) {
            test::HttpReply reply = test::HttpReply::json(body, status);
            if (status / 100 == 3)
                reply.headers.append(qMakePair(QByteArray("Location"), QByteArray("/healthz")));
            return reply;
        });
        const Health health = test::waitFor(
            backend::probeHealth(platform::HttpClient::shared(), server.baseUrl(), ownPid, 5s));
        QCOMPARE(health, expected);
        QCOMPARE(server.requests(), QStringList{"/healthz"});
    }

    void unansweredProbesAreUnreachable()
    {
        auto &http = platform::HttpClient::shared();
        const test::ReservedPort port;
        const QUrl refused(QString("http://127.0.0.1:%1").arg(port.number()));
        QCOMPARE(test::waitFor(backend::probeHealth(http, refused, ownPid, 5s)), Health::Unreachable);

        test::LoopbackHttpServer silent;
        QVERIFY(silent.listen());
        silent.setHandler([](const QByteArray &, const QString &) { return test::HttpReply{200, {}, {}, true}; });
        QCOMPARE(test::waitFor(backend::probeHealth(http, silent.baseUrl(), ownPid, 200ms)), Health::Unreachable);

        auto cancelled = platform::TaskHandle::make();
        cancelled.cancel();
        QCOMPARE(test::waitFor(backend::probeHealth(http, silent.baseUrl(), ownPid, 5s, cancelled.token())),
                 Health::Unreachable);
    }

    void plainFailuresNeitherProbeNorLaunch_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("removeScript");
        QTest::addColumn<bool>("removeResources");
        QTest::addColumn<QString>("portText");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("removeDataFolder");

        QTest::newRow("script missing") << int(Stage::Development) << true << false << QString()
                                        << backend::scriptMissingMessage << false;
        QTest::newRow("script missing and bad port: the script wins")
            << int(Stage::Development) << true << false << "80" << backend::scriptMissingMessage << false;
        QTest::newRow("no resources") << int(Stage::Packaged) << false << true << QString()
                                      << backend::resourcesMissingMessage << false;
        QTest::newRow("interpreter missing")
            << int(Stage::Packaged) << false << false << QString() << backend::interpreterMissingMessage << false;
        QTest::newRow("port out of range")
            << int(Stage::Development) << false << false << "65536" << backend::portRangeMessage << false;
        QTest::newRow("no user data folder")
            << int(Stage::Packaged) << false << false << QString() << backend::dataFolderMissingMessage << true;
    }

    void plainFailuresNeitherProbeNorLaunch()
    {
        QFETCH(int, mode);
        QFETCH(bool, removeScript);
        QFETCH(bool, removeResources);
        QFETCH(QString, portText);
        QFETCH(QString, message);
        QFETCH(bool, removeDataFolder);

        // The interpreter-missing row stages no interpreter at all.
        Stage stage(Stage::Mode(mode),
                    mode == Stage::Development || removeDataFolder ? test::helperProgram("fake_backend") : QString());
        if (removeDataFolder)
            stage.bundle.applicationSupport.reset();
        if (removeScript)
            QFile::remove(stage.dir.filePath("project/scripts/run-app.sh"));
        if (removeResources)
            stage.bundle.resources.reset();
        if (!portText.isEmpty())
            stage.info.env.insert("VELMORA_DESKTOP_PORT", portText);
        test::LoopbackHttpServer server;
        QVERIFY(server.listen(stage.port));

        auto controller = stage.controller();
        QSignalSpy stopped(controller.get(), &BackendController::startingChanged);
        test::waitFor(controller->start());
        QCOMPARE(controller->error(), message);
        QVERIFY(!controller->starting());
        QCOMPARE(stopped.count(), 2);
        QVERIFY(controller->url().isEmpty());
        QVERIFY(controller->logURL().isEmpty());
        QVERIFY(server.requests().isEmpty());
        QCOMPARE(stage.launcher.launches, 0);
    }

    void foreignPortIsRefusedBeforeAnyLaunch_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("404") << 404 << QByteArray("not found");
        QTest::newRow("JSON array") << 200 << QByteArray("[]");
        QTest::newRow("app missing") << 200 << QByteArray("{\"ok\":true}");
        QTest::newRow("ok false") << 200
                                  << QByteArray("{\"app\":\"Velmora\",\"ok\":false,\"desktop_parent_pid\":\"777777\"}");
        QTest::newRow("pid as number") << 200 << healthBody("777777");
    }

    void foreignPortIsRefusedBeforeAnyLaunch()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);

        Stage stage(Stage::Packaged, test::helperProgram("fake_backend"));
        test::LoopbackHttpServer server;
        QVERIFY(server.listen(stage.port));
        server.setHandler([&](const QByteArray &, const QString &) { return test::HttpReply::json(body, status); });

        auto controller = stage.controller();
        test::waitFor(controller->start());
        QCOMPARE(controller->error(), backend::portInUseMessage(stage.port));
        QVERIFY(controller->error().contains(QString::number(stage.port)));
        QVERIFY(!controller->starting());
        QCOMPARE(server.requests().size(), 1);
        QCOMPARE(stage.launcher.launches, 0);
        QVERIFY(controller->logURL().isEmpty());
        QVERIFY(!QFileInfo::exists(stage.runtimeDirectory()));
    }

    void adoptsOwnBackendAndIgnoresRepeatedStarts()
    {
        Stage stage(Stage::Packaged, test::helperProgram("fake_backend"));
        test::LoopbackHttpServer server;
        QVERIFY(server.listen(stage.port));
        server.setHandler(
            [](const QByteArray &, const QString &) { return test::HttpReply::json(healthBody("\"777777\"")); });

        auto controller = stage.controller();
        QSignalSpy starting(controller.get(), &BackendController::startingChanged);
        QCoro::Task<> first = controller->start();
        QVERIFY(controller->starting());
        // While an attempt runs a second start changes nothing and sends no probe.
        QCoro::Task<> second = controller->start();
        test::waitFor(std::move(second));
        QCOMPARE(starting.count(), 1);
        test::waitFor(std::move(first));

        QCOMPARE(controller->url(), stage.baseUrl());
        QCOMPARE(controller->url().toString(), QString("http://127.0.0.1:%1").arg(stage.port));
        QVERIFY(controller->error().isEmpty());
        QVERIFY(!controller->starting());
        QCOMPARE(server.requests().size(), 1);
        QCOMPARE(stage.launcher.launches, 0);
        QVERIFY(controller->logURL().isEmpty());

        // Ready is final: another start does nothing, and stop() has no process to signal.
        test::waitFor(controller->start());
        QCOMPARE(server.requests().size(), 1);
        controller->stop();
        controller->stop();
        QCOMPARE(controller->url(), stage.baseUrl());
        QCOMPARE(starting.count(), 2);
    }

    void readyBackendThatEndsIsReportedAndCanStartAgain_data()
    {
        QTest::addColumn<bool>("killed"); // SIGKILL from outside, or an exit of its own
        QTest::newRow("exits by itself") << false;
        QTest::newRow("killed") << true;
    }

    void readyBackendThatEndsIsReportedAndCanStartAgain()
    {
        QFETCH(bool, killed);
        Stage stage(Stage::Packaged, test::helperProgram("fake_backend"));
        // Answers the probe that makes it ready, then leaves by itself.
        if (!killed)
            stage.info.env.insert("FAKE_BACKEND_EXIT_AFTER", "1");
        auto controller = stage.controller();
        QStringList changes;
        connect(controller.get(), &BackendController::urlChanged, this, [&] { changes << "url"; });
        connect(controller.get(), &BackendController::errorChanged, this, [&] { changes << "error"; });
        QSignalSpy ready(controller.get(), &BackendController::urlChanged);
        controller->start();
        QVERIFY(ready.wait(patience));
        const qint64 pid
            = QRegularExpression("fake_backend: pid (\\d+)").match(QString::fromUtf8(stage.log())).captured(1).toLongLong();
        QVERIFY(pid > 0);
        if (killed)
            ::kill(pid_t(pid), SIGKILL);

        QTRY_VERIFY_WITH_TIMEOUT(controller->url().isEmpty(), patience);
        const platform::ExitStatus status{killed, killed ? SIGKILL : 0};
        QCOMPARE(controller->error(), backend::backendLostMessage(status));
        QCOMPARE(controller->error(), killed ? QString("백엔드가 예기치 않게 종료되었습니다 (신호 9).")
                                             : QString("백엔드가 예기치 않게 종료되었습니다 (종료 코드 0)."));
        QVERIFY(controller->backendLost());
        QVERIFY(!controller->starting());
        // The page gives way to the failure screen directly: the error comes before the URL goes.
        QCOMPARE(changes, QStringList({"url", "error", "url"}));

        // Velmora's lines stand around the backend's own output, one pair per launch.
        const QByteArray log = stage.log();
        const QByteArray started = QString("=== Velmora 1.0: backend started ").toUtf8();
        const QByteArray who = QString(" (pid %1, port %2) ===\n").arg(pid).arg(stage.port).toUtf8();
        const qsizetype header = log.indexOf(started);
        QVERIFY2(header >= 0 && log.indexOf(who, header) > header, log.constData());
        QVERIFY(QRegularExpression("backend started \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ \\(pid")
                    .match(QString::fromUtf8(log))
                    .hasMatch());
        QVERIFY(log.indexOf("fake_backend: pid") > header);
        QVERIFY2(log.endsWith(killed ? "=== backend exited with signal 9 ===\n" : "=== backend exited with code 0 ===\n"),
                 log.constData());
        QCOMPARE(openHandlesTo(stage.logFile()), 0);

        // A new start brings it back, as after any failure.
        stage.info.env.remove("FAKE_BACKEND_EXIT_AFTER");
        controller->start();
        QVERIFY(controller->error().isEmpty());
        QVERIFY(!controller->backendLost());
        QTRY_COMPARE_WITH_TIMEOUT(controller->url(), stage.baseUrl(), patience);
        QCOMPARE(stage.launcher.launches, 2);
        QCOMPARE(stage.log().count(started), 2);
        controller->stop();
        QTRY_VERIFY_WITH_TIMEOUT(stage.log().count("fake_backend: stopped") >= 1, patience);
        // Velmora's own request: no exit line for a backend it asked to go.
        QVERIFY(!stage.log().endsWith("===\n"));
    }

    void adoptedBackendIsWatchedWhileReady_data()
    {
        QTest::addColumn<bool>("stopsListening"); // or goes on listening, answering errors
        QTest::newRow("still listening, though it answers errors: kept") << false;
        QTest::newRow("no longer listening: gone") << true;
    }

    void adoptedBackendIsWatchedWhileReady()
    {
        QFETCH(bool, stopsListening);
        Stage stage(Stage::Packaged, test::helperProgram("fake_backend"));
        test::LoopbackHttpServer server;
        QVERIFY(server.listen(stage.port));
        bool healthy = true;
        server.setHandler([&](const QByteArray &, const QString &) {
            return healthy ? test::HttpReply::json(healthBody("\"777777\"")) : test::HttpReply{500, "{}", {}, false};
        });
        auto controller = stage.controller(100, 5, 30ms, nullptr, 50ms);
        QSignalSpy lost(controller.get(), &BackendController::errorChanged);
        test::waitFor(controller->start());
        QCOMPARE(controller->url(), stage.baseUrl());
        const int requestsWhenReady = server.requests().size();

        healthy = false;
        if (stopsListening) {
            server.close();
            QVERIFY(lost.wait(patience));
            QVERIFY(controller->url().isEmpty());
            QVERIFY(controller->backendLost());
            QCOMPARE(controller->error(), QString("백엔드가 예기치 않게 종료되었습니다."));
        } else {
            // Watched through the socket table alone: nothing is asked of it, nothing is lost.
            QVERIFY(!lost.wait(500));
            QCOMPARE(controller->url(), stage.baseUrl());
            QCOMPARE(server.requests().size(), requestsWhenReady);
        }
        QCOMPARE(stage.launcher.launches, 0);
    }

    void adoptedBackendIsNeverAskedToTerminate()
    {
        // A backend this process launched earlier (its parent pid is ours) is still serving.
        Stage stage(Stage::Packaged, test::helperProgram("fake_backend"));
        QTemporaryDir elsewhere;
        const std::unique_ptr<platform::Process> running = launchEarlierBackend(stage, elsewhere, ownPid);
        QVERIFY(running);

        auto controller = stage.controller();
        test::waitFor(controller->start());
        QCOMPARE(controller->url(), stage.baseUrl());
        QCOMPARE(stage.launcher.launches, 0);
        // Quitting: stop() and then the controller going away.
        controller->stop();
        controller.reset();

        // Only the test's own request reaches it.
        running->requestTermination();
        QTRY_VERIFY_WITH_TIMEOUT(!running->isRunning(), patience);
        QCOMPARE(stage.signalsReceived(), QByteArray("SIGTERM\n"));
    }

    void controllerDeletedWhileWaitingForReadinessStopsItsBackendOnce()
    {
        Stage stage(Stage::Packaged, test::helperProgram("fake_backend"));
        stage.info.env.insert("FAKE_BACKEND_UNHEALTHY_PROBES", "1000000");
        auto controller = stage.controller(100000, 5, 20ms);
        controller->start();
        QTRY_VERIFY_WITH_TIMEOUT(stage.log().contains("fake_backend: listening"), patience);
        QVERIFY(controller->starting());
        controller.reset();
        QTRY_VERIFY_WITH_TIMEOUT(stage.log().contains("fake_backend: stopped"), patience);
        QCOMPARE(stage.signalsReceived(), QByteArray("SIGTERM\n"));
        QCOMPARE(stage.launcher.launches, 1);
    }

    void earlierInstanceThatLeavesIsReplaced()
    {
        Stage stage(Stage::Packaged, test::helperProgram("fake_backend"));
        test::LoopbackHttpServer earlier;
        QVERIFY(earlier.listen(stage.port));
        earlier.setHandler([&](const QByteArray &, const QString &) {
            // The earlier backend leaves the port after its third answer.
            if (earlier.requests().size() >= 3)
                earlier.close();
            return test::HttpReply::json(healthBody("\"1\""));
        });

        auto controller = stage.controller(100, 20);
        controller->start();
        QTRY_VERIFY_WITH_TIMEOUT(!controller->starting(), patience);
        QCOMPARE(controller->error(), QString());
        QCOMPARE(controller->url(), stage.baseUrl());
        QCOMPARE(earlier.requests().size(), 3);
        QCOMPARE(stage.launcher.launches, 1);
        controller->stop();
        QTRY_COMPARE_WITH_TIMEOUT(stage.signalsReceived(), QByteArray("SIGTERM\n"), patience);
    }

    void earlierBackendProcessThatExitsIsReplaced()
    {
        Stage stage(Stage::Packaged, test::helperProgram("fake_backend"));
        QTemporaryDir elsewhere;
        // Another application's backend, which leaves the port after its third answer.
        const std::unique_ptr<platform::Process> earlier = launchEarlierBackend(stage, elsewhere, 1,
                                                                                {{"FAKE_BACKEND_EXIT_AFTER", "3"}});
        QVERIFY(earlier);

        auto controller = stage.controller(100, 40);
        controller->start();
        QTRY_VERIFY_WITH_TIMEOUT(!controller->starting(), patience);
        QCOMPARE(controller->error(), QString());
        QCOMPARE(controller->url(), stage.baseUrl());
        QCOMPARE(stage.launcher.launches, 1);
        QTRY_VERIFY_WITH_TIMEOUT(!earlier->isRunning(), patience);
        QVERIFY(readFile(elsewhere.filePath("output.log")).contains("fake_backend: stopped"));
        QCOMPARE(stage.log().count("fake_backend: listening"), 1);
        controller->stop();
        QTRY_COMPARE_WITH_TIMEOUT(stage.signalsReceived(), QByteArray("SIGTERM\n"), patience);
    }

    void earlierInstanceThatStaysBlocksTheStart()
    {
        Stage stage(Stage::Packaged, test::helperProgram("fake_backend"));
        test::LoopbackHttpServer earlier;
        QVERIFY(earlier.listen(stage.port));
        earlier.setHandler([](const QByteArray &, const QString &) { return test::HttpReply::json(healthBody("\"1\"")); });

        auto controller = stage.controller(100, 4);
        controller->start();
        QTRY_VERIFY_WITH_TIMEOUT(!controller->starting(), patience);
        QCOMPARE(controller->error(), backend::earlierInstanceMessage);
        QCOMPARE(earlier.requests().size(), 1 + 4);
        QCOMPARE(stage.launcher.launches, 0);
        QVERIFY(controller->logURL().isEmpty());
        QVERIFY(!QFileInfo::exists(stage.runtimeDirectory()));
    }

    void controllerDeletedMidAttemptDoesNothingMore()
    {
        Stage stage(Stage::Packaged, test::helperProgram("fake_backend"));
        test::LoopbackHttpServer earlier;
        QVERIFY(earlier.listen(stage.port));
        auto controller = stage.controller(100, 3);
        earlier.setHandler([&](const QByteArray &, const QString &) {
            // Gone while its probe is on the way; after this the port is free.
            if (earlier.requests().size() == 2) {
                controller.reset();
                earlier.close();
            }
            return test::HttpReply::json(healthBody("\"1\""));
        });
        controller->start();
        QTRY_VERIFY_WITH_TIMEOUT(!controller, patience);
        // The attempt's last probe has been answered once a later one has.
        test::LoopbackHttpServer witness;
        QVERIFY(witness.listen());
        test::waitFor(backend::probeHealth(platform::HttpClient::shared(), witness.baseUrl(), ownPid, 5s));
        QCOMPARE(stage.launcher.launches, 0);
        QVERIFY(!QFileInfo::exists(stage.runtimeDirectory()));
    }

    void launchesServesAndStops_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("unhealthyProbes");
        QTest::newRow("packaged") << int(Stage::Packaged) << 0;
        QTest::newRow("development") << int(Stage::Development) << 0;
        QTest::newRow("packaged, ok false at first") << int(Stage::Packaged) << 3;
    }

    void launchesServesAndStops()
    {
        QFETCH(int, mode);
        QFETCH(int, unhealthyProbes);

        Stage stage(Stage::Mode(mode), test::helperProgram("fake_backend"));
        stage.info.env.insert("FAKE_BACKEND_UNHEALTHY_PROBES", QString::number(unhealthyProbes));
        QVERIFY(writeFile(stage.logFile(), "earlier run\n", false));

        for (int run = 1; run <= 2; ++run) {
            auto controller = stage.controller();
            QSignalSpy logURL(controller.get(), &BackendController::logURLChanged);
            controller->start();
            QTRY_VERIFY_WITH_TIMEOUT(!controller->starting(), patience);
            QCOMPARE(controller->error(), QString());
            QCOMPARE(controller->url(), stage.baseUrl());
            QCOMPARE(controller->logURL(), QUrl::fromLocalFile(stage.logFile()));
            QCOMPARE(logURL.count(), 1);
            QCOMPARE(stage.launcher.launches, run);

            const QByteArray log = stage.log();
            QVERIFY2(log.startsWith("earlier run\n"), log.constData());
            QCOMPARE(log.count("fake_backend: listening"), run);
            QVERIFY(log.contains("fake_backend: cwd=" + stage.runtimeDirectory().toLocal8Bit() + "\n"));
            QVERIFY(log.contains(QString("fake_backend: host=127.0.0.1 port=%1\n").arg(stage.port).toLocal8Bit()));
            if (mode == Stage::Packaged) {
                QVERIFY(log.contains(QString("fake_backend: args=-m uvicorn src.main:app --loop asyncio --http h11 "
                                             "--ws none --host 127.0.0.1 --port %1 --workers 1\n")
                                         .arg(stage.port)
                                         .toLocal8Bit()));
            } else {
                QCOMPARE(log.count("run-app.sh: starting"), run);
            }

            // The log stays open while the backend runs, and closes with stop(). One
            // termination request, however often stop() is called.
            QCOMPARE(openHandlesTo(stage.logFile()), 1);
            controller->stop();
            QCOMPARE(openHandlesTo(stage.logFile()), 0);
            controller->stop();
            QTRY_VERIFY_WITH_TIMEOUT(stage.log().count("fake_backend: stopped") == run, patience);
            QCOMPARE(stage.signalsReceived(), QByteArray("SIGTERM\n").repeated(run));
            QCOMPARE(controller->url(), stage.baseUrl());
        }
    }

    void probesAsSoonAsTheBackendListens()
    {
        // The pause between probes is far longer than the test's patience: only the port
        // beginning to accept connections can bring the next probe forward.
        Stage stage(Stage::Packaged, test::helperProgram("fake_backend"));
        const QString listenNow = stage.dir.filePath("listen-now");
        stage.info.env.insert("FAKE_BACKEND_LISTEN_WHEN", listenNow);
        CountingHttpClient http;
        auto controller = stage.controller(3, 5, 10min, &http);
        QSignalSpy launched(controller.get(), &BackendController::launched);
        platform::detach(controller->start());

        // The probe before the launch and the first readiness probe both find nothing.
        QTRY_VERIFY2_WITH_TIMEOUT(http.answered == 2 && stage.log().contains("fake_backend: waiting to listen"),
                                  "the backend was not launched and probed", patience);
        QVERIFY(controller->url().isEmpty());
        QVERIFY(controller->starting());
        QCOMPARE(launched.count(), 1);
        QCOMPARE(launched.at(0).at(0).toUrl(), stage.baseUrl());

        writeFile(listenNow, "");
        QTRY_COMPARE_WITH_TIMEOUT(controller->url(), stage.baseUrl(), patience);
        QCOMPARE(http.sent, 3);
        QVERIFY(controller->error().isEmpty());
        controller->stop();
        QTRY_VERIFY_WITH_TIMEOUT(stage.log().contains("fake_backend: stopped"), patience);
    }

    void listeningShortensOnePauseOnly()
    {
        // A backend that listens but never answers as healthy: once listening, the next probe
        // comes at once, and after it the cadence is the pauses' again.
        Stage stage(Stage::Packaged, test::helperProgram("fake_backend"));
        stage.info.env.insert("FAKE_BACKEND_UNHEALTHY_PROBES", "1000000");
        CountingHttpClient http;
        auto controller = stage.controller(4, 5, 10min, &http);
        platform::detach(controller->start());

        QTRY_VERIFY2_WITH_TIMEOUT(http.answered == 3, "the listening backend was not probed again", patience);
        controller->cancelStart();
        QTRY_VERIFY_WITH_TIMEOUT(!controller->starting(), patience);
        // A wake-up that had ended every pause would have used up the four cycles instead.
        QCOMPARE(controller->error(), backend::startCancelledMessage);
        QCOMPARE(http.sent, 3);
        QTRY_VERIFY_WITH_TIMEOUT(stage.log().contains("fake_backend: stopped"), patience);
    }

    void backendThatExitsAtOnce_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("packaged") << int(Stage::Packaged);
        QTest::newRow("development") << int(Stage::Development);
    }

    void backendThatExitsAtOnce()
    {
        QFETCH(int, mode);
        Stage stage(Stage::Mode(mode), test::helperProgram("exit_at_once"));
        auto controller = stage.controller();
        controller->start();
        QTRY_VERIFY_WITH_TIMEOUT(!controller->starting(), patience);
        QCOMPARE(controller->error(), backend::backendExitedMessage);
        QVERIFY(controller->url().isEmpty());
        QCOMPARE(controller->logURL(), QUrl::fromLocalFile(stage.logFile()));
        QVERIFY(stage.log().contains("exit_at_once: starting\n"));
        QVERIFY(stage.log().contains("ModuleNotFoundError"));

        // A retry clears the error at once and keeps the log offered.
        controller->start();
        QVERIFY(controller->starting());
        QVERIFY(controller->error().isEmpty());
        QCOMPARE(controller->logURL(), QUrl::fromLocalFile(stage.logFile()));
        QTRY_VERIFY_WITH_TIMEOUT(!controller->starting(), patience);
        QCOMPARE(controller->error(), backend::backendExitedMessage);
        QCOMPARE(stage.log().count("exit_at_once: starting\n"), 2);
    }

    void backendThatExitsDuringAPauseIsReportedAtOnce()
    {
        // The pause between probes is far longer than the test waits: only the backend's end
        // itself can cut it short.
        Stage stage(Stage::Development, "/bin/sh", {"-c", "sleep 0.3"});
        auto controller = stage.controller(100, 5, std::chrono::minutes(10));
        controller->start();
        QTRY_VERIFY_WITH_TIMEOUT(!controller->starting(), patience);
        QCOMPARE(controller->error(), backend::backendExitedMessage);
    }

    void backendThatNeverAnswersIsStopped_data()
    {
        QTest::addColumn<bool>("nonJsonServerOnPort");
        QTest::newRow("silent port") << false;
        QTest::newRow("port answered with a body that is not JSON") << true;
    }

    void backendThatNeverAnswersIsStopped()
    {
        QFETCH(bool, nonJsonServerOnPort);

        // run_until_signal records each termination request in its first argument's file.
        Stage stage(Stage::Development, test::helperProgram("run_until_signal"), {"%SIGNALS%"});
        test::LoopbackHttpServer server;
        if (nonJsonServerOnPort) {
            QVERIFY(server.listen(stage.port));
            server.setHandler([](const QByteArray &, const QString &) { return test::HttpReply{200, "hello", {}, false}; });
        }

        // Long enough for the child to install its signal handler before it is asked to go.
        auto controller = stage.controller(8, 5, 150ms);
        controller->start();
        QTRY_VERIFY_WITH_TIMEOUT(!controller->starting(), patience);
        QCOMPARE(controller->error(), backend::backendNotReadyMessage);
        QCOMPARE(stage.launcher.launches, 1);
        if (nonJsonServerOnPort)
            QCOMPARE(server.requests().size(), 1 + 8);
        QTRY_COMPARE_WITH_TIMEOUT(stage.signalsReceived(), QByteArray("SIGTERM\n"), patience);
        QVERIFY(stage.log().contains("run_until_signal: pid"));
        controller->stop();
        QCOMPARE(controller->logURL(), QUrl::fromLocalFile(stage.logFile()));
    }

    void cancelledReadinessStopsTheBackend_data()
    {
        QTest::addColumn<bool>("byTheCaller");
        QTest::newRow("the caller's token") << true;
        // An attempt that nobody could cancel (a retry, an activation), ended at termination.
        QTest::newRow("cancelStart") << false;
    }

    void cancelledReadinessStopsTheBackend()
    {
        QFETCH(bool, byTheCaller);
        Stage stage(Stage::Development, test::helperProgram("run_until_signal"), {"%SIGNALS%"});
        auto controller = stage.controller(100000, 5, 50ms);
        auto handle = platform::TaskHandle::make();
        controller->start(byTheCaller ? handle.token() : platform::CancelToken());
        // Once it printed its line its signal handler is in place.
        QTRY_VERIFY_WITH_TIMEOUT(stage.log().contains("run_until_signal: pid"), patience);
        QVERIFY(controller->starting());
        if (byTheCaller)
            handle.cancel();
        else
            controller->cancelStart();
        QTRY_VERIFY_WITH_TIMEOUT(!controller->starting(), patience);
        QCOMPARE(controller->error(), backend::startCancelledMessage);
        QTRY_COMPARE_WITH_TIMEOUT(stage.signalsReceived(), QByteArray("SIGTERM\n"), patience);
    }

    void cancelledAttemptCreatesAndLaunchesNothing_data()
    {
        QTest::addColumn<bool>("earlierInstance"); // another Velmora's backend answers on the port
        QTest::addColumn<int>("cancelAtRequest");  // 0: before start() is called
        QTest::addColumn<bool>("holdThatRequest"); // the cancellation finds that probe in flight

        QTest::newRow("before the start, port free") << false << 0 << false;
        QTest::newRow("before the start, earlier instance on the port") << true << 0 << false;
        QTest::newRow("during the first probe") << true << 1 << true;
        QTest::newRow("once the earlier instance answered") << true << 1 << false;
        QTest::newRow("during a later probe of the wait for the port") << true << 3 << true;
    }

    void cancelledAttemptCreatesAndLaunchesNothing()
    {
        QFETCH(bool, earlierInstance);
        QFETCH(int, cancelAtRequest);
        QFETCH(bool, holdThatRequest);

        Stage stage(Stage::Packaged, test::helperProgram("fake_backend"));
        auto handle = platform::TaskHandle::make();
        test::LoopbackHttpServer earlier;
        if (earlierInstance) {
            QVERIFY(earlier.listen(stage.port));
            earlier.setHandler([&](const QByteArray &, const QString &) {
                if (earlier.requests().size() == cancelAtRequest) {
                    if (holdThatRequest) {
                        handle.cancel();
                        return test::HttpReply{200, {}, {}, true};
                    }
                    QTimer::singleShot(0, [&handle] { handle.cancel(); });
                }
                return test::HttpReply::json(healthBody("\"1\""));
            });
        }
        if (cancelAtRequest == 0)
            handle.cancel();

        // Enough cycles that only the cancellation can end the wait in time.
        auto controller = stage.controller(100, 1000);
        QSignalSpy starting(controller.get(), &BackendController::startingChanged);
        controller->start(handle.token());
        QTRY_VERIFY_WITH_TIMEOUT(!controller->starting(), patience);
        QCOMPARE(controller->error(), backend::startCancelledMessage);
        QCOMPARE(starting.count(), 2);
        QCOMPARE(stage.launcher.launches, 0);
        QVERIFY(controller->url().isEmpty());
        QVERIFY(controller->logURL().isEmpty());
        QVERIFY(!QFileInfo::exists(stage.runtimeDirectory()));
        // No probe after the cancellation.
        test::drainEvents();
        QCOMPARE(earlier.requests().size(), cancelAtRequest);
    }

    void launchPreparationFailures()
    {
        // The log folder cannot be made: the platform's error, nothing launched, no log offered.
        {
            Stage stage(Stage::Packaged, test::helperProgram("fake_backend"));
            QVERIFY(writeFile(stage.dir.filePath("support"), "a file, not a folder", false));
            auto controller = stage.controller();
            test::waitFor(controller->start());
            QTRY_VERIFY_WITH_TIMEOUT(!controller->starting(), patience);
            QCOMPARE(controller->error(), QString::fromLocal8Bit(std::strerror(ENOTDIR)));
            QCOMPARE(stage.launcher.launches, 0);
            QVERIFY(controller->logURL().isEmpty());
        }
        // The interpreter cannot be executed: the platform's error, the log offered.
        {
            Stage stage(Stage::Packaged, QString());
            QVERIFY(writeFile(stage.dir.filePath("Resources/python/bin/python3.12"), "not a program\n", true));
            auto controller = stage.controller();
            test::waitFor(controller->start());
            QTRY_VERIFY_WITH_TIMEOUT(!controller->starting(), patience);
            QCOMPARE(controller->error(), QString::fromLocal8Bit(std::strerror(ENOEXEC)));
            QCOMPARE(stage.launcher.launches, 1);
            QCOMPARE(controller->logURL(), QUrl::fromLocalFile(stage.logFile()));
        }
    }

    // A backend launched before the controller (at the application's start) is taken over by
    // the next start() as its own launch: no probe or launch of its own, the same log, and
    // from then on every rule of a launch (readiness, exit, cancellation, one request).
    void takesOverALaunchMadeBeforeIt_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("cancelled"); // the start's token is cancelled from the outset
        QTest::addColumn<QString>("error");  // the start's outcome; empty: ready
        QTest::newRow("ready") << "fake_backend" << false << QString();
        QTest::newRow("exited before it was taken over") << "exit_at_once" << false << backend::backendExitedMessage;
        QTest::newRow("start cancelled") << "fake_backend" << true << backend::startCancelledMessage;
    }

    void takesOverALaunchMadeBeforeIt()
    {
        QFETCH(QString, program);
        QFETCH(bool, cancelled);
        QFETCH(QString, error);
        Stage stage(Stage::Packaged, test::helperProgram(program));
        backend::BackendLaunch early = launchBeforeTheController(stage);
        QVERIFY2(early.ok(), qPrintable(early.error));
        const qint64 pid = early.process->pid();
        // Up with its handlers, so that it records the request it gets.
        if (program == QLatin1String("exit_at_once"))
            QTRY_VERIFY_WITH_TIMEOUT(stage.log().contains("exit_at_once: starting\n"), patience);
        else
            QTRY_VERIFY_WITH_TIMEOUT(stage.log().contains("fake_backend: listening"), patience);

        CountingHttpClient http;
        auto controller = stage.controller(100, 5, 30ms, &http);
        QSignalSpy launched(controller.get(), &BackendController::launched);
        controller->takeOverLaunch(std::move(early));
        QVERIFY(controller->holdsEarlyLaunch());
        auto handle = platform::TaskHandle::make();
        if (cancelled)
            handle.cancel();
        controller->start(handle.token());
        QTRY_VERIFY_WITH_TIMEOUT(!controller->starting(), patience);
        QVERIFY(!controller->holdsEarlyLaunch());
        QCOMPARE(controller->error(), error);
        QCOMPARE(stage.launcher.launches, 0);
        QCOMPARE(launched.count(), 1);
        QCOMPARE(launched.first().first().toUrl(), stage.baseUrl());
        QCOMPARE(controller->logURL(), QUrl::fromLocalFile(stage.logFile()));
        QCOMPARE(stage.log().count("=== Velmora 1.0: backend started "), 1);
        QVERIFY(stage.log().contains(QString("(pid %1, port %2) ===").arg(pid).arg(stage.port).toLocal8Bit()));

        if (error.isEmpty()) {
            QCOMPARE(controller->url(), stage.baseUrl());
            controller->stop();
        } else if (error == backend::backendExitedMessage) {
            QVERIFY(stage.log().contains("=== backend exited with code "));
            // Nothing was asked of a backend that was never there.
            QCOMPARE(http.sent, 0);
        }
        if (program == QLatin1String("fake_backend")) {
            QTRY_COMPARE_WITH_TIMEOUT(stage.signalsReceived(), QByteArray("SIGTERM\n"), patience);
            QTRY_VERIFY_WITH_TIMEOUT(stage.log().contains("fake_backend: stopped"), patience);
            QCOMPARE(stage.signalsReceived(), QByteArray("SIGTERM\n"));
        }
    }

    // A launch held for start() that never comes is the controller's all the same: stop()
    // asks it to go, once.
    void aLaunchNotTakenOverIsStoppedOnce()
    {
        Stage stage(Stage::Packaged, test::helperProgram("fake_backend"));
        backend::BackendLaunch early = launchBeforeTheController(stage);
        QVERIFY2(early.ok(), qPrintable(early.error));
        auto controller = stage.controller();
        controller->takeOverLaunch(std::move(early));
        QTRY_VERIFY_WITH_TIMEOUT(stage.log().contains("fake_backend: listening"), patience);
        controller->stop();
        controller->stop();
        QVERIFY(!controller->holdsEarlyLaunch());
        QTRY_VERIFY_WITH_TIMEOUT(stage.log().contains("fake_backend: stopped"), patience);
        QCOMPARE(stage.signalsReceived(), QByteArray("SIGTERM\n"));
        QCOMPARE(stage.launcher.launches, 0);
    }

    // A launch for another address than the start resolves (the port changed meanwhile) is
    // not this start's: it is asked to go, and the start goes its usual way.
    void aLaunchForAnotherPortIsStoppedAndReplaced()
    {
        Stage stage(Stage::Packaged, test::helperProgram("fake_backend"));
        const test::ReservedPort other;
        backend::BackendLaunch early = launchBeforeTheController(stage, other.number());
        QVERIFY2(early.ok(), qPrintable(early.error));
        QTRY_VERIFY_WITH_TIMEOUT(stage.log().contains("fake_backend: listening"), patience);
        auto controller = stage.controller();
        controller->takeOverLaunch(std::move(early));
        controller->start();
        QTRY_VERIFY_WITH_TIMEOUT(!controller->starting(), patience);
        QCOMPARE(controller->error(), QString());
        QCOMPARE(controller->url(), stage.baseUrl());
        QCOMPARE(stage.launcher.launches, 1);
        QTRY_COMPARE_WITH_TIMEOUT(stage.signalsReceived(), QByteArray("SIGTERM\n"), patience);
        QVERIFY(stage.log().contains(QString("fake_backend: host=127.0.0.1 port=%1\n").arg(other.number()).toLocal8Bit()));
        controller->stop();
        QTRY_COMPARE_WITH_TIMEOUT(stage.signalsReceived(), QByteArray("SIGTERM\nSIGTERM\n"), patience);
    }
};

QTEST_GUILESS_MAIN(TestBackendController)
#include "tst_backendcontroller.moc"
