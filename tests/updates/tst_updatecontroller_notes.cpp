// The release-notes load over real HTTPS on the loopback interface: a TLS server with a
// certificate for "localhost" made at run time, trusted only by this test's HTTP client.
#include "ScriptedUpdater.h"

#include "platform/Bundle.h"
#include "platform/HttpClient.h"
#include "updates/UpdateController.h"

#include <QHash>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace velmora;
using test::ScriptedController;
using updates::UpdateController;

namespace {

constexpr qint64 limit = 262144;

struct Answer
{
    int status = 200;
    QByteArray body;
    bool hang = false; // accept, never answer
};

class HttpsServer : public QObject
{
public:
    bool listen(const QString &certificatePath, const QString &keyPath)
    {
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        const auto certificates = QSslCertificate::fromPath(certificatePath);
        QFile keyFile(keyPath);
        if (certificates.isEmpty() || !keyFile.open(QIODevice::ReadOnly))
            return false;
        configuration.setLocalCertificate(certificates.first());
        configuration.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Ec));
        configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
        m_server.setSslConfiguration(configuration);
        connect(&m_server, &QSslServer::startedEncryptionHandshake, this, [this] { ++connections; });
        connect(&m_server, &QTcpServer::pendingConnectionAvailable, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection())
                serve(socket);
        });
        return m_server.listen(QHostAddress::LocalHost, 0);
    }

    QUrl url(const QString &path, const QString &scheme = QStringLiteral("https")) const
    {
        return QUrl(QStringLiteral("%1://localhost:%2%3").arg(scheme).arg(m_server.serverPort()).arg(path));
    }

    QHash<QString, Answer> answers;
    QStringList requests;
    int connections = 0;
    int hangingClosed = 0;

private:
    void serve(QTcpSocket *socket)
    {
        socket->setParent(this);
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
            buffer->append(socket->readAll());
            if (!buffer->contains("\r\n\r\n"))
                return;
            const QString path = QString::fromLatin1(buffer->left(buffer->indexOf("\r\n")).split(' ').value(1));
            buffer->clear();
            requests.append(path);
            const Answer answer = answers.value(path, Answer{404, "missing", false});
            if (answer.hang) {
                connect(socket, &QTcpSocket::disconnected, this, [this] { ++hangingClosed; });
                return;
            }
            QByteArray response = "HTTP/1.1 " + QByteArray::number(answer.status) + " Status\r\n";
            if (answer.status != 204 && answer.status != 304)
                response += "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\n";
            response += "Content-Type: text/html; charset=utf-8\r\nConnection: close\r\n\r\n";
            if (answer.status != 204 && answer.status != 304)
                response += answer.body;
            socket->write(response);
            socket->disconnectFromHost();
        });
    }

    QSslServer m_server;
};

// A client whose answer arrives a little later whatever happens to the request meanwhile: a
// transfer that had already completed when its load was cancelled, as far as the load can tell.
class LateHttpClient : public platform::HttpClient
{
public:
    platform::HttpResponse answer;
    int answered = 0;

    QCoro::Task<platform::HttpResponse> get(QUrl, std::chrono::milliseconds, platform::CancelToken, qint64) override
    {
        co_await platform::sleepFor(std::chrono::milliseconds(50));
        ++answered;
        co_return answer;
    }
};

QByteArray paragraphOfSize(qint64 size)
{
    return "<p>" + QByteArray(size - 7, 'a') + "</p>";
}

void drainEvents()
{
    for (int round = 0; round < 3; ++round) {
        bool ran = false;
        QTimer::singleShot(0, [&ran] { ran = true; });
        QTRY_VERIFY(ran);
    }
}

} // namespace

class TestUpdateControllerNotes : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
        QCoreApplication::setOrganizationName(QStringLiteral("VelmoraTests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_updatecontroller_notes"));

        const QString certificate = m_dir.filePath(QStringLiteral("localhost.pem"));
        const QString key = m_dir.filePath(QStringLiteral("localhost.key"));
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"),
                      {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                       QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                       QStringLiteral("-keyout"), key, QStringLiteral("-out"), certificate, QStringLiteral("-days"),
                       QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=localhost"),
                       QStringLiteral("-addext"), QStringLiteral("subjectAltName=DNS:localhost")});
        QVERIFY(openssl.waitForFinished(60000));
        QCOMPARE(openssl.exitCode(), 0);

        QVERIFY(m_server.listen(certificate, key));
        QSslConfiguration trusted = QSslConfiguration::defaultConfiguration();
        trusted.addCaCertificates(QSslCertificate::fromPath(certificate));
        m_http.setSslConfiguration(trusted);

        m_server.answers.insert(QStringLiteral("/limit"), {200, paragraphOfSize(limit), false});
        m_server.answers.insert(QStringLiteral("/over-limit"), {200, paragraphOfSize(limit + 1), false});
        m_server.answers.insert(QStringLiteral("/notes"), {200, QByteArray("<html><p>**새 기능**<br>버그 수정 &amp; 개선</p><p>later</p>"), false});
        m_server.answers.insert(QStringLiteral("/second"), {200, QByteArray("<p>second notes</p>"), false});
        m_server.answers.insert(QStringLiteral("/no-content"), {204, {}, false});
        m_server.answers.insert(QStringLiteral("/not-modified"), {304, {}, false});
        m_server.answers.insert(QStringLiteral("/server-error"), {500, QByteArray("<p>error page</p>"), false});
        m_server.answers.insert(QStringLiteral("/invalid-utf8"), {200, QByteArray("<p>caf\xe9</p>"), false});
        m_server.answers.insert(QStringLiteral("/truncated-utf8"), {200, QByteArray("<p>x</p>\xed\x95"), false});
        m_server.answers.insert(QStringLiteral("/no-paragraph"), {200, QByteArray("<html>nothing</html>"), false});
        m_server.answers.insert(QStringLiteral("/slow"), {200, {}, true});
    }

    void loadOutcome_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("notes"); // empty = the load fails

        QTest::newRow("first paragraph as text") << "/notes" << QString::fromUtf8("**새 기능**\n버그 수정 & 개선");
        QTest::newRow("exactly 262144 bytes accepted") << "/limit" << QString(limit - 7, QLatin1Char('a'));
        QTest::newRow("one byte more refused") << "/over-limit" << QString();
        QTest::newRow("204 refused") << "/no-content" << QString();
        QTest::newRow("304 refused") << "/not-modified" << QString();
        QTest::newRow("500 refused") << "/server-error" << QString();
        QTest::newRow("404 refused") << "/missing" << QString();
        QTest::newRow("invalid UTF-8 refused") << "/invalid-utf8" << QString();
        QTest::newRow("truncated UTF-8 refused") << "/truncated-utf8" << QString();
        QTest::newRow("no usable notes refused") << "/no-paragraph" << QString();
    }

    void loadOutcome()
    {
        QFETCH(QString, path);
        QFETCH(QString, notes);

        auto h = harness();
        const qsizetype requestsBefore = m_server.requests.size();
        checkAndFind(*h, m_server.url(path));
        QVERIFY(h->controller->isLoadingNotes());
        QVERIFY(h->controller->releaseNotesTask().isValid());
        QTRY_VERIFY_WITH_TIMEOUT(!h->controller->isLoadingNotes(), 20000);

        QCOMPARE(m_server.requests.mid(requestsBefore), QStringList{path});
        QCOMPARE(h->controller->releaseNotes(), notes);
        QCOMPARE(h->controller->notesFailed(), notes.isEmpty());
    }

    void refusedAddressesMakeNoRequest_data()
    {
        QTest::addColumn<QUrl>("address");
        QTest::addColumn<QStringList>("allowedHosts");

        const QStringList allowed{QStringLiteral("localhost"), QStringLiteral("notes.invalid")};
        QTest::newRow("http") << m_server.url(QStringLiteral("/notes"), QStringLiteral("http")) << allowed;
        QTest::newRow("allowed host in other letter case")
            << m_server.url(QStringLiteral("/notes")) << QStringList{QStringLiteral("LocalHost"), QStringLiteral("notes.invalid")};
        QTest::newRow("host not on the list") << m_server.url(QStringLiteral("/notes"))
                                              << QStringList{QStringLiteral("updates.invalid"), QStringLiteral("notes.invalid")};
        QTest::newRow("loopback address instead of the name")
            << QUrl(m_server.url(QStringLiteral("/notes")).toString().replace(QStringLiteral("localhost"), QStringLiteral("127.0.0.1")))
            << allowed;
        QTest::newRow("no address") << QUrl() << allowed;
    }

    void refusedAddressesMakeNoRequest()
    {
        QFETCH(QUrl, address);
        QFETCH(QStringList, allowedHosts);

        auto h = harness(allowedHosts);
        const int connectionsBefore = m_server.connections;
        const qsizetype requestsBefore = m_server.requests.size();
        checkAndFind(*h, address.isEmpty() ? std::nullopt : std::optional<QUrl>(address));
        // Refused at once, before any task starts.
        QVERIFY(h->controller->notesFailed());
        QVERIFY(!h->controller->isLoadingNotes());
        QVERIFY(!h->controller->releaseNotesTask().isValid());
        drainEvents();
        QCOMPARE(m_server.connections, connectionsBefore);
        QCOMPARE(m_server.requests.size(), requestsBefore);
    }

    void loadCancelledByANewerCheckWritesNothing()
    {
        auto h = harness();
        const int closedBefore = m_server.hangingClosed;
        checkAndFind(*h, m_server.url(QStringLiteral("/slow")));
        QTRY_VERIFY_WITH_TIMEOUT(m_server.requests.endsWith(QStringLiteral("/slow")), 20000);
        const platform::TaskHandle stale = h->controller->releaseNotesTask();
        h->engine->finishCycle();

        // The newer check finds nothing; the cancelled load must not report its abort.
        h->controller->refreshUpdateInformation();
        QVERIFY(stale.isCancelled());
        QTRY_COMPARE_WITH_TIMEOUT(m_server.hangingClosed, closedBefore + 1, 20000);
        drainEvents();
        QCOMPARE(h->controller->notesFailed(), false);
        QCOMPARE(h->controller->isLoadingNotes(), false);
        QCOMPARE(h->controller->releaseNotes(), QString());

        // Its own find loads its own notes.
        h->engine->findUpdate(item(m_server.url(QStringLiteral("/second"))));
        QTRY_VERIFY_WITH_TIMEOUT(!h->controller->isLoadingNotes(), 20000);
        QCOMPARE(h->controller->releaseNotes(), QStringLiteral("second notes"));
        QCOMPARE(h->controller->notesFailed(), false);
    }

    void newerFindCancelsTheRunningLoad()
    {
        auto h = harness();
        checkAndFind(*h, m_server.url(QStringLiteral("/slow")));
        const platform::TaskHandle first = h->controller->releaseNotesTask();
        // A second find in the same cycle starts a new load and cancels the first.
        h->engine->findUpdate(item(m_server.url(QStringLiteral("/second"))));
        QVERIFY(first.isCancelled());
        QTRY_VERIFY_WITH_TIMEOUT(!h->controller->isLoadingNotes(), 20000);
        QCOMPARE(h->controller->releaseNotes(), QStringLiteral("second notes"));
        QCOMPARE(h->controller->notesFailed(), false);
    }

    void answerAfterTheCancelWritesNothing_data()
    {
        QTest::addColumn<bool>("received");
        QTest::newRow("notes arrive after the cancel") << true;
        QTest::newRow("transport failure after the cancel") << false;
    }

    void answerAfterTheCancelWritesNothing()
    {
        QFETCH(bool, received);
        LateHttpClient late;
        late.answer.received = received;
        late.answer.status = received ? 200 : 0;
        late.answer.body = received ? QByteArray("<p>stale notes</p>") : QByteArray();

        auto h = harness({QStringLiteral("localhost"), QStringLiteral("notes.invalid")}, &late);
        checkAndFind(*h, m_server.url(QStringLiteral("/notes")));
        QVERIFY(h->controller->isLoadingNotes());
        h->engine->finishCycle();
        h->controller->refreshUpdateInformation(); // cancels the load still waiting for its answer

        QSignalSpy notes(h->controller.get(), &UpdateController::releaseNotesChanged);
        QSignalSpy loading(h->controller.get(), &UpdateController::isLoadingNotesChanged);
        QSignalSpy failed(h->controller.get(), &UpdateController::notesFailedChanged);
        QTRY_COMPARE_WITH_TIMEOUT(late.answered, 1, 20000);
        drainEvents();
        QCOMPARE(notes.count(), 0);
        QCOMPARE(loading.count(), 0);
        QCOMPARE(failed.count(), 0);
        QCOMPARE(h->controller->releaseNotes(), QString());
        QCOMPARE(h->controller->isLoadingNotes(), false);
        QCOMPARE(h->controller->notesFailed(), false);
    }

private:
    struct Harness
    {
        platform::FixedBundle bundle;
        ScriptedController *engine = nullptr;
        std::unique_ptr<UpdateController> controller;
    };

    static updates::UpdateItem item(std::optional<QUrl> notes)
    {
        updates::UpdateItem found;
        found.versionString = found.displayVersionString = QStringLiteral("3.0.0");
        found.releaseNotesURL = std::move(notes);
        return found;
    }

    std::unique_ptr<Harness> harness(QStringList allowedHosts = {QStringLiteral("localhost"), QStringLiteral("notes.invalid")},
                                     platform::HttpClient *http = nullptr)
    {
        auto h = std::make_unique<Harness>();
        UpdateController::Dependencies deps;
        deps.controllerFactory = ScriptedController::factory(&h->engine);
        deps.bundle = &h->bundle;
        deps.http = http ? http : &m_http;
        deps.releaseNotesHosts = std::move(allowedHosts);
        h->controller = std::make_unique<UpdateController>(std::move(deps));
        h->controller->controller();
        h->engine->scripted.automaticChecks = false;
        return h;
    }

    // Runs an information check that finds an update with the given notes address.
    void checkAndFind(Harness &h, std::optional<QUrl> notes)
    {
        h.controller->start();
        QTRY_VERIFY_WITH_TIMEOUT(h.controller->canCheckForUpdates(), 20000);
        h.controller->refreshUpdateInformation();
        QVERIFY(h.controller->isChecking());
        h.engine->findUpdate(item(std::move(notes)));
        QVERIFY(h.controller->updateAvailable());
    }

    QTemporaryDir m_dir;
    HttpsServer m_server;
    platform::HttpClient m_http;
};

QTEST_MAIN(TestUpdateControllerNotes)
#include "tst_updatecontroller_notes.moc"
