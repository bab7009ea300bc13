#include "updates/Appcast.h"
#include "updates/BundleInfo.h"
#include "updates/Texts.h"
#include "updates/UpdateCheckView.h"
#include "updates/UpdateController.h"
#include "updates/UpdateEngineWindow.h"
#include "updates/UpdateNotesView.h"

#include "RecordingUrlOpener.h"
#include "TestSupport.h"
#include "TlsTestServer.h"
#include "TreeSnapshot.h"
#include "UpdateEngineFixtures.h"
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
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

using namespace velmora;
using namespace velmora::updates;
using velmora::test::feed;
using velmora::test::HttpReply;
using velmora::test::item;
using velmora::test::RecordingDelegates;

namespace {

using test::patience;

} // namespace

// The engine with its window, as Velmora shows it: what the user sees and clicks.
class TestUpdateEngineWindow : public test::EngineTestCase
{
    Q_OBJECT
private slots:
    void initTestCase() { setUpTestCase(); }
    void init() { setUpCase(); }
    void cleanup()
    {
        tearDownCase();
        m_opener.opened.clear();
    }

    void installPathInstallsAndRelaunches();
    void laterInstallsAtQuit();
    void continuationAfterLaterDoesNothing();
    void feedTextsAreNeverMarkup();
    void skippedVersionWaitsForANewerOne();
    void cancelledDownloadLeavesNothing();
    void failuresAreToldInKorean_data();
    void failuresAreToldInKorean();
    void bundleNotOursLeadsToExplanation_data();
    void bundleNotOursLeadsToExplanation();
    void scheduledChecksShowTheWindowOnlyForAFind();
    void factoryMakesUnstartedEngineWithBuildSettings();

private:
    // Every engine of these tests has its window, as the real factory makes it.
    void equip(UpdateEngine &engine) override { new UpdateEngineWindow(engine, m_opener); }
    bool prepareThroughTheWindow(UpdateEngine &engine);

    test::RecordingUrlOpener m_opener;
};

// The user's way through the engine's window up to a prepared update; the window must show
// each step.
bool TestUpdateEngineWindow::prepareThroughTheWindow(UpdateEngine &engine)
{
    engine.checkForUpdates();
    InstallWindow *window = installWindow(engine);
    if (!window || !window->isVisible())
        return false;
    if (!QTest::qWaitFor([&] { return engine.phase() == InstallPhase::Found; }, patience))
        return false;
    window->installButton()->click();
    return QTest::qWaitFor([&] { return engine.phase() == InstallPhase::Ready || engine.phase() == InstallPhase::Failed; },
                           patience)
           && engine.phase() == InstallPhase::Ready;
}

void TestUpdateEngineWindow::installPathInstallsAndRelaunches()
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
    deps.controllerFactory = [this, &engine, configuration](UpdaterDelegate &updater, UserDriverDelegate &driver) {
        auto made = std::make_unique<UpdateEngine>(updater, driver, configuration);
        new UpdateEngineWindow(*made, m_opener);
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
    QVERIFY(!installWindow(*engine)); // the launch check is the controller's to show
    auto *view = controller.updateWindow()->findChild<UpdateCheckView *>();
    QVERIFY(view);
    QCOMPARE(view->primaryButton()->text(), installTitle);
    QTRY_VERIFY_WITH_TIMEOUT(view->primaryButton()->isEnabled(), patience);
    view->primaryButton()->click();
    QVERIFY(!controller.updateWindow()->isVisible());

    // The engine's window: the version, its notes, and the three choices.
    InstallWindow *window = installWindow(*engine);
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

void TestUpdateEngineWindow::laterInstallsAtQuit()
{
    stageInstall();
    auto engine = makeInstallEngine(installConfiguration());
    QVERIFY(prepareThroughTheWindow(*engine));
    InstallWindow *window = installWindow(*engine);
    QCOMPARE(window->heading()->text(), readyHeading);
    QCOMPARE(window->detail()->text(), readyDetail);

    window->laterButton()->click();
    QVERIFY(!window->isVisible());
    QCOMPARE(engine->phase(), InstallPhase::Ready);
    QCOMPARE(test::describeTree(m_bundle), m_oldTree);
    // Asking again shows the prepared update rather than checking anew.
    const qsizetype requests = m_server->requests().size();
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

void TestUpdateEngineWindow::continuationAfterLaterDoesNothing()
{
    stageInstall();
    auto engine = makeInstallEngine(installConfiguration());
    QVERIFY(prepareThroughTheWindow(*engine));
    InstallWindow *window = installWindow(*engine);
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

void TestUpdateEngineWindow::feedTextsAreNeverMarkup()
{
    stageInstall();
    // A version text that would be a picture and bold type if it were read as markup.
    m_feedBody.replace("<sparkle:shortVersionString>1.1</sparkle:shortVersionString>",
                       "<sparkle:shortVersionString>&lt;img src=x&gt;&lt;b&gt;1.1&lt;/b&gt;</sparkle:shortVersionString>");
    auto engine = makeInstallEngine(installConfiguration());
    engine->checkForUpdates();
    QTRY_COMPARE_WITH_TIMEOUT(engine->phase(), InstallPhase::Found, patience);
    InstallWindow *window = installWindow(*engine);
    QVERIFY(window->detail()->text().contains(QStringLiteral("<img src=x><b>1.1</b>")));
    // Every label of the window, whatever it shows now or later.
    const QList<QLabel *> labels = window->findChildren<QLabel *>();
    QVERIFY(labels.size() >= 3);
    for (const QLabel *label : labels)
        QVERIFY2(label->textFormat() == Qt::PlainText, qPrintable(label->objectName() + ": " + label->text()));
}

void TestUpdateEngineWindow::skippedVersionWaitsForANewerOne()
{
    stageInstall();
    m_delegates.engineShowsScheduled = true;
    auto engine = makeInstallEngine(installConfiguration());
    engine->checkForUpdates();
    QTRY_COMPARE_WITH_TIMEOUT(engine->phase(), InstallPhase::Found, patience);
    installWindow(*engine)->skipButton()->click();
    QVERIFY(!installWindow(*engine)->isVisible());
    QCOMPARE(engine->skippedVersion(), QStringLiteral("1.1"));

    // Checks without the user pass it by.
    m_delegates = RecordingDelegates();
    m_delegates.engineShowsScheduled = true;
    engine->checkForUpdatesInBackground();
    QTRY_COMPARE_WITH_TIMEOUT(m_delegates.finished.size(), 1, patience);
    QCOMPARE(m_delegates.onlyErrorCode(), noUpdateErrorCode);
    QVERIFY(!installWindow(*engine)->isVisible());

    // The user's own check still offers it.
    engine->checkForUpdates();
    QTRY_COMPARE_WITH_TIMEOUT(engine->phase(), InstallPhase::Found, patience);
    installWindow(*engine)->laterButton()->click();

    // A newer version is offered again without the user.
    m_feedBody = feed(linuxItem("1.2", m_server->url(QStringLiteral("/Velmora-1.2.tar.gz")).toString().toUtf8(), 100, "x"));
    m_delegates = RecordingDelegates();
    m_delegates.engineShowsScheduled = true;
    engine->checkForUpdatesInBackground();
    QTRY_COMPARE_WITH_TIMEOUT(m_delegates.finished.size(), 1, patience);
    QCOMPARE(m_delegates.onlyErrorCode(), 0);
    QCOMPARE(engine->phase(), InstallPhase::Found);
    QVERIFY(installWindow(*engine)->isVisible());
    QVERIFY(installWindow(*engine)->detail()->text().contains(QStringLiteral("v1.2")));
}

void TestUpdateEngineWindow::cancelledDownloadLeavesNothing()
{
    stageInstall();
    // However the pieces arrive, the download is still under way when the user cancels.
    m_archiveHeldHalfway = true;
    auto engine = makeInstallEngine(installConfiguration());
    engine->checkForUpdates();
    QTRY_COMPARE_WITH_TIMEOUT(engine->phase(), InstallPhase::Found, patience);
    InstallWindow *window = installWindow(*engine);
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

void TestUpdateEngineWindow::failuresAreToldInKorean_data()
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

void TestUpdateEngineWindow::failuresAreToldInKorean()
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
    InstallWindow *window = installWindow(*engine);
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

void TestUpdateEngineWindow::bundleNotOursLeadsToExplanation_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");
    QTest::newRow("installed by the package manager") << "package" << packageManagedText;
    QTest::newRow("a build without keys") << "no keys" << noPublicKeysText;
    QTest::newRow("not a bundle") << "no info" << notABundleText;
}

void TestUpdateEngineWindow::bundleNotOursLeadsToExplanation()
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
    InstallWindow *window = installWindow(*engine);
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

void TestUpdateEngineWindow::scheduledChecksShowTheWindowOnlyForAFind()
{
    stageInstall();
    const QByteArray withUpdate = m_feedBody;
    m_feedBody = feed(item("0.9"));
    m_delegates.engineShowsScheduled = true;
    UpdateEngineConfiguration configuration = installConfiguration();
    configuration.checkInterval = std::chrono::milliseconds(50);
    UpdateEngine engine(m_delegates, m_delegates, configuration);
    equip(engine);
    QVERIFY(!engine.scheduleTimer().isActive()); // not before the engine runs
    engine.startUpdater();
    QVERIFY(engine.scheduleTimer().isActive());
    QCOMPARE(engine.scheduleTimer().interval(), 50);

    // Checks run by themselves; finding nothing shows nothing.
    QTRY_VERIFY_WITH_TIMEOUT(m_delegates.finished.size() >= 2, patience);
    for (const auto &finish : m_delegates.finished)
        QCOMPARE(finish.kind, UpdateCheckKind::UpdatesInBackground);
    QVERIFY(!installWindow(engine));

    // A find shows the engine's window.
    m_feedBody = withUpdate;
    QTRY_VERIFY_WITH_TIMEOUT(installWindow(engine) && installWindow(engine)->isVisible(), patience);
    QCOMPARE(engine.phase(), InstallPhase::Found);

    // Turned off, the checks stop.
    engine.setAutomaticallyChecksForUpdates(false);
    QVERIFY(!engine.scheduleTimer().isActive());
    // A check the timer started meanwhile, and the notes of the find, end before the engine
    // goes: a request still under way then would be resumed by nobody.
    QTRY_VERIFY_WITH_TIMEOUT(!engine.sessionInProgress() && !engine.state().notesLoading, patience);
    // The default interval is the update framework's: a day of running time.
    QCOMPARE(scheduledCheckInterval, std::chrono::milliseconds(std::chrono::hours(24)));
}

void TestUpdateEngineWindow::factoryMakesUnstartedEngineWithBuildSettings()
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
    // The engine decides without a window; the factory puts its window on it.
    QVERIFY(UpdateEngineWindow::of(*engine));
    QVERIFY(!installWindow(*engine)); // made when the engine first asks for it

    controller->startUpdater();
    QVERIFY(updater.canCheckForUpdates());
}

QTEST_MAIN(TestUpdateEngineWindow)
#include "tst_updateengine_window.moc"
