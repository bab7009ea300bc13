// The release-notes load over real HTTPS on the loopback interface: a TLS server with a
// certificate for "localhost" made at run time, trusted only by this test's HTTP client.
#include "TlsTestServer.h"
#include "UpdateHarness.h"

#include "platform/Bundle.h"
#include "platform/HttpClient.h"
#include "updates/UpdateController.h"

#include <QHash>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace velmora;
using test::drainEvents;
using test::ScriptedController;
using updates::UpdateController;

namespace {

constexpr qint64 limit = 262144;

// A page of release notes as the notes server sends it.
test::HttpReply page(int status, const QByteArray &body = {})
{
    return test::HttpReply{status, body, {{"Content-Type", "text/html; charset=utf-8"}}, false};
}

// The address of url as a feed could write it, with written in place of the first occurrence
// of what.
QString written(const QUrl &url, const QString &what = {}, const QString &written = {})
{
    QString text = url.toString();
    if (!what.isEmpty())
        text.replace(text.indexOf(what), what.size(), written);
    return text;
}

// A client whose answer arrives a little later whatever happens to the request meanwhile: a
// transfer that had already completed when its load was cancelled, as far as the load can tell.
class LateHttpClient : public platform::HttpClient
{
public:
    platform::HttpResponse answer;
    int answered = 0;

    QCoro::Task<platform::HttpResponse> get(QUrl, platform::RedirectPolicy, std::chrono::milliseconds, platform::CancelToken,
                                            qint64) override
    {
        co_await platform::sleepFor(std::chrono::milliseconds(50));
        ++answered;
        co_return answer;
    }
};

test::HttpReply moved(int status, const QByteArray &location)
{
    return test::HttpReply{status, {}, {{"Location", location}}, false};
}

QByteArray paragraphOfSize(qint64 size)
{
    return "<p>" + QByteArray(size - 7, 'a') + "</p>";
}

} // namespace

class TestUpdateControllerNotes : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_settings.isValid());

        QVERIFY2(m_server.listen(), qPrintable(m_server.errorString()));
        m_http.setSslConfiguration(m_server.clientConfiguration());

        m_answers.insert(QStringLiteral("/limit"), page(200, paragraphOfSize(limit)));
        m_answers.insert(QStringLiteral("/over-limit"), page(200, paragraphOfSize(limit + 1)));
        m_answers.insert(QStringLiteral("/notes"),
                         page(200, QByteArray("<html><p>**새 기능**<br>버그 수정 &amp; 개선</p><p>later</p>")));
        m_answers.insert(QStringLiteral("/second"), page(200, QByteArray("<p>second notes</p>")));
        m_answers.insert(QStringLiteral("/no-content"), page(204));
        m_answers.insert(QStringLiteral("/not-modified"), page(304));
        m_answers.insert(QStringLiteral("/server-error"), page(500, QByteArray("<p>error page</p>")));
        m_answers.insert(QStringLiteral("/invalid-utf8"), page(200, QByteArray("<p>caf\xe9</p>")));
        m_answers.insert(QStringLiteral("/truncated-utf8"), page(200, QByteArray("<p>x</p>\xed\x95")));
        m_answers.insert(QStringLiteral("/no-paragraph"), page(200, QByteArray("<html>nothing</html>")));
        m_answers.insert(QStringLiteral("/slow"), test::HttpReply{200, {}, {}, /*hang=*/true});
        const QByteArray port = QByteArray::number(m_server.port());
        m_answers.insert(QStringLiteral("/moved"), moved(301, "/notes"));
        m_answers.insert(QStringLiteral("/moved-twice"), moved(302, "https://localhost:" + port + "/moved"));
        m_answers.insert(QStringLiteral("/moved-to-address"), moved(301, "https://127.0.0.1:" + port + "/notes"));
        m_answers.insert(QStringLiteral("/moved-to-capitals"), moved(301, "https://LOCALHOST:" + port + "/notes"));
        m_answers.insert(QStringLiteral("/moved-to-http"), moved(302, "http://localhost:" + port + "/notes"));
        m_answers.insert(QStringLiteral("/loop"), moved(302, "/loop"));
        m_server.setHandler(
            [this](const QByteArray &, const QString &path) { return m_answers.value(path, page(404, "missing")); });
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
        const qsizetype requestsBefore = m_server.requests().size();
        checkAndFind(*h, written(m_server.url(path)));
        QVERIFY(h->controller->isLoadingNotes());
        QVERIFY(h->controller->releaseNotesTask().isValid());
        QTRY_VERIFY_WITH_TIMEOUT(!h->controller->isLoadingNotes(), test::patience);

        QCOMPARE(m_server.requests().mid(requestsBefore), QStringList{path});
        QCOMPARE(h->controller->releaseNotes(), notes);
        QCOMPARE(h->controller->notesFailed(), notes.isEmpty());
    }

    // Notes that moved are followed, over https and to the release-notes hosts only.
    void loadFollowsRedirectsOnTheNotesHostsOnly_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("requests");
        QTest::addColumn<bool>("loaded");

        const QString notes = QStringLiteral("/notes");
        QTest::newRow("moved permanently") << "/moved" << QStringList{"/moved", notes} << true;
        QTest::newRow("moved twice, the second time by full address")
            << "/moved-twice" << QStringList{"/moved-twice", "/moved", notes} << true;
        QTest::newRow("moved to a host not on the list") << "/moved-to-address" << QStringList{"/moved-to-address"} << false;
        QTest::newRow("moved to the host in other letter case")
            << "/moved-to-capitals" << QStringList{"/moved-to-capitals"} << false;
        QTest::newRow("moved to http") << "/moved-to-http" << QStringList{"/moved-to-http"} << false;
        QTest::newRow("moved in a loop") << "/loop" << QStringList(6, QStringLiteral("/loop")) << false;
    }

    void loadFollowsRedirectsOnTheNotesHostsOnly()
    {
        QFETCH(QString, path);
        QFETCH(QStringList, requests);
        QFETCH(bool, loaded);

        auto h = harness();
        const qsizetype requestsBefore = m_server.requests().size();
        checkAndFind(*h, written(m_server.url(path)));
        QTRY_VERIFY_WITH_TIMEOUT(!h->controller->isLoadingNotes(), test::patience);
        QCOMPARE(m_server.requests().mid(requestsBefore), requests);
        QCOMPARE(h->controller->notesFailed(), !loaded);
        QCOMPARE(h->controller->releaseNotes(), loaded ? QString::fromUtf8("**새 기능**\n버그 수정 & 개선") : QString());
    }

    void refusedAddressesMakeNoRequest_data()
    {
        QTest::addColumn<QString>("address"); // as the feed wrote it; empty for none
        QTest::addColumn<QStringList>("allowedHosts");

        const QStringList allowed{QStringLiteral("localhost"), QStringLiteral("notes.invalid")};
        const QUrl notes = m_server.url(QStringLiteral("/notes"));
        QTest::newRow("http") << written(notes, QStringLiteral("https:"), QStringLiteral("http:")) << allowed;
        QTest::newRow("scheme written in capitals")
            << written(notes, QStringLiteral("https:"), QStringLiteral("HTTPS:")) << allowed;
        QTest::newRow("scheme written in mixed case")
            << written(notes, QStringLiteral("https:"), QStringLiteral("Https:")) << allowed;
        QTest::newRow("host written in other letter case")
            << written(notes, QStringLiteral("localhost"), QStringLiteral("LocalHost")) << allowed;
        QTest::newRow("allowed host configured in other letter case")
            << written(notes) << QStringList{QStringLiteral("LocalHost"), QStringLiteral("notes.invalid")};
        QTest::newRow("host not on the list")
            << written(notes) << QStringList{QStringLiteral("updates.invalid"), QStringLiteral("notes.invalid")};
        QTest::newRow("loopback address instead of the name")
            << written(notes, QStringLiteral("localhost"), QStringLiteral("127.0.0.1")) << allowed;
        QTest::newRow("allowed host as the user part")
            << written(notes, QStringLiteral("localhost"), QStringLiteral("localhost@127.0.0.1")) << allowed;
        QTest::newRow("no address") << QString() << allowed;
    }

    void refusedAddressesMakeNoRequest()
    {
        QFETCH(QString, address);
        QFETCH(QStringList, allowedHosts);

        auto h = harness(allowedHosts);
        const int connectionsBefore = m_server.connections();
        const qsizetype requestsBefore = m_server.requests().size();
        checkAndFind(*h, address.isEmpty() ? std::nullopt : std::optional<QString>(address));
        // Refused at once, before any task starts.
        QVERIFY(h->controller->notesFailed());
        QVERIFY(!h->controller->isLoadingNotes());
        QVERIFY(!h->controller->releaseNotesTask().isValid());
        drainEvents();
        QCOMPARE(m_server.connections(), connectionsBefore);
        QCOMPARE(m_server.requests().size(), requestsBefore);
    }

    void loadCancelledByANewerCheckWritesNothing()
    {
        auto h = harness();
        const int closedBefore = m_server.hangingClosed();
        checkAndFind(*h, written(m_server.url(QStringLiteral("/slow"))));
        QTRY_VERIFY_WITH_TIMEOUT(m_server.requests().endsWith(QStringLiteral("/slow")), test::patience);
        const platform::TaskHandle stale = h->controller->releaseNotesTask();
        h->engine->finishCycle();

        // The newer check finds nothing; the cancelled load must not report its abort.
        h->controller->refreshUpdateInformation();
        QVERIFY(stale.isCancelled());
        QTRY_COMPARE_WITH_TIMEOUT(m_server.hangingClosed(), closedBefore + 1, test::patience);
        drainEvents();
        QCOMPARE(h->controller->notesFailed(), false);
        QCOMPARE(h->controller->isLoadingNotes(), false);
        QCOMPARE(h->controller->releaseNotes(), QString());

        // Its own find loads its own notes.
        h->engine->findUpdate(item(written(m_server.url(QStringLiteral("/second")))));
        QTRY_VERIFY_WITH_TIMEOUT(!h->controller->isLoadingNotes(), test::patience);
        QCOMPARE(h->controller->releaseNotes(), QStringLiteral("second notes"));
        QCOMPARE(h->controller->notesFailed(), false);
    }

    void newerFindCancelsTheRunningLoad()
    {
        auto h = harness();
        checkAndFind(*h, written(m_server.url(QStringLiteral("/slow"))));
        const platform::TaskHandle first = h->controller->releaseNotesTask();
        // A second find in the same cycle starts a new load and cancels the first.
        h->engine->findUpdate(item(written(m_server.url(QStringLiteral("/second")))));
        QVERIFY(first.isCancelled());
        QTRY_VERIFY_WITH_TIMEOUT(!h->controller->isLoadingNotes(), test::patience);
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
        checkAndFind(*h, written(m_server.url(QStringLiteral("/notes"))));
        QVERIFY(h->controller->isLoadingNotes());
        h->engine->finishCycle();
        h->controller->refreshUpdateInformation(); // cancels the load still waiting for its answer

        QSignalSpy notes(h->controller.get(), &UpdateController::releaseNotesChanged);
        QSignalSpy loading(h->controller.get(), &UpdateController::isLoadingNotesChanged);
        QSignalSpy failed(h->controller.get(), &UpdateController::notesFailedChanged);
        QTRY_COMPARE_WITH_TIMEOUT(late.answered, 1, test::patience);
        drainEvents();
        QCOMPARE(notes.count(), 0);
        QCOMPARE(loading.count(), 0);
        QCOMPARE(failed.count(), 0);
        QCOMPARE(h->controller->releaseNotes(), QString());
        QCOMPARE(h->controller->isLoadingNotes(), false);
        QCOMPARE(h->controller->notesFailed(), false);
    }

private:
    using Harness = test::UpdateHarness;

    static updates::UpdateItem item(std::optional<QString> notes)
    {
        updates::UpdateItem found;
        found.versionString = found.displayVersionString = QStringLiteral("3.0.0");
        if (notes)
            found.releaseNotesURL = platform::LiteralUrl(*notes);
        return found;
    }

    std::unique_ptr<Harness> harness(QStringList allowedHosts = {QStringLiteral("localhost"),
                                                                 QStringLiteral("notes.invalid")},
                                     platform::HttpClient *http = nullptr)
    {
        return std::make_unique<Harness>(Harness::Options{.version = QVariant(),
                                                          .automaticChecks = false,
                                                          .http = http ? http : &m_http,
                                                          .releaseNotesHosts = std::move(allowedHosts)});
    }

    // Runs an information check that finds an update with the given notes address.
    void checkAndFind(Harness &h, std::optional<QString> notes)
    {
        h.controller->start();
        QTRY_VERIFY_WITH_TIMEOUT(h.controller->canCheckForUpdates(), test::patience);
        h.controller->refreshUpdateInformation();
        QVERIFY(h.controller->isChecking());
        h.engine->findUpdate(item(std::move(notes)));
        QVERIFY(h.controller->updateAvailable());
    }

    test::TemporarySettings m_settings;
    QHash<QString, test::HttpReply> m_answers;
    test::LoopbackHttpsServer m_server;
    platform::HttpClient m_http;
};

QTEST_MAIN(TestUpdateControllerNotes)
#include "tst_updatecontroller_notes.moc"
