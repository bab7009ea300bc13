// Runs the real velmora binary in development mode: it starts the reference backend of this
// source tree through scripts/run-app.sh, shows its page and must take the backend down with
// it however it ends. The project folder velmora is given is a staged one whose script and
// backend lead to the source tree's, so the backend's log is this test's own.

#include "RunningBackend.h"
#include "TestSupport.h"
#include "VirtualDisplay.h"

#include "platform/HttpClient.h"

#include <QCoro/QCoroTask>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <functional>
#include <optional>

using namespace velmora;
using namespace velmora::test;
using namespace std::chrono_literals;

namespace {

// A cold start of the engine and Python on a busy machine takes longer than most waits.
constexpr int startPatience = 6 * test::patience;
constexpr int stopPatience = 3 * test::patience / 2;

QString velmoraBinary()
{
    return QStringLiteral(VELMORA_TEST_BIN_DIR "/../../bin/velmora");
}

// How many backends announced themselves on port in the log.
int backendStarts(const QString &logPath, quint16 port)
{
    const QRegularExpression line(QStringLiteral("Velmora backend pid \\d+ on port %1 ").arg(port));
    return int(QString::fromUtf8(test::readFile(logPath)).count(line));
}

// Whether the backend that started last on port has served the page (the log is shared by
// every test of this run).
bool pageServed(const QString &logPath, quint16 port)
{
    const QByteArray log = test::readFile(logPath);
    const qsizetype start = log.lastIndexOf("on port " + QByteArray::number(port) + ' ');
    return start >= 0 && log.indexOf("\"GET / HTTP/1.1\" 200", start) >= 0;
}

// The reference backend's debug toggle: it reports work in progress from now on.
bool markBusy(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(test::patience))
        return false;
    const QByteArray body = "{\"busy\": true}";
    socket.write("POST /api/debug/busy HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                 "Connection: close\r\nContent-Length: "
                 + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    QByteArray reply;
    while (socket.waitForReadyRead(test::patience))
        reply += socket.readAll();
    return reply.startsWith("HTTP/1.1 200");
}

// waitForFinished() answers false for a process that has already ended.
bool ended(QProcess &process, int patience)
{
    return QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, patience);
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

    // Held from before velmora starts until the next start, so no one else takes the port.
    std::unique_ptr<test::ReservedPort> m_reservedPort;
    quint16 m_port = 0;
    std::unique_ptr<QProcess> m_velmora;
    // The web view's storage and cache go here rather than into the user's folders.
    QTemporaryDir m_home;
    // The project folder velmora runs its backend from: scripts/run-app.sh and backend/ lead to
    // the source tree's, logs/ is this test's own.
    QTemporaryDir m_project;
    // A project whose backend is fake_backend (FAKE_BACKEND_* of the test's environment apply):
    // one that records every termination request and stays up until SIGINT.
    QTemporaryDir m_standInProject;
    QTemporaryDir *m_runningProject = &m_project;
    QString m_signalFile;

    QString backendLogPath() const { return m_runningProject->filePath(QStringLiteral("logs/desktop.log")); }
    qint64 backendPid(quint16 port) const { return test::backendPid(backendLogPath(), port); }
    // The stand-in backend that started last in the running project's log; 0 when none did.
    qint64 standInPid() const
    {
        if (m_runningProject != &m_standInProject)
            return 0;
        static const QRegularExpression line(QStringLiteral("fake_backend: pid (\\d+)"));
        qint64 pid = 0;
        for (auto match = line.globalMatch(QString::fromUtf8(test::readFile(backendLogPath()))); match.hasNext();)
            pid = match.next().captured(1).toLongLong();
        return pid;
    }

    // velmora's environment: its user folders in m_home, its backend on port (portText), on
    // display when given (else offscreen). The backend's parent watch is off: it does not
    // stop by itself when velmora is gone; velmora's own SIGTERM stops it, or its watch's
    // once velmora has died.
    QProcessEnvironment environmentFor(const QString &portText, const QByteArray &display = {}) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("VELMORA_DESKTOP_PORT"), portText);
        environment.insert(QStringLiteral("VELMORA_BACKEND_WATCH_PARENT"), QStringLiteral("0"));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data")));
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), m_home.filePath(QStringLiteral("cache")));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        // The single instance is per user: this test's velmora must not meet another test's.
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.filePath(QStringLiteral("runtime")));
        environment.insert(QStringLiteral("VELMORA_DEVELOPMENT_PROJECT_ROOT"), m_runningProject->path());
        if (!display.isEmpty()) {
            environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        }
        return environment;
    }

    void startVelmora(const QStringList &arguments, const QString &portText = {}, const QByteArray &display = {},
                      const QProcessEnvironment &extra = {})
    {
        m_reservedPort = std::make_unique<test::ReservedPort>();
        m_port = m_reservedPort->number();
        m_velmora = std::make_unique<QProcess>();
        QProcessEnvironment environment = environmentFor(portText.isEmpty() ? QString::number(m_port) : portText, display);
        for (const QString &name : extra.keys())
            environment.insert(name, extra.value(name));
        m_velmora->setProcessEnvironment(environment);
        m_velmora->setProcessChannelMode(environment.contains(QStringLiteral("VELMORA_TRACE_STARTUP"))
                                             ? QProcess::SeparateChannels
                                             : QProcess::ForwardedErrorChannel);
        m_velmora->start(velmoraBinary(), arguments);
    }

    // Waits at most startPatience for condition while velmora runs; gives up at once, saying how
    // velmora ended, when it ends first. (The QTRY macros take three bounds to report a
    // failure: with a bound this long, more than a test function may run.)
    bool soonWhileVelmoraRuns(const std::function<bool()> &condition) const
    {
        const auto gone = [this] { return m_velmora->state() == QProcess::NotRunning; };
        if (QTest::qWaitFor([&] { return condition() || gone(); }, startPatience) && condition())
            return true;
        if (gone())
            qWarning("velmora ended first: exit status %d, code %d", int(m_velmora->exitStatus()), m_velmora->exitCode());
        return false;
    }

    // The backend on m_port is velmora's own: velmora started it.
    bool backendStartedByVelmora() const
    {
        const QString pid = QString::number(m_velmora->processId());
        return soonWhileVelmoraRuns([&] { return backendParent(m_port) == pid; });
    }

    // The stand-in backend has served velmora its page.
    bool standInPageRequested() const
    {
        return soonWhileVelmoraRuns(
            [this] { return test::readFile(backendLogPath()).contains("fake_backend: page requested"); });
    }

    // Adds what velmora has written to its standard error since the last look to trace and
    // answers whether its startup trace has marked event by now (VELMORA_TRACE_STARTUP=1).
    bool traced(QString &trace, const char *event) const
    {
        trace += QString::fromUtf8(m_velmora->readAllStandardError());
        return trace.contains(QStringLiteral("velmora-trace %1 ").arg(QLatin1String(event)));
    }

#ifdef VELMORA_HAVE_XCB
    // velmora's main window on display, once it is there.
    std::optional<quint32> velmoraWindow(const QByteArray &display) const
    {
        const qint64 pid = m_velmora->processId();
        std::optional<quint32> window;
        soonWhileVelmoraRuns(
            [&] { return (window = test::findWindow(display, QStringLiteral("Velmora"), pid, "velmora")).has_value(); });
        return window;
    }
#endif

    // With its parent watch off, nothing but a termination request stops the backend.
    void verifyStoppedByVelmora()
    {
        const qint64 backend = backendPid(m_port);
        QVERIFY(backend > 0);
        QTRY_VERIFY_WITH_TIMEOUT(processGone(backend), stopPatience);
        QVERIFY(!portAccepts(m_port));
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(velmoraBinary()), "build the velmora target first");
        QVERIFY(QDir().mkpath(m_project.filePath(QStringLiteral("scripts"))));
        QVERIFY(QFile::link(QStringLiteral(VELMORA_SOURCE_DIR "/scripts/run-app.sh"),
                            m_project.filePath(QStringLiteral("scripts/run-app.sh"))));
        QVERIFY(QFile::link(QStringLiteral(VELMORA_SOURCE_DIR "/backend"), m_project.filePath(QStringLiteral("backend"))));
        // A runtime folder as the session provides it: the user's alone.
        QVERIFY(QDir().mkpath(m_home.filePath(QStringLiteral("runtime"))));
        QVERIFY(QFile::setPermissions(m_home.filePath(QStringLiteral("runtime")),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(test::writeFile(m_standInProject.filePath(QStringLiteral("scripts/run-app.sh")),
                                "exec '" + test::helperProgram("fake_backend").toLocal8Bit() + "'\n", false));
    }

    void cleanup()
    {
        if (m_velmora && m_velmora->state() != QProcess::NotRunning) {
            m_velmora->terminate();
            m_velmora->waitForFinished(stopPatience);
        }
        m_velmora.reset();
        // A failed check must not leave a backend behind that nothing would stop.
        if (const qint64 backend = m_port ? backendPid(m_port) : 0; backend > 0 && !processGone(backend))
            ::kill(pid_t(backend), SIGKILL);
        if (const qint64 standIn = standInPid(); standIn > 0 && !processGone(standIn))
            ::kill(pid_t(standIn), SIGKILL);
        m_port = 0;
        m_runningProject = &m_project;
    }

    // Exactly one termination request reaches the backend however velmora ends, and velmora
    // never waits for the backend to go. The stand-in stays up after a request, recording each
    // one, until the test lets it go: every request velmora, the backend's watch or the kernel sends is
    // counted, also those that would come after velmora is gone.
    void theBackendIsAskedToTerminateExactlyOnce_data()
    {
        QTest::addColumn<QString>("state"); // the backend's state when velmora ends: ready, starting, failed
        QTest::addColumn<QString>("end");   // SIGTERM, SIGINT, SIGKILL, or quit (velmora's own)
        QTest::newRow("ready, SIGTERM") << "ready"
                                        << "SIGTERM";
        QTest::newRow("ready, SIGINT") << "ready"
                                       << "SIGINT";
        QTest::newRow("ready, velmora's own quit") << "ready"
                                                   << "quit";
        QTest::newRow("ready, SIGKILL") << "ready"
                                        << "SIGKILL";
        QTest::newRow("still starting, SIGTERM") << "starting"
                                                 << "SIGTERM";
        QTest::newRow("never ready (asked at the failure), then SIGTERM") << "failed"
                                                                          << "SIGTERM";
    }

    void theBackendIsAskedToTerminateExactlyOnce()
    {
        QFETCH(QString, state);
        QFETCH(QString, end);
        QTemporaryDir dir;
        QProcessEnvironment extra;
        m_signalFile = dir.filePath(QStringLiteral("signals"));
        extra.insert(QStringLiteral("FAKE_BACKEND_SIGNAL_FILE"), m_signalFile);
        extra.insert(QStringLiteral("FAKE_BACKEND_KEEP_RUNNING"), QStringLiteral("1"));
        if (state != QLatin1String("ready"))
            extra.insert(QStringLiteral("FAKE_BACKEND_UNHEALTHY_PROBES"), QStringLiteral("1000000"));
        QStringList arguments;
        // Velmora's own quit, as the menu's: it quits by itself once the page is shown.
        if (end == QLatin1String("quit"))
            arguments << QStringLiteral("--screenshot") << dir.filePath(QStringLiteral("shot.png"));
        m_runningProject = &m_standInProject;
        // The stand-in's pid is read from the log: this row's alone.
        QFile::remove(backendLogPath());
        startVelmora(arguments, {}, {}, extra);
        QVERIFY(m_velmora->waitForStarted(startPatience));
        QVERIFY2(soonWhileVelmoraRuns([&] { return standInPid() > 0; }) || end == QLatin1String("quit"),
                 "velmora launched no backend");
        const qint64 backend = standInPid();
        QVERIFY(backend > 0);
        // It holds standard input, output and error of velmora's, nothing else.
        QVERIFY2(test::readFile(backendLogPath()).contains("fake_backend: fds 0 1 2\n"),
                 test::readFile(backendLogPath()).constData());

        if (state == QLatin1String("ready") && end != QLatin1String("quit"))
            QVERIFY2(backendStartedByVelmora(), "the backend did not become ready");
        if (state == QLatin1String("starting"))
            QVERIFY2(
                soonWhileVelmoraRuns([&] { return test::readFile(backendLogPath()).contains("fake_backend: listening"); }),
                "the backend did not start listening");
        if (state == QLatin1String("failed")) {
            // 60 probes answered "ok": false, then the failure and its one request.
            QVERIFY2(soonWhileVelmoraRuns([&] { return test::readFile(m_signalFile) == "SIGTERM\n"; }),
                     "the failed start did not ask the backend to go");
            QCOMPARE(m_velmora->state(), QProcess::Running);
        }

        if (end == QLatin1String("SIGTERM"))
            ::kill(pid_t(m_velmora->processId()), SIGTERM);
        else if (end == QLatin1String("SIGINT"))
            ::kill(pid_t(m_velmora->processId()), SIGINT);
        else if (end == QLatin1String("SIGKILL"))
            ::kill(pid_t(m_velmora->processId()), SIGKILL);
        // Velmora ends while its backend is still there: it did not wait for it.
        QVERIFY(ended(*m_velmora, stopPatience));
        QVERIFY(!processGone(backend));
        if (end != QLatin1String("SIGKILL")) {
            QCOMPARE(m_velmora->exitStatus(), QProcess::NormalExit);
            QCOMPARE(m_velmora->exitCode(), 0);
        }
        QTRY_COMPARE_WITH_TIMEOUT(test::readFile(m_signalFile), QByteArray("SIGTERM\n"), stopPatience);
        // Every thread of velmora is gone, and its watch has done its work: whatever else was
        // sent has arrived. SIGINT lets the stand-in record what is pending and go.
        ::kill(pid_t(backend), SIGINT);
        QTRY_VERIFY_WITH_TIMEOUT(processGone(backend), stopPatience);
        QCOMPARE(test::readFile(m_signalFile), QByteArray("SIGTERM\n"));
    }

    // A backend killed while its page is shown: velmora stays, says so in the log within a
    // moment, and (its window hidden by the close guard) shows nothing by itself; a second
    // launch brings the window back.
    void aBackendThatDiesAfterItsPageIsShownIsNoticed_data()
    {
        QTest::addColumn<bool>("hidden");
        QTest::newRow("window shown") << false;
        QTest::newRow("window hidden") << true;
    }

    void aBackendThatDiesAfterItsPageIsShownIsNoticed()
    {
        QFETCH(bool, hidden);
#ifndef VELMORA_HAVE_XCB
        QSKIP("built without X11 support");
#else
        test::VirtualDisplay x11(false);
        QVERIFY2(x11.isRunning(), "Xvfb could not be started");
        const auto endVelmora = qScopeGuard([this] { cleanup(); });
        m_runningProject = &m_standInProject;
        QFile::remove(backendLogPath());
        QProcessEnvironment extra;
        // Busy: the close guard keeps velmora and hides its window.
        extra.insert(QStringLiteral("FAKE_BACKEND_BUSY"), QStringLiteral("1"));
        startVelmora({}, {}, x11.name(), extra);
        QVERIFY(m_velmora->waitForStarted(startPatience));
        QVERIFY2(backendStartedByVelmora(), "velmora's backend did not come up");
        // By the page's request the window holds its web view (which makes it anew on X11).
        QVERIFY2(standInPageRequested(), "velmora asked for no page");
        const std::optional<quint32> window = velmoraWindow(x11.name());
        QVERIFY2(window, "velmora made no window");
        QVERIFY2(soonWhileVelmoraRuns([&] { return test::isMapped(x11.name(), *window); }),
                 "velmora's window was not shown");
        if (hidden) {
            QVERIFY(test::sendCloseRequest(x11.name(), *window));
            QTRY_VERIFY_WITH_TIMEOUT(!test::isMapped(x11.name(), *window), stopPatience);
        }

        const qint64 backend = standInPid();
        QVERIFY(backend > 0);
        ::kill(pid_t(backend), SIGKILL);
        QVERIFY2(soonWhileVelmoraRuns(
                     [&] { return test::readFile(backendLogPath()).endsWith("=== backend exited with signal 9 ===\n"); }),
                 test::readFile(backendLogPath()).constData());
        QCOMPARE(m_velmora->state(), QProcess::Running);
        QCOMPARE(test::isMapped(x11.name(), *window), !hidden);

        if (hidden) {
            QProcess second;
            second.setProcessEnvironment(environmentFor(QString::number(m_port), x11.name()));
            second.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            second.start(velmoraBinary(), {});
            QVERIFY(second.waitForStarted(startPatience));
            QVERIFY(ended(second, startPatience));
            QTRY_VERIFY_WITH_TIMEOUT(test::isMapped(x11.name(), *window), stopPatience);
        }
        // Nothing was started again by itself: that is the user's choice on the failure screen.
        QCOMPARE(test::readFile(backendLogPath()).count("=== Velmora "), 1);
#endif
    }

    // No blank page between the progress screen and the page: the workspace becomes the
    // screen once its page has loaded.
    void theWorkspaceIsShownOnceItsPageHasLoaded()
    {
        QTemporaryDir dir;
        QProcessEnvironment extra;
        extra.insert(QStringLiteral("VELMORA_TRACE_STARTUP"), QStringLiteral("1"));
        startVelmora({QStringLiteral("--screenshot"), dir.filePath(QStringLiteral("velmora.png"))}, {}, {}, extra);
        QVERIFY(m_velmora->waitForStarted(startPatience));
        QVERIFY(ended(*m_velmora, startPatience));
        QCOMPARE(m_velmora->exitCode(), 0);
        const QString trace = QString::fromUtf8(m_velmora->readAllStandardError());
        const auto at = [&trace](const QString &event) {
            const QRegularExpression line(QStringLiteral("^velmora-trace %1 ([0-9.]+)$").arg(event),
                                          QRegularExpression::MultilineOption);
            const QRegularExpressionMatch match = line.match(trace);
            return match.hasMatch() ? match.captured(1).toDouble() : -1.0;
        };
        QVERIFY2(at(QStringLiteral("load-finished")) > 0, qPrintable(trace));
        QVERIFY2(at(QStringLiteral("workspace-shown")) >= at(QStringLiteral("load-finished")), qPrintable(trace));
        QVERIFY(at(QStringLiteral("url-set")) <= at(QStringLiteral("load-finished")));
        verifyStoppedByVelmora();
    }

    // Where the web engine has no GPU (turned off, as on this machine), velmora draws its page in
    // software on a real X11 display: with the page on screen no GL driver is loaded into it,
    // the page is in the picture, and its backend sees the session's own environment.
    void withoutAGpuTheWindowDrawsWithoutGl()
    {
#ifndef VELMORA_HAVE_XCB
        QSKIP("built without X11 support");
#else
        test::VirtualDisplay x11(false);
        QVERIFY2(x11.isRunning(), "Xvfb could not be started");
        const auto endVelmora = qScopeGuard([this] { cleanup(); });
        QProcessEnvironment extra;
        extra.insert(QStringLiteral("VELMORA_TRACE_STARTUP"), QStringLiteral("1"));
        extra.insert(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS"), QStringLiteral("--disable-gpu"));
        QTemporaryDir dir;
        const QString shot = dir.filePath(QStringLiteral("velmora.png"));
        startVelmora({QStringLiteral("--screenshot"), shot}, {}, x11.name(), extra);
        QVERIFY(m_velmora->waitForStarted(startPatience));
        QString trace;
        QVERIFY2(soonWhileVelmoraRuns([&] { return traced(trace, "workspace-shown"); }), qPrintable(trace));
        const QByteArray maps = test::readFile(QStringLiteral("/proc/%1/maps").arg(m_velmora->processId()));
        QVERIFY(!maps.isEmpty());
        for (const char *driver : {"libGLX_mesa", "swrast_dri", "libLLVM"})
            QVERIFY2(!maps.contains(driver), driver);
        const QByteArray backendEnvironment = test::readFile(QStringLiteral("/proc/%1/environ").arg(backendPid(m_port)));
        QVERIFY(backendEnvironment.contains("VELMORA_DESKTOP_PORT="));
        QVERIFY(!backendEnvironment.contains("QT_XCB_GL_INTEGRATION="));

        QVERIFY(ended(*m_velmora, startPatience));
        QCOMPARE(m_velmora->exitCode(), 0);
        // Below the menu bar: the page's own text and colours, not one flat colour.
        const QImage page = QImage(shot).copy(0, 60, 1480, 800);
        QCOMPARE(QImage(shot).size(), QSize(1480, 900));
        QSet<QRgb> colours;
        for (int y = 0; y < page.height(); y += 3)
            for (int x = 0; x < page.width(); x += 3)
                colours.insert(page.pixel(x, y));
        QVERIFY2(colours.size() > 16, qPrintable(QString::number(colours.size())));
        verifyStoppedByVelmora();
#endif
    }

    // The backend is launched first, before the window; the controller then takes that very
    // process over: the page comes from it, and it is the one backend of the run, asked to
    // go once when velmora ends.
    void theBackendIsLaunchedBeforeTheWindowAndTakenOver()
    {
        QTemporaryDir dir;
        const QString listen = dir.filePath(QStringLiteral("listen"));
        m_signalFile = dir.filePath(QStringLiteral("signals"));
        QProcessEnvironment extra;
        extra.insert(QStringLiteral("VELMORA_TRACE_STARTUP"), QStringLiteral("1"));
        extra.insert(QStringLiteral("FAKE_BACKEND_LISTEN_WHEN"), listen);
        extra.insert(QStringLiteral("FAKE_BACKEND_SIGNAL_FILE"), m_signalFile);
        m_runningProject = &m_standInProject;
        QFile::remove(backendLogPath());
        startVelmora({}, {}, {}, extra);
        QVERIFY(m_velmora->waitForStarted(startPatience));
        QString trace;
        QVERIFY2(soonWhileVelmoraRuns([&] { return traced(trace, "window-shown"); }), qPrintable(trace));
        QVERIFY2(traced(trace, "backend-launched"), qPrintable(trace));
        QVERIFY2(trace.indexOf(QLatin1String("velmora-trace backend-launched"))
                     < trace.indexOf(QLatin1String("velmora-trace trace-installed")),
                 qPrintable(trace));
        QVERIFY(standInPid() > 0);

        // Only now may the backend answer.
        QVERIFY(test::writeFile(listen, "", false));
        QVERIFY2(backendStartedByVelmora(), "the backend launched first was not taken over");
        QVERIFY2(standInPageRequested(), "velmora asked for no page");
        QCOMPARE(test::readFile(backendLogPath()).count("=== Velmora "), 1);

        ::kill(pid_t(m_velmora->processId()), SIGTERM);
        QVERIFY(ended(*m_velmora, stopPatience));
        QCOMPARE(m_velmora->exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(processGone(standInPid()), stopPatience);
        QCOMPARE(test::readFile(m_signalFile), QByteArray("SIGTERM\n"));
    }

    // A second launch hands over to the running Velmora and starts no backend of its own,
    // whether the first one's backend is still starting or ready.
    void aSecondLaunchStartsNoBackend_data()
    {
        QTest::addColumn<bool>("ready");
        QTest::newRow("first backend still starting") << false;
        QTest::newRow("first backend ready") << true;
    }

    void aSecondLaunchStartsNoBackend()
    {
        QFETCH(bool, ready);
        QTemporaryDir dir;
        const QString listen = dir.filePath(QStringLiteral("listen"));
        QProcessEnvironment extra;
        extra.insert(QStringLiteral("FAKE_BACKEND_LISTEN_WHEN"), listen);
        m_runningProject = &m_standInProject;
        QFile::remove(backendLogPath());
        if (ready)
            QVERIFY(test::writeFile(listen, "", false));
        startVelmora({}, {}, {}, extra);
        QVERIFY(m_velmora->waitForStarted(startPatience));
        QVERIFY2(soonWhileVelmoraRuns([&] { return standInPid() > 0; }), "velmora launched no backend");
        if (ready)
            QVERIFY2(backendStartedByVelmora(), "velmora's backend did not come up");

        QProcess second;
        QProcessEnvironment environment = environmentFor(QString::number(m_port));
        for (const QString &name : extra.keys())
            environment.insert(name, extra.value(name));
        second.setProcessEnvironment(environment);
        second.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        second.start(velmoraBinary(), {});
        QVERIFY(second.waitForStarted(startPatience));
        QVERIFY(ended(second, startPatience));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(m_velmora->state(), QProcess::Running);

        if (!ready)
            QVERIFY(test::writeFile(listen, "", false));
        QVERIFY2(backendStartedByVelmora(), "velmora's backend did not come up");
        QCOMPARE(test::readFile(backendLogPath()).count("=== Velmora "), 1);
        QCOMPARE(test::readFile(backendLogPath()).count("fake_backend: pid "), 1);
    }

    // Something else answers on the port: nothing is launched before the window, and the
    // start judges that server as it always did (the port is taken).
    void aPortThatAnswersLaunchesNothing()
    {
        test::LoopbackHttpServer other;
        QVERIFY2(other.listen(), qPrintable(other.errorString()));
        other.setHandler([](const QByteArray &, const QString &) { return test::HttpReply{404, {}, {}, false}; });
        m_runningProject = &m_standInProject;
        QFile::remove(backendLogPath());
        QTemporaryDir dir;
        const QString shot = dir.filePath(QStringLiteral("taken.png"));
        startVelmora({QStringLiteral("--screenshot"), shot}, QString::number(other.port()));
        QVERIFY(m_velmora->waitForStarted(startPatience));
        QVERIFY(ended(*m_velmora, startPatience));
        QCOMPARE(m_velmora->exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_velmora->exitCode(), 2);
        QVERIFY(!other.requests().isEmpty());
        QVERIFY(!QFile::exists(backendLogPath()) || !test::readFile(backendLogPath()).contains("=== Velmora "));
        m_port = 0;
    }

    void startFailureIsShownInsteadOfThePage()
    {
        QTemporaryDir dir;
        const QString shot = dir.filePath(QStringLiteral("failure.png"));
        startVelmora({QStringLiteral("--screenshot"), shot}, QStringLiteral("80"));
        QVERIFY(m_velmora->waitForStarted(startPatience));
        QVERIFY(m_velmora->waitForFinished(startPatience));
        QCOMPARE(m_velmora->exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_velmora->exitCode(), 2); // the start failed; the picture shows why
        QCOMPARE(QImage(shot).size(), QSize(1480, 900));
        m_port = 0;
    }

    void terminationSignalsEndVelmoraWithItsBackend_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP: the terminal closed") << SIGHUP;
    }

    void terminationSignalsEndVelmoraWithItsBackend()
    {
        QFETCH(int, signalNumber);
        startVelmora({});
        QVERIFY(m_velmora->waitForStarted(startPatience));
        QVERIFY2(backendStartedByVelmora(), "velmora's backend did not come up");

        // Velmora quits the ordinary way rather than dying of the signal.
        ::kill(pid_t(m_velmora->processId()), signalNumber);
        QVERIFY(m_velmora->waitForFinished(stopPatience));
        QCOMPARE(m_velmora->exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_velmora->exitCode(), 0);
        verifyStoppedByVelmora();
    }

    // A busy backend (or one that cannot tell) keeps Velmora running with its window hidden;
    // a second launch brings that window back, focused, and ends at once with 0; one backend
    // all along. Then an idle close: no backend to keep, so Velmora quits.
    void aBusyCloseHidesTheWindowAndASecondLaunchBringsItBack()
    {
#ifndef VELMORA_HAVE_XCB
        QSKIP("built without X11 support");
#else
        test::VirtualDisplay x11(false);
        QVERIFY2(x11.isRunning(), "Xvfb could not be started");
        // Velmora goes before its display does.
        const auto endVelmora = qScopeGuard([this] { cleanup(); });
        startVelmora({}, {}, x11.name());
        QVERIFY(m_velmora->waitForStarted(startPatience));
        const qint64 pid = m_velmora->processId();
        QVERIFY2(backendStartedByVelmora(), "velmora's backend did not come up");
        // Velmora's own readiness check may come a moment after this test's: the page it
        // requests once it has taken the backend as ready says it has.
        QVERIFY2(soonWhileVelmoraRuns([&] { return pageServed(backendLogPath(), m_port); }), "velmora asked for no page");
        QVERIFY(markBusy(m_port));
        const std::optional<quint32> window = velmoraWindow(x11.name());
        QVERIFY2(window, "velmora made no window");
        QVERIFY2(soonWhileVelmoraRuns([&] { return test::isMapped(x11.name(), *window); }),
                 "velmora's window was not shown");

        QVERIFY(test::sendCloseRequest(x11.name(), *window));
        QTRY_VERIFY_WITH_TIMEOUT(!test::isMapped(x11.name(), *window), stopPatience);
        QCOMPARE(m_velmora->state(), QProcess::Running);
        QCOMPARE(backendParent(m_port), QString::number(pid));

        QProcess second;
        second.setProcessEnvironment(environmentFor(QString::number(m_port), x11.name()));
        second.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        second.start(velmoraBinary(), {});
        QVERIFY(second.waitForStarted(startPatience));
        QVERIFY(ended(second, startPatience));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(test::isMapped(x11.name(), *window), stopPatience);
        QTRY_COMPARE_WITH_TIMEOUT(test::focusedWindow(x11.name()), *window, stopPatience);
        QCOMPARE(backendStarts(backendLogPath(), m_port), 1);
        QCOMPARE(backendParent(m_port), QString::number(pid));
#endif
    }

    void anIdleCloseQuitsAndStopsTheBackend_data()
    {
        QTest::addColumn<bool>("withBackend");
        QTest::newRow("an idle backend") << true;
        QTest::newRow("no backend: a refused port") << false;
    }

    void anIdleCloseQuitsAndStopsTheBackend()
    {
#ifndef VELMORA_HAVE_XCB
        QSKIP("built without X11 support");
#else
        QFETCH(bool, withBackend);
        test::VirtualDisplay x11(false);
        QVERIFY2(x11.isRunning(), "Xvfb could not be started");
        // Velmora goes before its display does.
        const auto endVelmora = qScopeGuard([this] { cleanup(); });
        startVelmora({}, withBackend ? QString() : QStringLiteral("80"), x11.name());
        QVERIFY(m_velmora->waitForStarted(startPatience));
        if (withBackend)
            QVERIFY2(soonWhileVelmoraRuns([&] { return pageServed(backendLogPath(), m_port); }),
                     "velmora asked for no page");
        const std::optional<quint32> window = velmoraWindow(x11.name());
        QVERIFY2(window, "velmora made no window");
        QVERIFY2(soonWhileVelmoraRuns([&] { return test::isMapped(x11.name(), *window); }),
                 "velmora's window was not shown");
        QVERIFY(test::sendCloseRequest(x11.name(), *window));
        QVERIFY(ended(*m_velmora, stopPatience));
        QCOMPARE(m_velmora->exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_velmora->exitCode(), 0);
        if (withBackend)
            verifyStoppedByVelmora();
        else
            m_port = 0;
#endif
    }

    void aLaunchAfterAKilledVelmoraStartsNormally()
    {
        startVelmora({});
        QVERIFY(m_velmora->waitForStarted(startPatience));
        QVERIFY2(backendStartedByVelmora(), "velmora's backend did not come up");
        const qint64 backend = backendPid(m_port);
        m_velmora->kill();
        QVERIFY(ended(*m_velmora, stopPatience));
        QTRY_VERIFY_WITH_TIMEOUT(processGone(backend), stopPatience);

        // Its lock went with it; its socket file is left over and replaced.
        startVelmora({});
        QVERIFY(m_velmora->waitForStarted(startPatience));
        QVERIFY2(backendStartedByVelmora(), "velmora's backend did not come up");
    }

    void backendDoesNotOutliveAKilledVelmora()
    {
        // Velmora cannot send anything when it is killed; the backend's watch asks it (the
        // backend does not watch its parent here) to go.
        startVelmora({});
        QVERIFY(m_velmora->waitForStarted(startPatience));
        QVERIFY2(backendStartedByVelmora(), "velmora's backend did not come up");
        const qint64 backend = backendPid(m_port);
        QVERIFY(backend > 0);

        m_velmora->kill();
        QVERIFY(m_velmora->waitForFinished(stopPatience));
        QTRY_VERIFY_WITH_TIMEOUT(processGone(backend), stopPatience);
        QVERIFY(!portAccepts(m_port));
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
