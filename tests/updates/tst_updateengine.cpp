#include "updates/Appcast.h"
#include "updates/BundleInfo.h"
#include "updates/SettingsKeys.h"
#include "updates/Texts.h"
#include "updates/UpdateCheckView.h"
#include "updates/UpdateController.h"
#include "updates/UpdateEngine.h"
#include "updates/UpdateNotesView.h"

#include "RecordingUrlOpener.h"
#include "TestSupport.h"
#include "TlsTestServer.h"
#include "TreeSnapshot.h"
#include "UpdateFixtures.h"
#include "platform/BuildInfo.h"
#include "platform/Bundle.h"
#include "platform/HttpClient.h"
#include "platform/PackageOwnership.h"
#include "platform/Relauncher.h"

#include <QDir>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

using namespace velmora;
using namespace velmora::updates;
using velmora::test::HttpReply;

namespace {

using test::patience;

// Answers both delegates and writes down every call, in order.
class RecordingDelegates
    : public UpdaterDelegate
    , public UserDriverDelegate
{
public:
    struct Finish
    {
        UpdateCheckKind kind;
        std::optional<UpdaterError> error;
    };

    void didFindValidUpdate(Updater &, const UpdateItem &item) override
    {
        found << item;
        events << QStringLiteral("found ") + item.versionString;
    }
    void didFinishUpdateCycle(Updater &, UpdateCheckKind kind, const std::optional<UpdaterError> &error) override
    {
        finished << Finish{kind, error};
        events << QStringLiteral("finish");
    }
    bool shouldPostponeRelaunch(Updater &, const UpdateItem &item, RelaunchContinuation continuation) override
    {
        events << QStringLiteral("postpone ") + item.versionString;
        continuations << continuation;
        return postponeRelaunch;
    }
    void relaunchWithdrawn(Updater &) override { events << QStringLiteral("withdrawn"); }
    bool shouldHandleShowingScheduledUpdate(const UpdateItem &item, bool immediateFocus) override
    {
        events << QStringLiteral("should show %1 focus=%2").arg(item.versionString).arg(immediateFocus);
        return engineShowsScheduled;
    }
    void willHandleShowingUpdate(bool handleShowingUpdate, const UpdateItem &item) override
    {
        events << QStringLiteral("will show %1 %2").arg(item.versionString).arg(handleShowingUpdate);
    }

    // Error code of the only cycle end, 0 when it ended without an error.
    int onlyErrorCode() const
    {
        if (finished.size() != 1)
            return -1;
        const auto &error = finished.first().error;
        if (!error)
            return 0;
        return error->domain == QLatin1String(updaterErrorDomain) ? error->code : -2;
    }

    bool engineShowsScheduled = false;
    bool postponeRelaunch = true;
    QList<RelaunchContinuation> continuations;
    QList<UpdateItem> found;
    QList<Finish> finished;
    QStringList events;
};

QByteArray feed(const QByteArray &items)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">"
           "<channel><title>Velmora</title>"
           + items + "</channel></rss>";
}

// The enclosure attribute that names this build's architecture.
QByteArray ownArchitecture()
{
    return " xmlns:velmora=\"" + QByteArray(velmoraFeedNamespace) + "\" velmora:arch=\"" + buildArchitecture().toLatin1()
           + "\"";
}

QByteArray item(const QByteArray &version, const QByteArray &os = "linux",
                const QByteArray &architecture = ownArchitecture())
{
    const QByteArray osAttribute = (os.isEmpty() ? QByteArray() : " sparkle:os=\"" + os + "\"") + architecture;
    return "<item><title>Velmora " + version + "</title><sparkle:version>" + version
           + "</sparkle:version><sparkle:shortVersionString>v" + version
           + "</sparkle:shortVersionString>"
             "<sparkle:releaseNotesLink>https://velmora.app/notes/"
           + version
           + ".md</sparkle:releaseNotesLink>"
             "<enclosure url=\"https://updates.velmora.app/Velmora-"
           + version + ".tar.gz\" length=\"100\"" + osAttribute + "/></item>";
}

QList<bool> boolValues(const QSignalSpy &spy)
{
    QList<bool> values;
    for (const QList<QVariant> &arguments : spy)
        values << arguments.at(0).toBool();
    return values;
}

} // namespace

class TestUpdateEngine : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

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
    void installPathInstallsAndRelaunches();
    void laterInstallsAtQuit();
    void continuationAfterLaterDoesNothing();
    void feedTextsAreNeverMarkup();
    void skippedVersionWaitsForANewerOne();
    void rolledBackVersionIsNotOfferedByItself();
    void cancelledDownloadLeavesNothing();
    void failuresAreToldInKorean_data();
    void failuresAreToldInKorean();
    void bundleNotOursLeadsToExplanation_data();
    void bundleNotOursLeadsToExplanation();
    void scheduledChecksShowTheWindowOnlyForAFind();
    void automaticDownloadPreparesWithoutAWord();
    void factoryMakesUnstartedEngineWithBuildSettings();

private:
    std::unique_ptr<UpdateEngine> makeEngine(const QString &feedUrl, std::chrono::milliseconds timeout = feedRequestTimeout);
    QString feedUrl() const { return m_server->url(QStringLiteral("/appcast.xml")).toString(); }

    // The install path's stage: a bundle of version 1.0 in a temporary folder; archive (the
    // 1.1 release unless given), signed with the test key, served with its feed and notes.
    void stageInstall(const QByteArray &archive = {}, const QByteArray &itemVersion = "1.1");
    QByteArray linuxItem(const QByteArray &version, const QByteArray &url, qint64 length, const QByteArray &signature) const;
    UpdateEngineConfiguration installConfiguration();
    std::unique_ptr<UpdateEngine> makeInstallEngine(UpdateEngineConfiguration configuration);
    bool prepareThroughTheWindow(UpdateEngine &engine);
    QString bundleVersion() const;

    std::optional<test::TemporarySettings> m_settings;
    std::unique_ptr<test::LoopbackHttpsServer> m_server;
    platform::HttpClient m_http;
    RecordingDelegates m_delegates;

    std::unique_ptr<QTemporaryDir> m_install;
    QString m_bundle;
    QMap<QString, test::TreeEntry> m_oldTree;
    QByteArray m_archive;
    QByteArray m_served;
    QByteArray m_feedBody;
    QByteArray m_archiveRedirect; // where the archive's address redirects to; empty: no redirect
    // Set: the archive's transfer stops after its first half and stays open until the client
    // closes it or the test finishes it.
    bool m_archiveHeldHalfway = false;
    std::unique_ptr<platform::PackageOwnership> m_packages;
    test::RecordingUrlOpener m_opener;
    QStringList m_relaunched;
    int m_quits = 0;
};

void TestUpdateEngine::initTestCase()
{
    const test::TestCertificate &certificate = test::TestCertificate::localhost();
    QVERIFY2(certificate.isValid(), qPrintable(certificate.error()));
    m_http.setSslConfiguration(certificate.clientConfiguration());
}

void TestUpdateEngine::init()
{
    // Settings go to a fresh folder of this test, never into the user's own.
    m_settings.emplace();
    QVERIFY(m_settings->isValid());

    m_delegates = RecordingDelegates();
    m_server = std::make_unique<test::LoopbackHttpsServer>();
    QVERIFY2(m_server->listen(), qPrintable(m_server->errorString()));
}

void TestUpdateEngine::cleanup()
{
    m_server.reset();
    m_install.reset();
    m_opener.opened.clear();
    m_settings.reset();
}

std::unique_ptr<UpdateEngine> TestUpdateEngine::makeEngine(const QString &feedUrl, std::chrono::milliseconds timeout)
{
    return std::make_unique<UpdateEngine>(m_delegates, m_delegates,
                                          UpdateEngineConfiguration{feedUrl, QStringLiteral("1.0"), &m_http, timeout});
}

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
    QCOMPARE(engine->installWindow() != nullptr, engineShows);
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

void TestUpdateEngine::stageInstall(const QByteArray &archive, const QByteArray &itemVersion)
{
    m_install = std::make_unique<QTemporaryDir>();
    QVERIFY(m_install->isValid());
    const QDir dir(m_install->path());
    QVERIFY(dir.mkpath(QStringLiteral("Apps")));
    m_bundle = dir.filePath(QStringLiteral("Apps/velmora"));
    QVERIFY(
        test::writeBundle(m_bundle, QStringLiteral("1.0"), test::harnessLauncher(), "\"VelmoraTestBehaviour\": \"report\""));
    m_oldTree = test::describeTree(m_bundle);
    m_packages = std::make_unique<platform::PackageOwnership>(dir.filePath(QStringLiteral("dpkg-info")));

    if (archive.isEmpty()) {
        // The new version confirms itself when it starts; its model file makes the download
        // arrive in many pieces.
        QList<test::TarEntry> entries = test::bundleEntries(QStringLiteral("1.1"), test::harnessLauncher(),
                                                            "\"VelmoraTestBehaviour\": \"confirm\"");
        entries << test::TarEntry::file("velmora/Resources/app/model.bin", test::incompressible(3 * 1024 * 1024));
        m_archive = test::makeTarGz(entries);
    } else {
        m_archive = archive;
    }
    m_served = m_archive;
    m_feedBody = feed(linuxItem(itemVersion, m_server->url(QStringLiteral("/Velmora-1.1.tar.gz")).toString().toUtf8(),
                                m_archive.size(), signData(m_archive, test::testKeys()).toUtf8()));
    m_server->setHandler([this](const QByteArray &, const QString &path) {
        if (path == QLatin1String("/appcast.xml"))
            return HttpReply{200, m_feedBody, {}, false};
        if (path == QLatin1String("/notes/1.1.md"))
            return HttpReply{200, QByteArrayLiteral("<h2>Velmora 1.1</h2><p>더 빠른 시작<br>안정성 개선</p>"), {}, false};
        if (path == QLatin1String("/Velmora-1.1.tar.gz") && !m_archiveRedirect.isEmpty())
            return HttpReply{302, {}, {{"Location", m_archiveRedirect}}, false};
        if (path == QLatin1String("/Velmora-1.1.tar.gz"))
            return HttpReply{
                200, m_served, {}, false, -1, m_archiveHeldHalfway ? m_served.size() / 2 : -1, m_archiveHeldHalfway};
        return HttpReply{404, "not here", {}, false};
    });
    m_archiveRedirect.clear();
    m_archiveHeldHalfway = false;
    m_relaunched.clear();
    m_quits = 0;
}

QByteArray TestUpdateEngine::linuxItem(const QByteArray &version, const QByteArray &url, qint64 length,
                                       const QByteArray &signature) const
{
    const QByteArray notes = m_server->url(QStringLiteral("/notes/1.1.md")).toString().toUtf8();
    const QByteArray signatureAttribute = signature.isEmpty() ? QByteArray() : " sparkle:edSignature=\"" + signature + "\"";
    return "<item><title>Velmora " + version + "</title><sparkle:version>" + version
           + "</sparkle:version><sparkle:shortVersionString>" + version
           + "</sparkle:shortVersionString>"
             "<sparkle:releaseNotesLink>"
           + notes
           + "</sparkle:releaseNotesLink>"
             "<enclosure url=\""
           + url + "\" length=\"" + QByteArray::number(length) + "\" type=\"application/gzip\" sparkle:os=\"linux\""
           + ownArchitecture() + signatureAttribute + "/></item>";
}

UpdateEngineConfiguration TestUpdateEngine::installConfiguration()
{
    UpdateEngineConfiguration configuration{feedUrl(), QStringLiteral("1.0"), &m_http};
    configuration.installer.bundle = m_bundle;
    configuration.installer.publicKeys = QStringList{test::testPublicKey()};
    configuration.installer.packages = m_packages.get();
    configuration.installer.relaunch = [this](const QString &program) {
        m_relaunched << program;
        return platform::RelaunchResult{4242, {}};
    };
    configuration.releaseNotesHosts = QStringList{QStringLiteral("localhost")};
    configuration.urlOpener = &m_opener;
    configuration.quit = [this] { ++m_quits; };
    return configuration;
}

std::unique_ptr<UpdateEngine> TestUpdateEngine::makeInstallEngine(UpdateEngineConfiguration configuration)
{
    auto engine = std::make_unique<UpdateEngine>(m_delegates, m_delegates, std::move(configuration));
    engine->startUpdater();
    return engine;
}

// The user's way through the engine's window up to a prepared update; the window must show
// each step.
bool TestUpdateEngine::prepareThroughTheWindow(UpdateEngine &engine)
{
    engine.checkForUpdates();
    InstallWindow *window = engine.installWindow();
    if (!window || !window->isVisible())
        return false;
    if (!QTest::qWaitFor([&] { return engine.phase() == InstallPhase::Found; }, patience))
        return false;
    window->installButton()->click();
    return QTest::qWaitFor([&] { return engine.phase() == InstallPhase::Ready || engine.phase() == InstallPhase::Failed; },
                           patience)
           && engine.phase() == InstallPhase::Ready;
}

QString TestUpdateEngine::bundleVersion() const
{
    return parseBundleInfo(test::readFile(m_bundle + QStringLiteral("/Info.json"))).version;
}

void TestUpdateEngine::installPathInstallsAndRelaunches()
{
    // The whole path as Velmora takes it: the update controller's launch check finds the
    // update, "다운로드 및 설치…" hands over to the engine's window, the download shows its
    // progress, the relaunch waits while the backend is busy, the bundle is exchanged, the new
    // version (a real process) starts, confirms itself and the backup goes.
    stageInstall();
    // The download pauses halfway until the window has shown its first progress.
    m_archiveHeldHalfway = true;
    UpdateEngineConfiguration configuration = installConfiguration();
    // The real relaunch: the new bundle's executable, detached, told who started it.
    configuration.installer.relaunch = [this](const QString &program) {
        m_relaunched << program;
        platform::RelaunchResult result;
        platform::Relauncher(program, {}).relaunch([&result](platform::RelaunchResult r) { result = std::move(r); });
        return result;
    };
    UpdateEngine *engine = nullptr;
    platform::FixedBundle bundle;
    bundle.info.insert(QStringLiteral("CFBundleShortVersionString"), QStringLiteral("1.0"));
    bool backendIdle = false;
    int backendAsked = 0;
    UpdateController::Dependencies deps;
    deps.controllerFactory = [&engine, configuration](UpdaterDelegate &updater, UserDriverDelegate &driver) {
        auto made = std::make_unique<UpdateEngine>(updater, driver, configuration);
        engine = made.get();
        return std::unique_ptr<StandardUpdaterController>(std::move(made));
    };
    deps.bundle = &bundle;
    deps.http = &m_http;
    deps.urlOpener = &m_opener;
    deps.releaseNotesHosts = QStringList{QStringLiteral("localhost")};
    deps.prepareForUpdate = [&backendIdle, &backendAsked](platform::CancelToken) -> QCoro::Task<bool> {
        ++backendAsked;
        co_return backendIdle;
    };
    deps.relaunchPollInterval = std::chrono::milliseconds(20);
    UpdateController controller(std::move(deps));

    controller.start();
    QTRY_VERIFY_WITH_TIMEOUT(controller.updateAvailable(), patience);
    QVERIFY(controller.updateWindow() && controller.updateWindow()->isVisible());
    QVERIFY(engine);
    QVERIFY(!engine->installWindow()); // the launch check is the controller's to show
    auto *view = controller.updateWindow()->findChild<UpdateCheckView *>();
    QVERIFY(view);
    QCOMPARE(view->primaryButton()->text(), installTitle);
    QTRY_VERIFY_WITH_TIMEOUT(view->primaryButton()->isEnabled(), patience);
    view->primaryButton()->click();
    QVERIFY(!controller.updateWindow()->isVisible());

    // The engine's window: the version, its notes, and the three choices.
    InstallWindow *window = engine->installWindow();
    QVERIFY(window && window->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(engine->phase(), InstallPhase::Found, patience);
    QCOMPARE(window->heading()->text(), foundHeading);
    QCOMPARE(window->detail()->text(),
             QStringLiteral("Velmora v1.1을(를) 설치할 수 있습니다. 지금 사용 중인 버전은 v1.0입니다."));
    QTRY_COMPARE_WITH_TIMEOUT(window->notes()->text(), QStringLiteral("더 빠른 시작\n안정성 개선"), patience);
    QVERIFY(!window->notes()->failed());
    for (auto [button, text] : {std::pair{window->installButton(), QStringLiteral("설치")},
                                std::pair{window->laterButton(), QStringLiteral("나중에")},
                                std::pair{window->skipButton(), QStringLiteral("이 버전 건너뛰기")}}) {
        QVERIFY(button->isVisible());
        QCOMPARE(button->text(), text);
    }

    // The download shows bytes and total as they arrive.
    QStringList lines;
    connect(&engine->installer(), &UpdateInstaller::downloadProgress, this, [this, &lines, window] {
        if (window->progress()->isVisible() && window->progressText()->isVisible())
            lines << window->progressText()->text();
        m_server->finishHeldTransfers();
    });
    window->installButton()->click();
    QCOMPARE(engine->phase(), InstallPhase::Downloading);
    QVERIFY(window->cancelButton()->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(engine->phase(), InstallPhase::Ready, patience);
    QVERIFY2(lines.size() > 1, qPrintable(lines.join(QLatin1Char('|'))));
    const QString total = QLocale::c().formattedDataSize(m_archive.size(), 1, QLocale::DataSizeSIFormat);
    for (const QString &line : std::as_const(lines))
        QVERIFY2(line.endsWith(QStringLiteral(" / ") + total), qPrintable(line));
    QVERIFY(lines.first() != lines.last());
    QCOMPARE(window->state().received, m_archive.size());
    QCOMPARE(window->state().total, m_archive.size());
    QCOMPARE(test::describeTree(m_bundle), m_oldTree);

    // "설치 후 다시 시작": held while the backend works; nothing is exchanged meanwhile.
    QVERIFY(window->relaunchButton()->isVisible());
    QCOMPARE(window->relaunchButton()->text(), QStringLiteral("설치 후 다시 시작"));
    window->relaunchButton()->click();
    QCOMPARE(engine->phase(), InstallPhase::Waiting);
    QTRY_VERIFY_WITH_TIMEOUT(backendAsked >= 3, patience);
    QCOMPARE(engine->phase(), InstallPhase::Waiting);
    QCOMPARE(test::describeTree(m_bundle), m_oldTree);
    QVERIFY(m_relaunched.isEmpty());

    backendIdle = true;
    QTRY_COMPARE_WITH_TIMEOUT(m_quits, 1, patience);
    QCOMPARE(m_relaunched, QStringList{m_bundle + QStringLiteral("/bin/velmora")});
    QCOMPARE(bundleVersion(), QStringLiteral("1.1"));
    // The new version, started for real, counts its start and confirms itself: the backup and
    // the journal go.
    const InstallPaths paths = InstallPaths::forBundle(m_bundle);
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(paths.work), patience);
    QCOMPARE(
        QDir(m_install->filePath(QStringLiteral("Apps"))).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList{QStringLiteral("velmora")});
}

void TestUpdateEngine::laterInstallsAtQuit()
{
    stageInstall();
    auto engine = makeInstallEngine(installConfiguration());
    QVERIFY(prepareThroughTheWindow(*engine));
    InstallWindow *window = engine->installWindow();
    QCOMPARE(window->heading()->text(), readyHeading);
    QCOMPARE(window->detail()->text(), readyDetail);

    window->laterButton()->click();
    QVERIFY(!window->isVisible());
    QCOMPARE(engine->phase(), InstallPhase::Ready);
    QCOMPARE(test::describeTree(m_bundle), m_oldTree);
    // Asking again shows the prepared update rather than checking anew.
    const int requests = m_server->requests().size();
    engine->checkForUpdates();
    QVERIFY(window->isVisible());
    QCOMPARE(engine->phase(), InstallPhase::Ready);
    QCOMPARE(m_server->requests().size(), requests);
    window->close();

    // Velmora quits: the update goes in without a relaunch; the next start runs it.
    engine->installAtQuit();
    QCOMPARE(bundleVersion(), QStringLiteral("1.1"));
    QVERIFY(m_relaunched.isEmpty());
    QCOMPARE(m_quits, 0);
    engine.reset(); // the process ends
    QCOMPARE(UpdateInstaller::recoverAtLaunch(m_bundle).action, RecoveryAction::CountStart);
    QVERIFY(UpdateInstaller::confirm(m_bundle));
    QVERIFY(!QFileInfo::exists(InstallPaths::forBundle(m_bundle).work));
}

void TestUpdateEngine::continuationAfterLaterDoesNothing()
{
    stageInstall();
    auto engine = makeInstallEngine(installConfiguration());
    QVERIFY(prepareThroughTheWindow(*engine));
    InstallWindow *window = engine->installWindow();
    window->relaunchButton()->click();
    QCOMPARE(engine->phase(), InstallPhase::Waiting);
    QCOMPARE(window->heading()->text(), waitingHeading);
    QCOMPARE(m_delegates.continuations.size(), 1);

    // The user changed their mind while the backend worked: the hold is told to stop, and its
    // late answer does nothing.
    window->laterButton()->click();
    QCOMPARE(engine->phase(), InstallPhase::Ready);
    QCOMPARE(m_delegates.events.last(), QStringLiteral("withdrawn"));
    QCOMPARE(m_delegates.events.count(QStringLiteral("withdrawn")), 1);
    m_delegates.continuations.first()();
    QCOMPARE(engine->phase(), InstallPhase::Ready);
    QCOMPARE(test::describeTree(m_bundle), m_oldTree);
    QVERIFY(m_relaunched.isEmpty());

    // Asked again, the new hold's answer installs; nothing was withdrawn this time.
    engine->checkForUpdates();
    window->relaunchButton()->click();
    QCOMPARE(m_delegates.continuations.size(), 2);
    m_delegates.continuations.last()();
    QCOMPARE(m_delegates.events.count(QStringLiteral("withdrawn")), 1);
    QCOMPARE(bundleVersion(), QStringLiteral("1.1"));
    QCOMPARE(m_relaunched, QStringList{m_bundle + QStringLiteral("/bin/velmora")});
    QCOMPARE(m_quits, 1);
}

void TestUpdateEngine::feedTextsAreNeverMarkup()
{
    stageInstall();
    // A version text that would be a picture and bold type if it were read as markup.
    m_feedBody.replace("<sparkle:shortVersionString>1.1</sparkle:shortVersionString>",
                       "<sparkle:shortVersionString>&lt;img src=x&gt;&lt;b&gt;1.1&lt;/b&gt;</sparkle:shortVersionString>");
    auto engine = makeInstallEngine(installConfiguration());
    engine->checkForUpdates();
    QTRY_COMPARE_WITH_TIMEOUT(engine->phase(), InstallPhase::Found, patience);
    InstallWindow *window = engine->installWindow();
    QVERIFY(window->detail()->text().contains(QStringLiteral("<img src=x><b>1.1</b>")));
    // Every label of the window, whatever it shows now or later.
    const QList<QLabel *> labels = window->findChildren<QLabel *>();
    QVERIFY(labels.size() >= 3);
    for (const QLabel *label : labels)
        QVERIFY2(label->textFormat() == Qt::PlainText, qPrintable(label->objectName() + ": " + label->text()));
}

void TestUpdateEngine::skippedVersionWaitsForANewerOne()
{
    stageInstall();
    m_delegates.engineShowsScheduled = true;
    auto engine = makeInstallEngine(installConfiguration());
    engine->checkForUpdates();
    QTRY_COMPARE_WITH_TIMEOUT(engine->phase(), InstallPhase::Found, patience);
    engine->installWindow()->skipButton()->click();
    QVERIFY(!engine->installWindow()->isVisible());
    QCOMPARE(engine->skippedVersion(), QStringLiteral("1.1"));

    // Checks without the user pass it by.
    m_delegates = RecordingDelegates();
    m_delegates.engineShowsScheduled = true;
    engine->checkForUpdatesInBackground();
    QTRY_COMPARE_WITH_TIMEOUT(m_delegates.finished.size(), 1, patience);
    QCOMPARE(m_delegates.onlyErrorCode(), noUpdateErrorCode);
    QVERIFY(!engine->installWindow()->isVisible());

    // The user's own check still offers it.
    engine->checkForUpdates();
    QTRY_COMPARE_WITH_TIMEOUT(engine->phase(), InstallPhase::Found, patience);
    engine->installWindow()->laterButton()->click();

    // A newer version is offered again without the user.
    m_feedBody = feed(linuxItem("1.2", m_server->url(QStringLiteral("/Velmora-1.2.tar.gz")).toString().toUtf8(), 100, "x"));
    m_delegates = RecordingDelegates();
    m_delegates.engineShowsScheduled = true;
    engine->checkForUpdatesInBackground();
    QTRY_COMPARE_WITH_TIMEOUT(m_delegates.finished.size(), 1, patience);
    QCOMPARE(m_delegates.onlyErrorCode(), 0);
    QCOMPARE(engine->phase(), InstallPhase::Found);
    QVERIFY(engine->installWindow()->isVisible());
    QVERIFY(engine->installWindow()->detail()->text().contains(QStringLiteral("v1.2")));
}

void TestUpdateEngine::rolledBackVersionIsNotOfferedByItself()
{
    stageInstall();
    m_delegates.engineShowsScheduled = true;
    auto engine = makeInstallEngine(installConfiguration());
    // The start that put the old version back tells the engine so.
    UpdateEngine::passOverRolledBackVersion(QStringLiteral("1.1"));
    QCOMPARE(engine->rolledBackVersion(), QStringLiteral("1.1"));

    // The launch check and the scheduled ones pass it by: no window covers the rollback's message.
    engine->checkForUpdatesInBackground();
    QTRY_COMPARE_WITH_TIMEOUT(m_delegates.finished.size(), 1, patience);
    QCOMPARE(m_delegates.onlyErrorCode(), noUpdateErrorCode);
    QVERIFY(!engine->installWindow());

    // The user's own check still offers it.
    engine->checkForUpdates();
    QTRY_COMPARE_WITH_TIMEOUT(engine->phase(), InstallPhase::Found, patience);
    engine->installWindow()->laterButton()->click();

    // A newer version is offered again without the user.
    m_feedBody = feed(linuxItem("1.2", m_server->url(QStringLiteral("/Velmora-1.2.tar.gz")).toString().toUtf8(), 100, "x"));
    m_delegates = RecordingDelegates();
    m_delegates.engineShowsScheduled = true;
    engine->checkForUpdatesInBackground();
    QTRY_COMPARE_WITH_TIMEOUT(m_delegates.finished.size(), 1, patience);
    QCOMPARE(m_delegates.onlyErrorCode(), 0);
    QCOMPARE(engine->phase(), InstallPhase::Found);
}

void TestUpdateEngine::cancelledDownloadLeavesNothing()
{
    stageInstall();
    // However the pieces arrive, the download is still under way when the user cancels.
    m_archiveHeldHalfway = true;
    auto engine = makeInstallEngine(installConfiguration());
    engine->checkForUpdates();
    QTRY_COMPARE_WITH_TIMEOUT(engine->phase(), InstallPhase::Found, patience);
    InstallWindow *window = engine->installWindow();
    bool cancelled = false;
    connect(&engine->installer(), &UpdateInstaller::downloadProgress, this, [&](qint64 received, qint64 total) {
        if (!cancelled && received < total) {
            cancelled = true;
            window->cancelButton()->click();
        }
    });
    window->installButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(cancelled, patience);
    QCOMPARE(engine->phase(), InstallPhase::Idle);
    QVERIFY(!window->isVisible());
    // The cancel closed the transfer.
    QTRY_COMPARE_WITH_TIMEOUT(m_server->heldTransfers(), 0, patience);
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(InstallPaths::forBundle(m_bundle).work), patience);
    QVERIFY(!engine->installer().isReady());
    QCOMPARE(test::describeTree(m_bundle), m_oldTree);
    // Nothing is pending: the next request checks again.
    QTRY_VERIFY_WITH_TIMEOUT(engine->canCheckForUpdates(), patience);
}

void TestUpdateEngine::failuresAreToldInKorean_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("message");

    QTest::newRow("a tampered archive") << "tampered" << badSignatureText;
    QTest::newRow("no signature") << "unsigned" << missingSignatureText;
    QTest::newRow("an https to http redirect") << "redirect to http" << redirectRefusedText;
    QTest::newRow("not found") << "404"
                               << QStringLiteral(
                                      "업데이트 파일을 내려받지 못했습니다(서버 응답 404). 잠시 후 다시 시도해 주세요.");
    QTest::newRow("the same version inside")
        << "same version" << QStringLiteral("업데이트 파일의 버전(v1.0)이 안내된 버전(v1.1)과 달라 설치하지 않았습니다.");
    QTest::newRow("an escaping link") << "escaping link" << unsafeArchiveText;
}

void TestUpdateEngine::failuresAreToldInKorean()
{
    QFETCH(QString, change);
    QFETCH(QString, message);

    QByteArray archive;
    if (change == QLatin1String("same version")) {
        archive = test::makeTarGz(test::bundleEntries(QStringLiteral("1.0"), test::harnessLauncher()));
    } else if (change == QLatin1String("escaping link")) {
        QList<test::TarEntry> entries = test::bundleEntries(QStringLiteral("1.1"), test::harnessLauncher());
        entries << test::TarEntry::link("velmora/Resources/home", "../../../..");
        archive = test::makeTarGz(entries);
    }
    stageInstall(archive);
    const QByteArray url = m_server->url(QStringLiteral("/Velmora-1.1.tar.gz")).toString().toUtf8();
    const QByteArray signature = signData(m_archive, test::testKeys()).toUtf8();
    if (change == QLatin1String("tampered")) {
        m_served[m_served.size() / 2] = char(m_served[m_served.size() / 2] ^ 0x01);
    } else if (change == QLatin1String("unsigned")) {
        m_feedBody = feed(linuxItem("1.1", url, m_archive.size(), {}));
    } else if (change == QLatin1String("redirect to http")) {
        QByteArray plain = url;
        plain.replace("https:", "http:");
        m_archiveRedirect = plain;
    } else if (change == QLatin1String("404")) {
        m_feedBody = feed(linuxItem("1.1", url + ".missing", m_archive.size(), signature));
    }

    auto engine = makeInstallEngine(installConfiguration());
    engine->checkForUpdates();
    QTRY_COMPARE_WITH_TIMEOUT(engine->phase(), InstallPhase::Found, patience);
    InstallWindow *window = engine->installWindow();
    window->installButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(engine->phase(), InstallPhase::Failed, patience);
    QVERIFY(window->isVisible());
    QCOMPARE(window->heading()->text(), failedHeading);
    QCOMPARE(window->detail()->text(), message);
    QVERIFY(window->closeButton()->isVisible());
    QVERIFY(!window->relaunchButton()->isVisible());
    QCOMPARE(test::describeTree(m_bundle), m_oldTree);
    QVERIFY(!QFileInfo::exists(InstallPaths::forBundle(m_bundle).work));

    // Closed, the next request starts afresh.
    window->closeButton()->click();
    QVERIFY(!window->isVisible());
    QCOMPARE(engine->phase(), InstallPhase::Idle);
}

void TestUpdateEngine::bundleNotOursLeadsToExplanation_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");
    QTest::newRow("installed by the package manager") << "package" << packageManagedText;
    QTest::newRow("a build without keys") << "no keys" << noPublicKeysText;
    QTest::newRow("not a bundle") << "no info" << notABundleText;
}

void TestUpdateEngine::bundleNotOursLeadsToExplanation()
{
    QFETCH(QString, kind);
    QFETCH(QString, message);
    stageInstall();
    UpdateEngineConfiguration configuration = installConfiguration();
    if (kind == QLatin1String("package")) {
        QVERIFY(test::writeFile(m_install->filePath(QStringLiteral("dpkg-info/velmora.list")),
                                "/.\n/usr\n" + QFile::encodeName(m_bundle) + "\n" + QFile::encodeName(m_bundle)
                                    + "/bin/velmora\n"));
    } else if (kind == QLatin1String("no keys")) {
        configuration.installer.publicKeys = QStringList();
    } else {
        QVERIFY(QFile::remove(m_bundle + QStringLiteral("/Info.json")));
    }
    auto engine = makeInstallEngine(configuration);

    // Checking still works.
    engine->checkForUpdateInformation();
    QTRY_COMPARE_WITH_TIMEOUT(m_delegates.finished.size(), 1, patience);
    QCOMPARE(m_delegates.found.size(), 1);

    // "다운로드 및 설치…" leads to the explanation, and nothing is downloaded.
    engine->checkForUpdates();
    InstallWindow *window = engine->installWindow();
    QVERIFY(window && window->isVisible());
    QCOMPARE(engine->phase(), InstallPhase::Refused);
    QCOMPARE(window->heading()->text(), refusedHeading);
    QCOMPARE(window->detail()->text(), message);
    QVERIFY(window->releasePageButton()->isVisible());
    QVERIFY(!window->installButton()->isVisible());
    window->releasePageButton()->click();
    QCOMPARE(m_opener.opened, QList<QUrl>{QUrl(platform::buildSettings().releasePageUrl)});
    QCOMPARE(m_server->requests(), QStringList{QStringLiteral("/appcast.xml")});
    QCOMPARE(test::describeTree(m_bundle).size(), m_oldTree.size() - (kind == QLatin1String("no info") ? 1 : 0));
}

void TestUpdateEngine::scheduledChecksShowTheWindowOnlyForAFind()
{
    stageInstall();
    const QByteArray withUpdate = m_feedBody;
    m_feedBody = feed(item("0.9"));
    m_delegates.engineShowsScheduled = true;
    UpdateEngineConfiguration configuration = installConfiguration();
    configuration.checkInterval = std::chrono::milliseconds(50);
    UpdateEngine engine(m_delegates, m_delegates, configuration);
    QVERIFY(!engine.scheduleTimer().isActive()); // not before the engine runs
    engine.startUpdater();
    QVERIFY(engine.scheduleTimer().isActive());
    QCOMPARE(engine.scheduleTimer().interval(), 50);

    // Checks run by themselves; finding nothing shows nothing.
    QTRY_VERIFY_WITH_TIMEOUT(m_delegates.finished.size() >= 2, patience);
    for (const auto &finish : m_delegates.finished)
        QCOMPARE(finish.kind, UpdateCheckKind::UpdatesInBackground);
    QVERIFY(!engine.installWindow());

    // A find shows the engine's window.
    m_feedBody = withUpdate;
    QTRY_VERIFY_WITH_TIMEOUT(engine.installWindow() && engine.installWindow()->isVisible(), patience);
    QCOMPARE(engine.phase(), InstallPhase::Found);

    // Turned off, the checks stop.
    engine.setAutomaticallyChecksForUpdates(false);
    QVERIFY(!engine.scheduleTimer().isActive());
    // The default interval is the update framework's: a day of running time.
    QCOMPARE(scheduledCheckInterval, std::chrono::milliseconds(std::chrono::hours(24)));
}

void TestUpdateEngine::automaticDownloadPreparesWithoutAWord()
{
    stageInstall();
    auto engine = makeInstallEngine(installConfiguration());
    engine->setAutomaticallyDownloadsUpdates(true);
    engine->checkForUpdatesInBackground();
    QTRY_COMPARE_WITH_TIMEOUT(engine->phase(), InstallPhase::Ready, patience);
    QVERIFY(engine->installer().isReady());
    QVERIFY(!engine->installWindow()); // not a word
    QVERIFY(!m_delegates.events.contains(QStringLiteral("will show 1.1 0")));
    QCOMPARE(test::describeTree(m_bundle), m_oldTree);

    engine->installAtQuit();
    QCOMPARE(bundleVersion(), QStringLiteral("1.1"));
    QVERIFY(m_relaunched.isEmpty());
}

void TestUpdateEngine::factoryMakesUnstartedEngineWithBuildSettings()
{
    StandardUpdaterControllerFactory factory = makeStandardUpdaterController;
    std::unique_ptr<StandardUpdaterController> controller = factory(m_delegates, m_delegates);
    Updater &updater = controller->updater();
    QCOMPARE(&controller->updater(), &updater);
    QVERIFY(!updater.canCheckForUpdates());
    QVERIFY(!updater.sessionInProgress());

    auto *engine = qobject_cast<UpdateEngine *>(&updater);
    QVERIFY(engine);
    QCOMPARE(engine->feedUrl(), QUrl(platform::buildSettings().updateFeedUrl));
    QCOMPARE(engine->runningVersion(), platform::buildSettings().version);
    QCOMPARE(engine->feedUrl().scheme(), QStringLiteral("https"));

    controller->startUpdater();
    QVERIFY(updater.canCheckForUpdates());
}

QTEST_MAIN(TestUpdateEngine)
#include "tst_updateengine.moc"
