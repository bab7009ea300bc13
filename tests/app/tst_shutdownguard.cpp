// Every way the application can end asks its backend to terminate, exactly once. The
// application here is shutdown_harness: the ShutdownGuard that main() installs, over a real
// BackendController whose backend (fake_backend, which stays up after a request and records
// each one) was launched from the main thread with its watch, as the application launches it,
// so every request counted is one the backend really gets.
#include "TestSupport.h"
#include "VirtualDisplay.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <optional>

#include <sys/resource.h>

using namespace velmora;
using test::patience;

namespace {

// The state letter of a process from /proc; 0 once it is gone.
char processState(qint64 pid)
{
    const QByteArray text = test::readFile(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype close = text.lastIndexOf(')');
    return close < 0 || close + 2 >= text.size() ? 0 : text.at(close + 2);
}

bool processGone(qint64 pid)
{
    const char state = processState(pid);
    return state == 0 || state == 'Z';
}

// The backend that wrote its first line into log; 0 before it has.
qint64 backendPid(const QString &log)
{
    static const QRegularExpression line(QStringLiteral("fake_backend: pid (\\d+)"));
    return line.match(QString::fromUtf8(test::readFile(log))).captured(1).toLongLong();
}

} // namespace

class TestShutdownGuard : public QObject
{
    Q_OBJECT
private slots:
    void everyEndAsksTheBackendOnce_data()
    {
        QTest::addColumn<QString>("way");      // how the harness ends itself once ready
        QTest::addColumn<int>("signalNumber"); // or what the test sends it then (0: nothing)
        QTest::addColumn<bool>("onDisplay");   // on an X server the test takes away then
        QTest::addColumn<bool>("crashes");

        QTest::newRow("quit") << "quit" << 0 << false << false;
        QTest::newRow("SIGTERM") << "wait" << SIGTERM << false << false;
        QTest::newRow("SIGINT") << "wait" << SIGINT << false << false;
        QTest::newRow("SIGHUP") << "wait" << SIGHUP << false << false;
        QTest::newRow("exit() from inside a library") << "exit" << 0 << false << false;
        QTest::newRow("display connection lost") << "wait" << 0 << true << false;
        QTest::newRow("abort()") << "abort" << 0 << false << true;
        QTest::newRow("qFatal()") << "qfatal" << 0 << false << true;
        QTest::newRow("segmentation fault") << "segv" << 0 << false << true;
        // Nothing of the harness runs: its watch asks.
        QTest::newRow("SIGKILL") << "wait" << SIGKILL << false << true;
    }

    void everyEndAsksTheBackendOnce()
    {
        QFETCH(QString, way);
        QFETCH(int, signalNumber);
        QFETCH(bool, onDisplay);
        QFETCH(bool, crashes);

        QTemporaryDir project;
        QVERIFY(test::writeFile(project.filePath("scripts/run-app.sh"),
                                "exec '" + test::helperProgram("fake_backend").toLocal8Bit() + "'\n"));
        const QString requests = project.filePath("requests");
        const QString log = project.filePath("logs/desktop.log");

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const test::ReservedPort port;
        environment.insert("VELMORA_DESKTOP_PORT", QString::number(port.number()));
        environment.insert("FAKE_BACKEND_SIGNAL_FILE", requests);
        environment.insert("FAKE_BACKEND_KEEP_RUNNING", "1");
        environment.insert("QT_QPA_PLATFORM", "offscreen");

        // Nothing stops a backend that was never asked to go: a failed check must not leave
        // it behind.
        const auto stopBackend = qScopeGuard([log] {
            if (const qint64 backend = backendPid(log); backend > 0 && !processGone(backend))
                ::kill(pid_t(backend), SIGKILL);
        });

        std::optional<test::VirtualDisplay> display;
        if (onDisplay) {
            if (QStandardPaths::findExecutable("Xvfb").isEmpty())
                QSKIP("Xvfb is not installed");
            display.emplace(false);
            QVERIFY2(display->isRunning(), "Xvfb could not be started");
            environment.insert("DISPLAY", QString::fromLatin1(display->name()));
            environment.insert("QT_QPA_PLATFORM", "xcb");
        }

        QProcess harness;
        harness.setProcessEnvironment(environment);
        harness.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // The crashes need no core files.
        harness.setChildProcessModifier([] {
            const rlimit none = {0, 0};
            ::setrlimit(RLIMIT_CORE, &none);
        });
        harness.start(test::helperProgram("shutdown_harness"), {project.path(), way});
        QVERIFY(harness.waitForStarted(patience));
        const auto stopHarness = qScopeGuard([&harness] {
            harness.kill();
            harness.waitForFinished(patience);
        });

        // Ready: the backend answered as the harness's own.
        if (signalNumber != 0 || onDisplay) {
            QByteArray output;
            QTRY_VERIFY_WITH_TIMEOUT((output += harness.readAllStandardOutput()).contains("shutdown_harness: ready"),
                                     patience);
            if (signalNumber != 0)
                ::kill(pid_t(harness.processId()), signalNumber);
            else
                display.reset(); // the X server goes away under the harness
        }
        QVERIFY(harness.waitForFinished(patience));
        if (crashes) // under a sanitizer, which reports the crash and exits instead
            QVERIFY(harness.exitStatus() == QProcess::CrashExit || harness.exitCode() != 0);
        else
            QCOMPARE(harness.exitStatus(), QProcess::NormalExit);

        const qint64 backend = backendPid(log);
        QVERIFY2(backend > 0, test::readFile(log).constData());

        // The backend stays up: it records the request and waits for more.
        QTRY_COMPARE_WITH_TIMEOUT(test::readFile(requests), QByteArray("SIGTERM\n"), patience);
        QVERIFY(!processGone(backend));
        // The harness is gone, so whatever it sent has arrived by now; SIGINT makes the
        // backend record anything still pending, and end.
        ::kill(pid_t(backend), SIGINT);
        QTRY_VERIFY_WITH_TIMEOUT(processGone(backend), patience);
        QCOMPARE(test::readFile(requests), QByteArray("SIGTERM\n"));
    }
};

QTEST_GUILESS_MAIN(TestShutdownGuard)
#include "tst_shutdownguard.moc"
