#include "TestSupport.h"
#include "TlsTestServer.h"

#include "platform/Async.h"
#include "platform/Bundle.h"
#include "platform/FileHandle.h"
#include "platform/HttpClient.h"
#include "platform/ListeningPorts.h"
#include "platform/PackageOwnership.h"
#include "platform/PortWatch.h"
#include "platform/Process.h"

#include <QCoro/QCoroTask>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>

using namespace velmora;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(velmora::platform::HttpFailure)

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

    void portWatchTellsWhenSomethingAccepts()
    {
        // Bound but not listening: every try is refused until the server listens.
        const test::ReservedPort reserved;
        platform::PortWatch watch(QStringLiteral("127.0.0.1"), reserved.number(), 10ms,
                                  std::chrono::milliseconds(test::patience));
        QSignalSpy accepting(&watch, &platform::PortWatch::accepting);
        test::drainEvents();
        QVERIFY(accepting.isEmpty());
        QTcpServer server;
        QVERIFY2(server.listen(QHostAddress::LocalHost, reserved.number()), qPrintable(server.errorString()));
        QVERIFY2(accepting.wait(test::patience), "the listening server was not noticed");
        QVERIFY(!watch.isWatching());
        // Once only, with one connection that was closed unused.
        QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), test::patience);
        test::drainEvents();
        QCOMPARE(accepting.count(), 1);
    }

    void portWatchGivesUpAfterItsPeriod()
    {
        const test::ReservedPort reserved;
        platform::PortWatch watch(QStringLiteral("127.0.0.1"), reserved.number(), 10ms, 100ms);
        QSignalSpy accepting(&watch, &platform::PortWatch::accepting);
        QSignalSpy gaveUp(&watch, &platform::PortWatch::gaveUp);
        QVERIFY2(gaveUp.wait(test::patience), "the watch went on past its period");
        QVERIFY(!watch.isWatching());
        QVERIFY(accepting.isEmpty());
    }

    void httpGetReportsStatusBodyAndRefusal()
    {
        test::LoopbackHttpServer server;
        QVERIFY(server.listen());
        server.setHandler([](const QByteArray &, const QString &path) {
            return path == QLatin1String("/ok") ? test::HttpReply::json("{\"a\":1}") : test::HttpReply{404, "no", {}, false};
        });
        auto &client = platform::HttpClient::shared();
        auto ok = test::waitFor(client.get(server.baseUrl().resolved(QUrl("/ok")), platform::RedirectPolicy::none(), 1s));
        QVERIFY(ok.received);
        QCOMPARE(ok.status, 200);
        QCOMPARE(ok.body, QByteArray("{\"a\":1}"));
        auto missing = test::waitFor(
            client.get(server.baseUrl().resolved(QUrl("/x")), platform::RedirectPolicy::none(), 1s));
        QVERIFY(missing.received);
        QCOMPARE(missing.status, 404);

        const test::ReservedPort port;
        auto refused = test::waitFor(client.get(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(port.number())),
                                                platform::RedirectPolicy::none(), 1s));
        QVERIFY(!refused.received);
        QCOMPARE(refused.failure, platform::HttpFailure::Transport);
        QVERIFY(!refused.errorString.isEmpty());
    }

    void httpGetTimesOutOnSilentServer()
    {
        test::LoopbackHttpServer server;
        QVERIFY(server.listen());
        server.setHandler([](const QByteArray &, const QString &) { return test::HttpReply{200, {}, {}, true}; });
        auto r = test::waitFor(
            platform::HttpClient::shared().get(server.baseUrl(), platform::RedirectPolicy::none(), 200ms));
        QVERIFY(!r.received);
        QCOMPARE(r.failure, platform::HttpFailure::TimedOut);
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
        auto cancelled = test::waitFor(
            client.get(server.baseUrl().resolved(QUrl("/hang")), platform::RedirectPolicy::none(), 30s, inFlight.token()));
        QVERIFY(!cancelled.received);
        QCOMPARE(cancelled.failure, platform::HttpFailure::Cancelled);
        QObject::disconnect(&server, &test::LoopbackHttpServer::requestReceived, &server, nullptr);

        // A token cancelled after its request finished, and after its reply is gone.
        auto finished = platform::TaskHandle::make();
        auto ok = test::waitFor(
            client.get(server.baseUrl().resolved(QUrl("/ok")), platform::RedirectPolicy::none(), 5s, finished.token()));
        QVERIFY(ok.received);
        QCOMPARE(ok.body, QByteArray(64, 'x'));
        finished.cancel();

        // A body past the caller's limit ends the transfer and says so.
        auto large = test::waitFor(
            client.get(server.baseUrl().resolved(QUrl("/ok")), platform::RedirectPolicy::none(), 5s, {}, 10));
        QVERIFY(large.received);
        QCOMPARE(large.status, 200);
        QVERIFY(large.bodyTooLarge);
        QVERIFY(large.body.size() > 10);
        QVERIFY(QByteArray(64, 'x').startsWith(large.body));

        // The client still works after all of that.
        auto again = test::waitFor(client.get(server.baseUrl().resolved(QUrl("/ok")), platform::RedirectPolicy::none(), 5s));
        QVERIFY(again.received);
        QCOMPARE(again.body.size(), 64);
    }

    void developmentBuildIsMarkedByAnyProjectRoot_data()
    {
        QTest::addColumn<QVariantMap>("info");
        QTest::addColumn<bool>("development");
        const QString root = platform::bundleKey::projectRoot;
        const QString version = platform::bundleKey::shortVersion;
        QTest::newRow("a packaged build") << QVariantMap{{version, "1.0"}} << false;
        QTest::newRow("a source tree") << QVariantMap{{version, "1.0"}, {root, "/src/velmora"}} << true;
        QTest::newRow("an empty root") << QVariantMap{{root, QString()}} << true;
        QTest::newRow("a malformed root") << QVariantMap{{root, 7}} << true;
    }

    void developmentBuildIsMarkedByAnyProjectRoot()
    {
        QFETCH(QVariantMap, info);
        QFETCH(bool, development);
        platform::FixedBundle bundle;
        bundle.info = info;
        QCOMPARE(bundle.isDevelopmentBuild(), development);
    }

    void redirectTargets_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("target"); // empty: not followed

        const QString from = QStringLiteral("https://notes.example/notes/a.html");
        QTest::newRow("absolute, allowed host") << from << "https://velmora.app/b"
                                                << "https://velmora.app/b";
        QTest::newRow("allowed host with a port") << from << "https://velmora.app:8443/b"
                                                  << "https://velmora.app:8443/b";
        QTest::newRow("relative path") << from << "b.html"
                                       << "https://notes.example/notes/b.html";
        QTest::newRow("absolute path") << from << "/b.html"
                                       << "https://notes.example/b.html";
        QTest::newRow("scheme-relative") << from << "//velmora.app/b"
                                         << "https://velmora.app/b";
        QTest::newRow("surrounding white space") << from << "  /b.html "
                                                 << "https://notes.example/b.html";
        QTest::newRow("host not allowed") << from << "https://other.example/b"
                                          << "";
        QTest::newRow("scheme-relative to a host not allowed") << from << "//other.example/b"
                                                               << "";
        QTest::newRow("allowed host in other letter case") << from << "https://Velmora.app/b"
                                                           << "";
        QTest::newRow("scheme in capitals") << from << "HTTPS://velmora.app/b"
                                            << "";
        QTest::newRow("https to http") << from << "http://velmora.app/b"
                                       << "";
        QTest::newRow("other scheme") << from << "ftp://velmora.app/b"
                                      << "";
        QTest::newRow("allowed host as the user part") << from << "https://velmora.app@other.example/b"
                                                       << "";
        QTest::newRow("no location") << from << ""
                                     << "";
        QTest::newRow("from http") << "http://notes.example/a"
                                   << "https://velmora.app/b"
                                   << "";
        QTest::newRow("relative, from a host not allowed") << "https://other.example/a"
                                                           << "/b"
                                                           << "";
    }

    void redirectTargets()
    {
        QFETCH(QString, from);
        QFETCH(QString, location);
        QFETCH(QString, target);

        const auto policy = platform::RedirectPolicy::httpsWithin(
            {QStringLiteral("notes.example"), QStringLiteral("velmora.app")});
        const std::optional<QUrl> next = policy.target(QUrl(from), location);
        QCOMPARE(next.has_value(), !target.isEmpty());
        if (next)
            QCOMPARE(*next, QUrl(target));
    }

    // Real HTTPS servers on the loopback interface. The first answers /hop/N with a redirect
    // to /hop/N-1 and /hop/0 with 200, or with a redirect to location when there is one. The
    // same address is asked for once as a request and once as a download: both follow
    // redirects the same way and fail for the same reason.
    void redirectsAreFollowedAsThePolicySays_data()
    {
        QTest::addColumn<bool>("follow");      // RedirectPolicy::httpsWithin({"localhost"}), else none()
        QTest::addColumn<int>("status");       // of every redirect answer
        QTest::addColumn<int>("hops");         // redirects within the first server
        QTest::addColumn<QString>("location"); // from /hop/0; %1 the second server's port, %2 a plain one's
        QTest::addColumn<QString>("outcome");  // "first", "second", "redirect" (the answer) or a failure
        QTest::addColumn<platform::HttpFailure>("failure");

        using F = platform::HttpFailure;
        QTest::newRow("301") << true << 301 << 1 << ""
                             << "first" << F::None;
        QTest::newRow("302") << true << 302 << 1 << ""
                             << "first" << F::None;
        QTest::newRow("303") << true << 303 << 1 << ""
                             << "first" << F::None;
        QTest::newRow("307") << true << 307 << 1 << ""
                             << "first" << F::None;
        QTest::newRow("308") << true << 308 << 1 << ""
                             << "first" << F::None;
        QTest::newRow("five redirects") << true << 302 << 5 << ""
                                        << "first" << F::None;
        QTest::newRow("six redirects") << true << 302 << 6 << ""
                                       << "refused" << F::TooManyRedirects;
        QTest::newRow("to the allowed host on another port") << true << 301 << 0 << "https://localhost:%1/final"
                                                             << "second" << F::None;
        QTest::newRow("to a host not allowed") << true << 301 << 0 << "https://127.0.0.1:%1/final"
                                               << "refused" << F::RedirectRefused;
        QTest::newRow("to the allowed host in other letter case") << true << 301 << 0 << "https://LocalHost:%1/final"
                                                                  << "refused" << F::RedirectRefused;
        QTest::newRow("scheme in capitals") << true << 301 << 0 << "HTTPS://localhost:%1/final"
                                            << "refused" << F::RedirectRefused;
        QTest::newRow("https to http") << true << 302 << 0 << "http://localhost:%2/final"
                                       << "refused" << F::RedirectRefused;
        QTest::newRow("five redirects, then to a host not allowed") << true << 302 << 5 << "https://127.0.0.1:%1/final"
                                                                    << "refused" << F::TooManyRedirects;
        QTest::newRow("not followed without a policy") << false << 301 << 1 << ""
                                                       << "redirect" << F::None;
        QTest::newRow("not followed without a policy, to another server")
            << false << 302 << 0 << "https://localhost:%1/final"
            << "redirect" << F::None;
    }

    void redirectsAreFollowedAsThePolicySays()
    {
        QFETCH(bool, follow);
        QFETCH(int, status);
        QFETCH(int, hops);
        QFETCH(QString, location);
        QFETCH(QString, outcome);
        QFETCH(platform::HttpFailure, failure);

        test::LoopbackHttpsServer first;
        test::LoopbackHttpsServer second;
        test::LoopbackHttpServer plain;
        QVERIFY2(first.listen(), qPrintable(first.errorString()));
        QVERIFY2(second.listen(), qPrintable(second.errorString()));
        QVERIFY(plain.listen());
        location.replace(QLatin1String("%1"), QString::number(second.port()));
        location.replace(QLatin1String("%2"), QString::number(plain.port()));

        auto redirect = [status](const QString &to) {
            return test::HttpReply{status, {}, {{"Location", to.toUtf8()}}, false};
        };
        first.setHandler([&](const QByteArray &, const QString &path) {
            const int hop = path.startsWith(QLatin1String("/hop/")) ? path.mid(5).toInt() : -1;
            if (hop > 0)
                return redirect(QStringLiteral("/hop/%1").arg(hop - 1));
            if (hop == 0 && !location.isEmpty())
                return redirect(location);
            return test::HttpReply{200, "first", {}, false};
        });
        second.setHandler([](const QByteArray &, const QString &) { return test::HttpReply{200, "second", {}, false}; });
        plain.setHandler([](const QByteArray &, const QString &) { return test::HttpReply{200, "plain", {}, false}; });

        platform::HttpClient client;
        client.setSslConfiguration(first.clientConfiguration());
        const QUrl start = first.url(QStringLiteral("/hop/%1").arg(hops));
        const auto policy = follow ? platform::RedirectPolicy::httpsWithin({QStringLiteral("localhost")})
                                   : platform::RedirectPolicy::none();
        const platform::HttpResponse response = test::waitFor(client.get(start, policy, 20s));
        QByteArray written;
        platform::DownloadOptions options;
        options.maxBytes = 1024;
        const platform::DownloadResult download = test::waitFor(
            client.download(start, policy, options, [&written](QByteArrayView piece) {
                written += piece.toByteArray();
                return true;
            }));

        const std::array<const platform::HttpOutcome *, 2> both{&response, &download};

        // Each asked the same servers for the same paths.
        QStringList firstRequests;
        for (int hop = hops; hop >= 0 && (follow || hop == hops); --hop)
            firstRequests << QStringLiteral("/hop/%1").arg(hop);
        if (failure == platform::HttpFailure::TooManyRedirects && location.isEmpty())
            firstRequests.removeLast(); // the sixth redirect is not followed
        QCOMPARE(first.requests(), firstRequests + firstRequests);
        const QStringList secondRequests = outcome == QLatin1String("second") ? QStringList{"/final", "/final"}
                                                                              : QStringList{};
        QCOMPARE(second.requests(), secondRequests);
        QVERIFY(plain.requests().isEmpty());

        if (outcome == QLatin1String("refused")) {
            for (const platform::HttpOutcome *result : both) {
                QCOMPARE(result->failure, failure);
                QVERIFY(!result->received);
                QVERIFY(!result->errorString.isEmpty());
            }
            QVERIFY(written.isEmpty());
            return;
        }
        QVERIFY2(response.received, qPrintable(response.errorString));
        QVERIFY2(download.received, qPrintable(download.errorString));
        QCOMPARE(response.failure, platform::HttpFailure::None);
        if (outcome == QLatin1String("redirect")) {
            // The redirect is the request's answer, but not the file a download asked for.
            QCOMPARE(download.failure, platform::HttpFailure::Status);
            QVERIFY(written.isEmpty());
            for (const platform::HttpOutcome *result : both) {
                QCOMPARE(result->status, status);
                QCOMPARE(result->url, start);
                QCOMPARE(result->redirects, 0);
            }
            return;
        }
        QCOMPARE(download.failure, platform::HttpFailure::None);
        QCOMPARE(response.body, outcome.toUtf8());
        QCOMPARE(written, outcome.toUtf8());
        const QUrl answered = outcome == QLatin1String("second") ? second.url(QStringLiteral("/final"))
                                                                 : first.url(QStringLiteral("/hop/0"));
        for (const platform::HttpOutcome *result : both) {
            QCOMPARE(result->status, 200);
            QCOMPARE(result->redirects, hops + (outcome == QLatin1String("second") ? 1 : 0));
            QCOMPARE(result->url, answered);
        }
    }

    void launchedChildWritesIntoTheGivenHandleAndStopsOnRequest()
    {
        QTemporaryDir dir;
        const QString logPath = dir.filePath("out.log");
        const QString countPath = dir.filePath("terms");
        platform::FileHandle log(
            ::open(QFile::encodeName(logPath).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
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

    void childHoldsOnlyItsStandardDescriptorsInAGroupOfItsOwn()
    {
        // Descriptors without close-on-exec, as a library may leave them open.
        const int leaky = ::open("/dev/null", O_RDONLY);
        int leakyPipe[2];
        QVERIFY(leaky >= 0 && ::pipe(leakyPipe) == 0);
        const auto closeLeaks = qScopeGuard([&] {
            ::close(leaky);
            ::close(leakyPipe[0]);
            ::close(leakyPipe[1]);
        });

        QTemporaryDir dir;
        const QString logPath = dir.filePath("out.log");
        platform::FileHandle log(
            ::open(QFile::encodeName(logPath).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
        platform::ProcessDescription description;
        description.executable = test::helperProgram("fake_backend");
        description.workingDirectory = dir.path();
        description.environment = QProcessEnvironment::systemEnvironment();
        description.environment.insert("FAKE_BACKEND_LISTEN_WHEN", dir.filePath("never"));
        description.outputFd = log.fd();
        auto launched = platform::ProcessLauncher::system().launch(description);
        QVERIFY2(launched.process, qPrintable(launched.error));
        QTRY_VERIFY_WITH_TIMEOUT(test::readFile(logPath).contains("fake_backend: waiting to listen"), test::patience);
        QVERIFY2(test::readFile(logPath).contains("fake_backend: fds 0 1 2\n"), test::readFile(logPath).constData());
        // Its process group is its own: the terminal's Ctrl+C is this process's to answer.
        const QByteArray stat = test::readFile(QStringLiteral("/proc/%1/stat").arg(launched.process->pid()));
        QCOMPARE(stat.mid(stat.lastIndexOf(')') + 2).split(' ').value(2).toLongLong(), launched.process->pid());
        launched.process->requestTermination();
        QTRY_VERIFY_WITH_TIMEOUT(!launched.process->isRunning(), test::patience);
    }

    void outputHeaderComesFirstAndTheEndIsKnown()
    {
        QTemporaryDir dir;
        const QString logPath = dir.filePath("out.log");
        platform::FileHandle log(
            ::open(QFile::encodeName(logPath).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
        platform::ProcessDescription description;
        description.executable = test::helperProgram("exit_at_once");
        description.workingDirectory = dir.path();
        description.environment = QProcessEnvironment::systemEnvironment();
        description.outputFd = log.fd();
        description.outputHeader = "=== started (pid {pid}) ===\n";
        auto exiting = platform::ProcessLauncher::system().launch(description);
        QVERIFY2(exiting.process, qPrintable(exiting.error));
        QTRY_VERIFY_WITH_TIMEOUT(!exiting.process->isRunning(), test::patience);
        const QByteArray output = test::readFile(logPath);
        QVERIFY2(output.startsWith(
                     QStringLiteral("=== started (pid %1) ===\nexit_at_once: ").arg(exiting.process->pid()).toUtf8()),
                 output.constData());
        QVERIFY(exiting.process->exitStatus());
        QCOMPARE(exiting.process->exitStatus()->signalled, false);
        QCOMPARE(exiting.process->exitStatus()->code, 3);

        description.executable = test::helperProgram("run_until_signal");
        description.arguments = {dir.filePath("terms")};
        description.outputHeader = "no pid here\n";
        auto killed = platform::ProcessLauncher::system().launch(description);
        QVERIFY2(killed.process, qPrintable(killed.error));
        QVERIFY(!killed.process->exitStatus());
        QTRY_VERIFY_WITH_TIMEOUT(test::readFile(logPath).contains("run_until_signal: pid"), test::patience);
        QVERIFY(test::readFile(logPath).contains("\nno pid here\nrun_until_signal: pid"));
        ::kill(pid_t(killed.process->pid()), SIGKILL);
        QTRY_VERIFY_WITH_TIMEOUT(!killed.process->isRunning(), test::patience);
        QVERIFY(killed.process->exitStatus());
        QCOMPARE(killed.process->exitStatus()->signalled, true);
        QCOMPARE(killed.process->exitStatus()->code, SIGKILL);
    }

    void socketTableListsListeners_data()
    {
        QTest::addColumn<QByteArray>("table");
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("listening");

        const QByteArray header
            = "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n";
        const QByteArray listener
            = "   0: 0100007F:4952 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 4242 1\n";
        const QByteArray connection
            = "   1: 0100007F:D2F0 0100007F:4952 01 00000000:00000000 00:00000000 00000000     0        0 4243 1\n";
        QTest::newRow("listening on 127.0.0.1") << header + listener << 0x4952 << true;
        QTest::newRow("another port") << header + listener << 0x4953 << false;
        QTest::newRow("a connection to the port, no listener") << header + connection << 0x4952 << false;
        QTest::newRow("a connection from the port is not a listener")
            << header + "   1: 0100007F:4952 0100007F:D2F0 01 0 0 0 0 0 1\n"
            << 0x4952 << false;
        QTest::newRow("IPv6, any address")
            << header + "   0: 00000000000000000000000000000000:4952 00000000000000000000000000000000:0000 0A 0 0\n"
            << 0x4952 << true;
        QTest::newRow("last line without a line feed") << header + listener.chopped(1) << 0x4952 << true;
        QTest::newRow("empty") << QByteArray() << 0x4952 << false;
        QTest::newRow("the header alone") << header << 0x4952 << false;
        QTest::newRow("garbage") << QByteArray("0A 0A:0A\n:\n4952 0A\n") << 0x4952 << false;
        QTest::newRow("port not in hex of four") << header + "   0: 0100007F:18760 00000000:0000 0A\n" << 18760 << false;
        QTest::newRow("a signed port") << header + "   0: 0100007F:+02B 00000000:0000 0A\n" << 0x2b << false;
        QTest::newRow("a port with 0x") << header + "   0: 0100007F:0x2B 00000000:0000 0A\n" << 0x2b << false;
    }

    void socketTableListsListeners()
    {
        QFETCH(QByteArray, table);
        QFETCH(int, port);
        QFETCH(bool, listening);
        QCOMPARE(platform::socketTableListensOn(table, quint16(port)), listening);
    }

    void theSystemsTableShowsAListenerComeAndGo()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        const quint16 port = server.serverPort();
        QCOMPARE(platform::isListeningOn(port), std::optional<bool>(true));
        server.close();
        QCOMPARE(platform::isListeningOn(port), std::optional<bool>(false));
    }

    void droppedChildrenAreReaped()
    {
        QTemporaryDir dir;
        platform::ProcessDescription description;
        description.executable = test::helperProgram("run_until_signal");
        description.arguments = {dir.filePath("terms")};
        description.workingDirectory = dir.path();
        description.environment = QProcessEnvironment::systemEnvironment();
        platform::FileHandle output(
            ::open(QFile::encodeName(dir.filePath("out.log")).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
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

    void exitIsAnnouncedWithoutAsking()
    {
        QTemporaryDir dir;
        platform::ProcessDescription description;
        description.executable = test::helperProgram("run_until_signal");
        description.arguments = {dir.filePath("terms")};
        description.environment = QProcessEnvironment::systemEnvironment();
        auto running = platform::ProcessLauncher::system().launch(description);
        QVERIFY2(running.process, qPrintable(running.error));
        description.executable = test::helperProgram("exit_at_once");
        auto exiting = platform::ProcessLauncher::system().launch(description);
        QVERIFY2(exiting.process, qPrintable(exiting.error));

        // Nobody asks isRunning() from here on: the end arrives by itself, once, and the child
        // is reaped by then.
        int runningEnds = 0, exitingEnds = 0;
        running.process->whenExited([&runningEnds] { ++runningEnds; });
        exiting.process->whenExited([&exitingEnds] { ++exitingEnds; });
        const qint64 exitingPid = exiting.process->pid();
        QTRY_COMPARE_WITH_TIMEOUT(exitingEnds, 1, test::patience);
        QCOMPARE(processState(exitingPid), 0);
        QCOMPARE(runningEnds, 0);

        // A callback set after the end still comes, later on the loop.
        int late = 0;
        exiting.process->whenExited([&late] { ++late; });
        QCOMPARE(late, 0);
        QTRY_COMPARE_WITH_TIMEOUT(late, 1, test::patience);

        // Handled or not yet, SIGTERM ends it.
        running.process->requestTermination();
        QTRY_COMPARE_WITH_TIMEOUT(runningEnds, 1, test::patience);
        QVERIFY(!running.process->isRunning());
        test::drainEvents();
        QCOMPARE(exitingEnds, 1);
    }

    void launchFailuresCarryThePlatformError_data()
    {
        QTest::addColumn<QString>("program");           // in the test's folder unless absolute
        QTest::addColumn<QByteArray>("programContent"); // empty: no such file
        QTest::addColumn<bool>("executable");
        QTest::addColumn<QString>("workingDirectory"); // in the test's folder
        QTest::addColumn<int>("outputFd");             // -2: an open log file
        QTest::addColumn<int>("error");

        const QString helper = test::helperProgram("exit_at_once");
        QTest::newRow("no such program") << "missing" << QByteArray() << false << "" << -2 << ENOENT;
        QTest::newRow("not executable") << "plain" << QByteArray("#!/bin/sh\n") << false << "" << -2 << EACCES;
        QTest::newRow("not a program") << "text" << QByteArray("hello\n") << true << "" << -2 << ENOEXEC;
        QTest::newRow("no such working directory") << helper << QByteArray() << false << "missing" << -2 << ENOENT;
        QTest::newRow("output handle not open") << helper << QByteArray() << false << "" << 999 << EBADF;
    }

    void launchFailuresCarryThePlatformError()
    {
        QFETCH(QString, program);
        QFETCH(QByteArray, programContent);
        QFETCH(bool, executable);
        QFETCH(QString, workingDirectory);
        QFETCH(int, outputFd);
        QFETCH(int, error);

        QTemporaryDir dir;
        if (!programContent.isEmpty())
            QVERIFY(test::writeFile(dir.filePath(program), programContent, executable));
        platform::FileHandle log(
            ::open(QFile::encodeName(dir.filePath("out.log")).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
        platform::ProcessDescription description;
        description.executable = QDir::isAbsolutePath(program) ? program : dir.filePath(program);
        description.workingDirectory = workingDirectory.isEmpty() ? dir.path() : dir.filePath(workingDirectory);
        description.environment = QProcessEnvironment::systemEnvironment();
        description.outputFd = outputFd == -2 ? log.fd() : outputFd;

        const auto launched = platform::ProcessLauncher::system().launch(description);
        QVERIFY(!launched.process);
        QCOMPARE(launched.error, QString::fromLocal8Bit(std::strerror(error)));
        // The child that failed to start is collected at once.
        QVERIFY(!childStates().contains('Z'));
    }

    void childStartsWithDefaultSignalHandling()
    {
        // This process catches, ignores and blocks signals of its own; the child knows nothing
        // of that.
        struct sigaction caught = {};
        caught.sa_handler = [](int) {};
        struct sigaction previousUsr1, previousHup;
        ::sigaction(SIGUSR1, &caught, &previousUsr1);
        struct sigaction ignored = {};
        ignored.sa_handler = SIG_IGN;
        ::sigaction(SIGHUP, &ignored, &previousHup);
        sigset_t blocked, previousMask;
        sigemptyset(&blocked);
        sigaddset(&blocked, SIGUSR2);
        ::pthread_sigmask(SIG_BLOCK, &blocked, &previousMask);
        const auto restore = qScopeGuard([&] {
            ::sigaction(SIGUSR1, &previousUsr1, nullptr);
            ::sigaction(SIGHUP, &previousHup, nullptr);
            ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
        });

        QTemporaryDir dir;
        const QString logPath = dir.filePath("status");
        platform::FileHandle log(
            ::open(QFile::encodeName(logPath).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
        platform::ProcessDescription description;
        description.executable = QStringLiteral("/bin/cat");
        description.arguments = {QStringLiteral("/proc/self/status")};
        description.workingDirectory = dir.path();
        description.environment = QProcessEnvironment::systemEnvironment();
        description.outputFd = log.fd();
        auto launched = platform::ProcessLauncher::system().launch(description);
        QVERIFY2(launched.process, qPrintable(launched.error));
        QTRY_VERIFY_WITH_TIMEOUT(!launched.process->isRunning(), test::patience);

        // Masks of signal numbers, bit n - 1 for signal n.
        const QByteArray status = test::readFile(logPath);
        const auto mask = [&status](const QByteArray &name) {
            const QRegularExpression line(QStringLiteral("^%1:\\s*([0-9a-f]+)$").arg(QString::fromLatin1(name)),
                                          QRegularExpression::MultilineOption);
            return line.match(QString::fromLatin1(status)).captured(1).toULongLong(nullptr, 16);
        };
        const auto bit = [](int signalNumber) { return quint64(1) << (signalNumber - 1); };
        QVERIFY2(status.contains("SigCgt:"), status.constData());
        QCOMPARE(mask("SigCgt") & bit(SIGUSR1), quint64(0));
        QCOMPARE(mask("SigIgn") & bit(SIGHUP), quint64(0));
        QCOMPARE(mask("SigBlk") & bit(SIGUSR2), quint64(0));
    }

    void terminationIsRequestedOnceWhoeverAsks_data()
    {
        QTest::addColumn<bool>("processFirst");
        QTest::newRow("the process handle first, then the path for fatal ends") << true;
        QTest::newRow("the path for fatal ends first, then the process handle") << false;
    }

    void terminationIsRequestedOnceWhoeverAsks()
    {
        QFETCH(bool, processFirst);

        // A backend that stays up after a termination request and records each one.
        QTemporaryDir dir;
        const QString requests = dir.filePath("requests");
        const QString logPath = dir.filePath("out.log");
        platform::FileHandle log(
            ::open(QFile::encodeName(logPath).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
        platform::ProcessDescription description;
        description.executable = test::helperProgram("fake_backend");
        description.workingDirectory = dir.path();
        description.environment = QProcessEnvironment::systemEnvironment();
        const test::ReservedPort port;
        description.environment.insert("VELMORA_DESKTOP_PORT", QString::number(port.number()));
        description.environment.insert("FAKE_BACKEND_SIGNAL_FILE", requests);
        description.environment.insert("FAKE_BACKEND_KEEP_RUNNING", "1");
        description.outputFd = log.fd();
        auto launched = platform::ProcessLauncher::system().launch(description);
        QVERIFY2(launched.process, qPrintable(launched.error));
        auto &backend = *launched.process;
        const auto cleanup = qScopeGuard([&backend] {
            if (backend.isRunning())
                ::kill(pid_t(backend.pid()), SIGKILL);
        });
        QTRY_VERIFY_WITH_TIMEOUT(test::readFile(logPath).contains("fake_backend: listening"), test::patience);

        if (processFirst)
            backend.requestTermination();
        else
            platform::requestTerminationOfChildren();
        // Recorded before anyone asks again, so that a second request could not merge with it.
        QTRY_COMPARE_WITH_TIMEOUT(test::readFile(requests), QByteArray("SIGTERM\n"), test::patience);
        platform::requestTerminationOfChildren();
        backend.requestTermination();
        backend.requestTermination();

        // SIGINT ends it, after it has recorded whatever request is still pending.
        ::kill(pid_t(backend.pid()), SIGINT);
        QTRY_VERIFY_WITH_TIMEOUT(!backend.isRunning(), test::patience);
        QCOMPARE(test::readFile(requests), QByteArray("SIGTERM\n"));
        QVERIFY(test::readFile(logPath).contains("fake_backend: stopped"));
    }

    void childIsAskedToGoWhenItsLauncherIsKilled()
    {
        // The child does not watch its parent: only its watch can tell it that the program
        // that launched it is gone, and does so once.
        QTemporaryDir dir;
        const QString requests = dir.filePath("requests");
        const QString logPath = dir.filePath("out.log");
        platform::FileHandle log(
            ::open(QFile::encodeName(logPath).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
        platform::ProcessDescription description;
        description.executable = test::helperProgram("launch_and_wait");
        description.arguments = {test::helperProgram("run_until_signal"), requests};
        description.workingDirectory = dir.path();
        description.environment = QProcessEnvironment::systemEnvironment();
        description.outputFd = log.fd();
        auto launcher = platform::ProcessLauncher::system().launch(description);
        QVERIFY2(launcher.process, qPrintable(launcher.error));

        // Its handler is in place once it has printed its line.
        const QRegularExpression launched(QStringLiteral("launch_and_wait: launched (\\d+)"));
        QTRY_VERIFY_WITH_TIMEOUT(test::readFile(logPath).contains("run_until_signal: pid")
                                     && launched.match(QString::fromUtf8(test::readFile(logPath))).hasMatch(),
                                 test::patience);
        const qint64 child = launched.match(QString::fromUtf8(test::readFile(logPath))).captured(1).toLongLong();
        QVERIFY(child > 0);
        const auto cleanup = qScopeGuard([child] {
            if (processState(child) != 0 && processState(child) != 'Z')
                ::kill(pid_t(child), SIGKILL);
        });

        ::kill(pid_t(launcher.process->pid()), SIGKILL);
        QTRY_VERIFY_WITH_TIMEOUT(!launcher.process->isRunning(), test::patience);
        QTRY_COMPARE_WITH_TIMEOUT(test::readFile(requests), QByteArray("SIGTERM\n"), test::patience);
        QTRY_VERIFY_WITH_TIMEOUT(processState(child) == 0 || processState(child) == 'Z', test::patience);
    }

private:
    // The state letters of this process's children, one each, from /proc; empty when none.
    static QByteArray childStates()
    {
        QByteArray states;
        const QFileInfoList tasks = QDir(QStringLiteral("/proc/self/task")).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QFileInfo &task : tasks) {
            for (const QByteArray &pid : test::readFile(task.filePath() + QStringLiteral("/children")).split(' ')) {
                if (!pid.trimmed().isEmpty())
                    states += processState(pid.trimmed().toLongLong());
            }
        }
        return states;
    }

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

    void packageOwnershipReadsTheVelmoraListOnly_data()
    {
        QTest::addColumn<QString>("listName");
        QTest::addColumn<QByteArray>("listed");
        QTest::addColumn<bool>("owned");

        const QByteArray bundle = "/usr/lib/velmora/bin/velmora";
        QTest::newRow("the package's own list") << "velmora.list"
                                                << "/.\n/usr/lib/velmora\n" + bundle + "\n"
                                                << true;
        QTest::newRow("its list named with the architecture")
            << QStringLiteral("velmora:%1.list").arg(QLatin1String(platform::PackageOwnership::debianArchitecture()))
            << "/.\n" + bundle << true;
        QTest::newRow("its list for another architecture") << "velmora:s390x-other.list" << bundle + "\n" << false;
        QTest::newRow("the path as the list's first line") << "velmora.list" << bundle + "\n/usr/bin/velmora\n" << true;
        QTest::newRow("another package's list is not read") << "other-tools.list" << bundle + "\n" << false;
        QTest::newRow("a package whose name only begins alike") << "velmora-extras.list" << bundle + "\n" << false;
        QTest::newRow("a longer path is another file") << "velmora.list" << bundle + "-old\n" << false;
    }

    void packageOwnershipReadsTheVelmoraListOnly()
    {
        QFETCH(QString, listName);
        QFETCH(QByteArray, listed);
        QFETCH(bool, owned);
        QTemporaryDir info;
        QVERIFY(info.isValid());
        QVERIFY(test::writeFile(info.filePath(listName), listed));
        const platform::PackageOwnership packages(info.path());
        QCOMPARE(packages.ownsPath(QStringLiteral("/usr/lib/velmora/bin/velmora")), owned);
        QCOMPARE(platform::PackageOwnership::listedByPackage(info.path(), QStringLiteral("/usr/lib/velmora/bin/velmora")),
                 owned);
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
