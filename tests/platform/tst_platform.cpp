#include "TestSupport.h"

#include "platform/Async.h"
#include "platform/HttpClient.h"
#include "platform/FileHandle.h"
#include "platform/Process.h"

#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fcntl.h>

using namespace velmora;
using namespace std::chrono_literals;

class TestPlatform : public QObject
{
    Q_OBJECT
private slots:
    void sleepEndsEarlyWhenCancelled()
    {
        auto handle = platform::TaskHandle::make();
        QTimer::singleShot(0, [handle] { handle.cancel(); });
        const bool completed = test::waitFor(platform::sleepFor(60s, handle.token()));
        QVERIFY(!completed);
        QVERIFY(test::waitFor(platform::sleepFor(1ms)));
    }

    void httpGetReportsStatusBodyAndRefusal()
    {
        test::LoopbackHttpServer server;
        QVERIFY(server.listen());
        server.setHandler([](const QByteArray &, const QString &path) {
            return path == QLatin1String("/ok") ? test::HttpReply::json("{\"a\":1}") : test::HttpReply{404, "no", {}, false};
        });
        auto &client = platform::HttpClient::shared();
        auto ok = test::waitFor(client.get(server.baseUrl().resolved(QUrl("/ok")), 1s));
        QVERIFY(ok.received);
        QCOMPARE(ok.status, 200);
        QCOMPARE(ok.body, QByteArray("{\"a\":1}"));
        auto missing = test::waitFor(client.get(server.baseUrl().resolved(QUrl("/x")), 1s));
        QVERIFY(missing.received);
        QCOMPARE(missing.status, 404);

        const test::ReservedPort port;
        auto refused = test::waitFor(client.get(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(port.number())), 1s));
        QVERIFY(!refused.received);
        QVERIFY(!refused.errorString.isEmpty());
    }

    void httpGetTimesOutOnSilentServer()
    {
        test::LoopbackHttpServer server;
        QVERIFY(server.listen());
        server.setHandler([](const QByteArray &, const QString &) { return test::HttpReply{200, {}, {}, true}; });
        auto r = test::waitFor(platform::HttpClient::shared().get(server.baseUrl(), 200ms));
        QVERIFY(!r.received);
        QVERIFY(!r.cancelled);
    }

    void httpGetCancelledInFlightEndsAndLaterCancelsAreHarmless()
    {
        test::LoopbackHttpServer server;
        QVERIFY(server.listen());
        server.setHandler([](const QByteArray &, const QString &path) {
            if (path == QLatin1String("/hang"))
                return test::HttpReply{200, {}, {}, true};
            return test::HttpReply{200, QByteArray(64, 'x'), {{"Content-Type", "text/plain"}}, false};
        });
        auto &client = platform::HttpClient::shared();

        // Cancelled while the server holds the request: it ends as cancelled, not timed out.
        auto inFlight = platform::TaskHandle::make();
        QObject::connect(&server, &test::LoopbackHttpServer::requestReceived, &server,
                         [inFlight](const QString &) { inFlight.cancel(); });
        auto cancelled = test::waitFor(client.get(server.baseUrl().resolved(QUrl("/hang")), 30s, inFlight.token()));
        QVERIFY(!cancelled.received);
        QVERIFY(cancelled.cancelled);
        QObject::disconnect(&server, &test::LoopbackHttpServer::requestReceived, &server, nullptr);

        // A token cancelled after its request finished, and after its reply is gone.
        auto finished = platform::TaskHandle::make();
        auto ok = test::waitFor(client.get(server.baseUrl().resolved(QUrl("/ok")), 5s, finished.token()));
        QVERIFY(ok.received);
        QCOMPARE(ok.body, QByteArray(64, 'x'));
        finished.cancel();

        // A body past the caller's limit ends the transfer and says so.
        auto large = test::waitFor(client.get(server.baseUrl().resolved(QUrl("/ok")), 5s, {}, 10));
        QVERIFY(large.received);
        QCOMPARE(large.status, 200);
        QVERIFY(large.bodyTooLarge);
        QVERIFY(large.body.size() > 10);
        QVERIFY(QByteArray(64, 'x').startsWith(large.body));

        // The client still works after all of that.
        auto again = test::waitFor(client.get(server.baseUrl().resolved(QUrl("/ok")), 5s));
        QVERIFY(again.received);
        QCOMPARE(again.body.size(), 64);
    }

    void launchedChildWritesIntoTheGivenHandleAndStopsOnRequest()
    {
        QTemporaryDir dir;
        const QString logPath = dir.filePath("out.log");
        const QString countPath = dir.filePath("terms");
        platform::FileHandle log(::open(QFile::encodeName(logPath).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
        QVERIFY(log.isOpen());

        platform::ProcessDescription description;
        description.executable = test::helperProgram("run_until_signal");
        description.arguments = {countPath};
        description.workingDirectory = dir.path();
        description.environment = QProcessEnvironment::systemEnvironment();
        description.outputFd = log.fd();
        auto launched = platform::ProcessLauncher::system().launch(description);
        QVERIFY2(launched.process, qPrintable(launched.error));
        QVERIFY(launched.process->isRunning());
        QTRY_VERIFY_WITH_TIMEOUT(QFile(logPath).size() > 0, test::patience);
        launched.process->requestTermination();
        QTRY_VERIFY_WITH_TIMEOUT(!launched.process->isRunning(), test::patience);
        QFile counts(countPath);
        QVERIFY(counts.open(QIODevice::ReadOnly));
        QCOMPARE(counts.readAll(), QByteArray("SIGTERM\n"));

        description.executable = dir.filePath("missing");
        auto missing = platform::ProcessLauncher::system().launch(description);
        QVERIFY(!missing.process);
        QVERIFY(!missing.error.isEmpty());
    }

    void droppedChildrenAreReaped()
    {
        QTemporaryDir dir;
        platform::ProcessDescription description;
        description.executable = test::helperProgram("run_until_signal");
        description.arguments = {dir.filePath("terms")};
        description.workingDirectory = dir.path();
        description.environment = QProcessEnvironment::systemEnvironment();
        platform::FileHandle output(::open(QFile::encodeName(dir.filePath("out.log")).constData(),
                                           O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
        description.outputFd = output.fd();

        // Asked to go and dropped at once, as stop() does: it exits later and must not stay a
        // zombie. The other exits before it is dropped.
        auto asked = platform::ProcessLauncher::system().launch(description);
        QVERIFY2(asked.process, qPrintable(asked.error));
        description.executable = test::helperProgram("exit_at_once");
        auto exited = platform::ProcessLauncher::system().launch(description);
        QVERIFY2(exited.process, qPrintable(exited.error));
        const qint64 askedPid = asked.process->pid();
        const qint64 exitedPid = exited.process->pid();
        QTRY_VERIFY_WITH_TIMEOUT(processState(exitedPid) == 'Z', test::patience);
        asked.process->requestTermination();
        asked.process.reset();
        exited.process.reset();
        QTRY_VERIFY_WITH_TIMEOUT(processState(askedPid) == 0, test::patience);
        QCOMPARE(processState(exitedPid), 0);
    }

private:
    // The state letter of a child from /proc; 0 once it is gone (reaped).
    static char processState(qint64 pid)
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            return 0;
        const QByteArray text = stat.readAll();
        const qsizetype close = text.lastIndexOf(')');
        return close < 0 || close + 2 >= text.size() ? 0 : text.at(close + 2);
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
