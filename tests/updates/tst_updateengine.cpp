#include "updates/SettingsKeys.h"
#include "updates/UpdateEngine.h"

#include "TestSupport.h"
#include "TlsTestServer.h"
#include "UpdateEngineFixtures.h"
#include "platform/HttpClient.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTest>

using namespace velmora;
using namespace velmora::updates;
using velmora::test::boolValues;
using velmora::test::feed;
using velmora::test::HttpReply;
using velmora::test::item;
using velmora::test::RecordingDelegates;

namespace {

using test::patience;

} // namespace

// The engine alone, as it decides: the check cycle, its delegates and the install path's rules.
class TestUpdateEngine : public test::EngineTestCase
{
    Q_OBJECT
private slots:
    void initTestCase() { setUpTestCase(); }
    void init() { setUpCase(); }
    void cleanup() { tearDownCase(); }

    void informationCheck_data();
    void informationCheck();
    void backgroundCheckAsksTheUserDriver_data();
    void backgroundCheckAsksTheUserDriver();
    void feedRedirectsStayOnTheFeedsHost_data();
    void feedRedirectsStayOnTheFeedsHost();
    void feedAddressRefusedWithoutRequest_data();
    void feedAddressRefusedWithoutRequest();
    void transportFailures_data();
    void transportFailures();
    void allowedChannelReachesTheFeed();
    void canCheckIsAnnouncedLater();
    void checkRefusedWhenItCannotRun();
    void engineGoneDuringRequest();
    void settingsRoundTrip();
    void rolledBackVersionIsNotOfferedByItself();
    void automaticDownloadPreparesWithoutAWord();
};

void TestUpdateEngine::informationCheck_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("foundVersion"); // empty: nothing found
    QTest::addColumn<int>("errorCode");        // 0: the cycle ends without an error

    QTest::newRow("higher linux item") << 200 << feed(item("1.1")) << "1.1" << 0;
    QTest::newRow("highest of several") << 200 << feed(item("1.2") + item("2.0") + item("1.10") + item("0.9")) << "2.0" << 0;
    QTest::newRow("only lower or equal") << 200 << feed(item("0.9") + item("1.0.0")) << "" << 1001;
    QTest::newRow("empty feed") << 200 << feed({}) << "" << 1001;
    QTest::newRow("mac-only items ignored")
        << 200 << feed(item("9.0", "macos") + item("8.0", {}) + item("0.5")) << "" << 1001;
    // A validly signed archive for another processor must never be installed.
    QTest::newRow("another architecture's newer item passed over")
        << 200
        << feed(item("3.0", "linux",
                     " xmlns:velmora=\"https://velmora.app/xml-namespaces/update\" velmora:arch=\"s390x-other\"")
                + item("1.2"))
        << "1.2" << 0;
    QTest::newRow("an item naming no architecture is not offered") << 200 << feed(item("3.0", "linux", {})) << "" << 1001;
    QTest::newRow("garbage instead of a feed") << 200 << QByteArray("<html><p>captive portal") << "" << 1000;
    QTest::newRow("not found") << 404 << QByteArray("not here") << "" << 1002;
    QTest::newRow("server error") << 500 << feed(item("2.0")) << "" << 1002;
    QTest::newRow("redirect without a location") << 302 << QByteArray() << "" << 1002;
}

void TestUpdateEngine::informationCheck()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, foundVersion);
    QFETCH(int, errorCode);

    m_server->setHandler([&](const QByteArray &, const QString &path) {
        return path == QLatin1String("/appcast.xml") ? HttpReply{status, body, {}, false} : HttpReply{404, {}, {}, false};
    });
    auto engine = makeEngine(feedUrl());
    engine->startUpdater();
    engine->checkForUpdateInformation();
    QVERIFY(engine->sessionInProgress());
    QVERIFY(!engine->canCheckForUpdates());

    QTRY_COMPARE_WITH_TIMEOUT(m_delegates.finished.size(), 1, patience);
    QCOMPARE(m_server->requests(), QStringList{QStringLiteral("/appcast.xml")});
    QCOMPARE(m_delegates.finished.first().kind, UpdateCheckKind::UpdateInformation);
    QCOMPARE(m_delegates.onlyErrorCode(), errorCode);
    if (errorCode != 0)
        QVERIFY(!m_delegates.finished.first().error->description.isEmpty());
    QVERIFY(!engine->sessionInProgress());
    QVERIFY(engine->canCheckForUpdates());

    if (foundVersion.isEmpty()) {
        QVERIFY(m_delegates.found.isEmpty());
        QCOMPARE(m_delegates.events, QStringList{QStringLiteral("finish")});
        return;
    }
    QCOMPARE(m_delegates.found.size(), 1);
    const UpdateItem &found = m_delegates.found.first();
    QCOMPARE(found.versionString, foundVersion);
    QCOMPARE(found.displayVersionString, QStringLiteral("v") + foundVersion);
    QCOMPARE(found.releaseNotesURL->text(), QStringLiteral("https://velmora.app/notes/%1.md").arg(foundVersion));
    QCOMPARE(found.downloadURL, QUrl(QStringLiteral("https://updates.velmora.app/Velmora-%1.tar.gz").arg(foundVersion)));
    // The information check shows nothing of its own and does not ask the user driver.
    QCOMPARE(m_delegates.events, (QStringList{QStringLiteral("found ") + foundVersion, QStringLiteral("finish")}));
}

void TestUpdateEngine::backgroundCheckAsksTheUserDriver_data()
{
    QTest::addColumn<bool>("engineShows");
    QTest::newRow("controller shows it") << false;
    QTest::newRow("engine shows it") << true;
}

void TestUpdateEngine::backgroundCheckAsksTheUserDriver()
{
    QFETCH(bool, engineShows);
    m_delegates.engineShowsScheduled = engineShows;
    m_server->setHandler([](const QByteArray &, const QString &) { return HttpReply{200, feed(item("1.5")), {}, false}; });

    auto engine = makeEngine(feedUrl());
    QSignalSpy shown(engine.get(), &UpdateEngine::showRequested);
    engine->startUpdater();
    engine->checkForUpdatesInBackground();
    QTRY_COMPARE_WITH_TIMEOUT(m_delegates.finished.size(), 1, patience);

    QCOMPARE(m_delegates.finished.first().kind, UpdateCheckKind::UpdatesInBackground);
    QCOMPARE(m_delegates.onlyErrorCode(), 0);
    QCOMPARE(m_delegates.events, (QStringList{
                                     QStringLiteral("found 1.5"),
                                     QStringLiteral("should show 1.5 focus=0"),
                                     QStringLiteral("will show 1.5 %1").arg(engineShows),
                                     QStringLiteral("finish"),
                                 }));
    QCOMPARE(!shown.isEmpty(), engineShows);
    QCOMPARE(engine->phase(), engineShows ? InstallPhase::Found : InstallPhase::Idle);
}

void TestUpdateEngine::feedRedirectsStayOnTheFeedsHost_data()
{
    QTest::addColumn<QString>("location"); // %1: the feed server's port
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<int>("errorCode");

    const QStringList followed{"/appcast.xml", "/v2/appcast.xml"};
    const QStringList refused{"/appcast.xml"};
    QTest::newRow("relative") << "/v2/appcast.xml" << followed << 0;
    QTest::newRow("same host by full address") << "https://localhost:%1/v2/appcast.xml" << followed << 0;
    QTest::newRow("another host") << "https://127.0.0.1:%1/v2/appcast.xml" << refused << 1002;
    QTest::newRow("to http") << "http://localhost:%1/v2/appcast.xml" << refused << 1002;
}

void TestUpdateEngine::feedRedirectsStayOnTheFeedsHost()
{
    QFETCH(QString, location);
    QFETCH(QStringList, requests);
    QFETCH(int, errorCode);

    location.replace(QLatin1String("%1"), QString::number(m_server->port()));
    m_server->setHandler([&](const QByteArray &, const QString &path) {
        if (path == QLatin1String("/appcast.xml"))
            return HttpReply{301, {}, {{"Location", location.toUtf8()}}, false};
        return HttpReply{200, feed(item("1.1")), {}, false};
    });
    auto engine = makeEngine(feedUrl());
    engine->startUpdater();
    engine->checkForUpdateInformation();
    QTRY_COMPARE_WITH_TIMEOUT(m_delegates.finished.size(), 1, test::patience);
    QCOMPARE(m_server->requests(), requests);
    QCOMPARE(m_delegates.onlyErrorCode(), errorCode);
    QCOMPARE(m_delegates.found.size(), errorCode == 0 ? 1 : 0);
}

void TestUpdateEngine::feedAddressRefusedWithoutRequest_data()
{
    QTest::addColumn<QString>("address"); // "%1" stands for a listening plain HTTP server
    QTest::addColumn<int>("errorCode");

    QTest::newRow("plain http") << "%1/appcast.xml" << int(UpdateEngineError::InsecureFeedUrl);
    QTest::newRow("ftp") << "ftp://localhost/appcast.xml" << int(UpdateEngineError::InsecureFeedUrl);
    QTest::newRow("no host") << "https:///appcast.xml" << int(UpdateEngineError::InvalidFeedUrl);
    QTest::newRow("not an address") << "appcast.xml" << int(UpdateEngineError::InvalidFeedUrl);
}

void TestUpdateEngine::feedAddressRefusedWithoutRequest()
{
    QFETCH(QString, address);
    QFETCH(int, errorCode);

    test::LoopbackHttpServer plain;
    QVERIFY(plain.listen());
    plain.setHandler([](const QByteArray &, const QString &) { return HttpReply{200, feed(item("2.0")), {}, false}; });
    if (address.contains(QLatin1String("%1")))
        address = address.arg(plain.baseUrl().toString());

    auto engine = makeEngine(address);
    engine->startUpdater();
    engine->checkForUpdateInformation();
    QVERIFY(m_delegates.finished.isEmpty()); // never inside the call
    QTRY_COMPARE_WITH_TIMEOUT(m_delegates.finished.size(), 1, patience);
    QCOMPARE(m_delegates.onlyErrorCode(), errorCode);
    QVERIFY(m_delegates.found.isEmpty());
    QVERIFY(plain.requests().isEmpty());
    QVERIFY(m_server->requests().isEmpty());
    QVERIFY(engine->canCheckForUpdates());
}

void TestUpdateEngine::transportFailures_data()
{
    QTest::addColumn<QString>("failure");
    QTest::newRow("nothing listens") << "refused";
    QTest::newRow("server never answers") << "hang";
    QTest::newRow("certificate not trusted") << "untrusted";
}

void TestUpdateEngine::transportFailures()
{
    QFETCH(QString, failure);

    QString address = feedUrl();
    std::unique_ptr<UpdateEngine> engine;
    platform::HttpClient systemTrustOnly; // knows none of the test's certificates
    const test::ReservedPort refusingPort;
    if (failure == QLatin1String("refused")) {
        address = QStringLiteral("https://localhost:%1/appcast.xml").arg(refusingPort.number());
        engine = makeEngine(address);
    } else if (failure == QLatin1String("hang")) {
        m_server->setHandler([](const QByteArray &, const QString &) { return HttpReply{200, {}, {}, true}; });
        engine = makeEngine(address, std::chrono::milliseconds(300));
    } else {
        m_server->setHandler([](const QByteArray &, const QString &) {
            return HttpReply{200, feed(item("2.0")), {}, false};
        });
        engine = std::make_unique<UpdateEngine>(m_delegates, m_delegates,
                                                UpdateEngineConfiguration{address, QStringLiteral("1.0"), &systemTrustOnly});
    }

    engine->startUpdater();
    engine->checkForUpdateInformation();
    QTRY_COMPARE_WITH_TIMEOUT(m_delegates.finished.size(), 1, patience);
    QCOMPARE(m_delegates.onlyErrorCode(), int(UpdateEngineError::AppcastUnavailable));
    QVERIFY(m_delegates.found.isEmpty());
    QVERIFY(engine->canCheckForUpdates());
    if (failure == QLatin1String("untrusted"))
        QVERIFY(m_server->requests().isEmpty());
}

void TestUpdateEngine::allowedChannelReachesTheFeed()
{
    QByteArray beta = item("1.5b1");
    beta.replace("</item>", "<sparkle:channel>beta</sparkle:channel></item>");
    m_server->setHandler([&](const QByteArray &, const QString &) {
        return HttpReply{200, feed(item("1.1") + beta), {}, false};
    });

    UpdateEngineConfiguration configuration{feedUrl(), QStringLiteral("1.0"), &m_http};
    configuration.allowedChannels = QStringList{QStringLiteral("beta")};
    UpdateEngine engine(m_delegates, m_delegates, configuration);
    engine.startUpdater();
    engine.checkForUpdateInformation();
    QTRY_COMPARE_WITH_TIMEOUT(m_delegates.finished.size(), 1, test::patience);
    QCOMPARE(m_delegates.onlyErrorCode(), 0);
    QCOMPARE(m_delegates.found.size(), 1);
    QCOMPARE(m_delegates.found.first().versionString, QStringLiteral("1.5b1"));
}

void TestUpdateEngine::canCheckIsAnnouncedLater()
{
    m_server->setHandler([](const QByteArray &, const QString &) { return HttpReply{200, feed(item("0.1")), {}, false}; });
    auto engine = makeEngine(feedUrl());
    QSignalSpy canCheck(engine.get(), &Updater::canCheckForUpdatesChanged);
    QSignalSpy automatic(engine.get(), &Updater::automaticallyChecksForUpdatesChanged);
    QVERIFY(!engine->canCheckForUpdates());
    QVERIFY(!engine->isStarted());

    engine->startUpdater();
    QVERIFY(engine->canCheckForUpdates());
    QCOMPARE(canCheck.count(), 0); // not inside startUpdater()
    // First the value it was made with, then the change.
    QTRY_COMPARE_WITH_TIMEOUT(boolValues(canCheck), (QList<bool>{false, true}), patience);
    QCOMPARE(boolValues(automatic), QList<bool>{true});

    engine->checkForUpdateInformation();
    QCOMPARE(canCheck.count(), 2); // not inside the check call either
    QTRY_COMPARE_WITH_TIMEOUT(m_delegates.finished.size(), 1, patience);
    QTRY_COMPARE_WITH_TIMEOUT(boolValues(canCheck), (QList<bool>{false, true, false, true}), patience);
    QCOMPARE(m_delegates.onlyErrorCode(), noUpdateErrorCode);
}

void TestUpdateEngine::checkRefusedWhenItCannotRun()
{
    m_server->setHandler([](const QByteArray &, const QString &) { return HttpReply{200, feed(item("3.0")), {}, false}; });
    auto engine = makeEngine(feedUrl());

    // Before startUpdater(): refused, nothing requested.
    engine->checkForUpdateInformation();
    QVERIFY(m_delegates.finished.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(m_delegates.finished.size(), 1, patience);
    QCOMPARE(m_delegates.onlyErrorCode(), int(UpdateEngineError::CheckRefused));
    QVERIFY(m_server->requests().isEmpty());

    // During a cycle: the second request is refused, the running one still ends normally.
    m_delegates = RecordingDelegates();
    engine->startUpdater();
    engine->checkForUpdatesInBackground();
    engine->checkForUpdateInformation();
    QTRY_COMPARE_WITH_TIMEOUT(m_delegates.finished.size(), 2, patience);
    QCOMPARE(m_delegates.finished.at(0).kind, UpdateCheckKind::UpdateInformation);
    QCOMPARE(m_delegates.finished.at(0).error->code, int(UpdateEngineError::CheckRefused));
    QCOMPARE(m_delegates.finished.at(1).kind, UpdateCheckKind::UpdatesInBackground);
    QVERIFY(!m_delegates.finished.at(1).error.has_value());
    QCOMPARE(m_delegates.found.size(), 1);
    QCOMPARE(m_server->requests().size(), 1);
}

void TestUpdateEngine::engineGoneDuringRequest()
{
    m_server->setHandler([](const QByteArray &, const QString &) { return HttpReply{200, {}, {}, true}; });
    auto engine = makeEngine(feedUrl());
    engine->startUpdater();
    engine->checkForUpdateInformation();
    QTRY_COMPARE_WITH_TIMEOUT(m_server->requests().size(), 1, patience);

    // The request is aborted with the engine; whatever it leaves queued must not reach the
    // delegates (nor touch the engine that is gone).
    engine.reset();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QVERIFY(m_delegates.events.isEmpty());
}

void TestUpdateEngine::settingsRoundTrip()
{
    {
        auto engine = makeEngine(feedUrl());
        QVERIFY(engine->automaticallyChecksForUpdates());  // nothing stored: on
        QVERIFY(!engine->automaticallyDownloadsUpdates()); // nothing stored: off

        QSignalSpy automatic(engine.get(), &Updater::automaticallyChecksForUpdatesChanged);
        QTRY_COMPARE_WITH_TIMEOUT(boolValues(automatic), QList<bool>{true}, patience); // the initial value
        engine->setAutomaticallyChecksForUpdates(false);
        QVERIFY(!engine->automaticallyChecksForUpdates());
        QCOMPARE(automatic.count(), 1); // announced later
        QTRY_COMPARE_WITH_TIMEOUT(boolValues(automatic), (QList<bool>{true, false}), patience);
        engine->setAutomaticallyChecksForUpdates(false); // unchanged: no announcement
        engine->setAutomaticallyDownloadsUpdates(true);
        QCoreApplication::processEvents();
        QCOMPARE(automatic.count(), 2);
    }

    QSettings settings;
    QCOMPARE(settings.value(automaticChecksKey), QVariant(false));
    QCOMPARE(settings.value(automaticDownloadsKey), QVariant(true));
    {
        // The next launch reads the stored values back unchanged.
        auto engine = makeEngine(feedUrl());
        QVERIFY(!engine->automaticallyChecksForUpdates());
        QVERIFY(engine->automaticallyDownloadsUpdates());
        QSignalSpy automatic(engine.get(), &Updater::automaticallyChecksForUpdatesChanged);
        QTRY_COMPARE_WITH_TIMEOUT(boolValues(automatic), QList<bool>{false}, patience);
        engine->setAutomaticallyChecksForUpdates(true);
        engine->setAutomaticallyDownloadsUpdates(false);
    }
    auto engine = makeEngine(feedUrl());
    QVERIFY(engine->automaticallyChecksForUpdates());
    QVERIFY(!engine->automaticallyDownloadsUpdates());
}

void TestUpdateEngine::rolledBackVersionIsNotOfferedByItself()
{
    stageInstall();
    m_delegates.engineShowsScheduled = true;
    auto engine = makeInstallEngine(installConfiguration());
    QSignalSpy shown(engine.get(), &UpdateEngine::showRequested);
    // The start that put the old version back tells the engine so.
    UpdateEngine::passOverRolledBackVersion(QStringLiteral("1.1"));
    QCOMPARE(engine->rolledBackVersion(), QStringLiteral("1.1"));

    // The launch check and the scheduled ones pass it by: no window covers the rollback's message.
    engine->checkForUpdatesInBackground();
    QTRY_COMPARE_WITH_TIMEOUT(m_delegates.finished.size(), 1, patience);
    QCOMPARE(m_delegates.onlyErrorCode(), noUpdateErrorCode);
    QCOMPARE(shown.count(), 0);

    // The user's own check still offers it.
    engine->checkForUpdates();
    QTRY_COMPARE_WITH_TIMEOUT(engine->phase(), InstallPhase::Found, patience);
    engine->later();

    // A newer version is offered again without the user.
    m_feedBody = feed(linuxItem("1.2", m_server->url(QStringLiteral("/Velmora-1.2.tar.gz")).toString().toUtf8(), 100, "x"));
    m_delegates = RecordingDelegates();
    m_delegates.engineShowsScheduled = true;
    engine->checkForUpdatesInBackground();
    QTRY_COMPARE_WITH_TIMEOUT(m_delegates.finished.size(), 1, patience);
    QCOMPARE(m_delegates.onlyErrorCode(), 0);
    QCOMPARE(engine->phase(), InstallPhase::Found);
}

void TestUpdateEngine::automaticDownloadPreparesWithoutAWord()
{
    stageInstall();
    auto engine = makeInstallEngine(installConfiguration());
    QSignalSpy shown(engine.get(), &UpdateEngine::showRequested);
    engine->setAutomaticallyDownloadsUpdates(true);
    engine->checkForUpdatesInBackground();
    QTRY_COMPARE_WITH_TIMEOUT(engine->phase(), InstallPhase::Ready, patience);
    QVERIFY(engine->installer().isReady());
    QCOMPARE(shown.count(), 0); // not a word
    QVERIFY(!m_delegates.events.contains(QStringLiteral("will show 1.1 0")));
    QCOMPARE(test::describeTree(m_bundle), m_oldTree);

    engine->installAtQuit();
    QCOMPARE(bundleVersion(), QStringLiteral("1.1"));
    QVERIFY(m_relaunched.isEmpty());
}

QTEST_GUILESS_MAIN(TestUpdateEngine)
#include "tst_updateengine.moc"
