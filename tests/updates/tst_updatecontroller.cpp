#include "ScriptedUpdater.h"
#include "StatusTexts.h"
#include "TestSupport.h"

#include "platform/Bundle.h"
#include "updates/UpdateController.h"
#include "updates/UpdateEngine.h"

#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace velmora;
using namespace velmora::test;
using test::drainEvents;
using test::ScriptedController;
using updates::UpdateController;

namespace {


updates::UpdateItem item(const QString &version = QStringLiteral("1.4.0"))
{
    updates::UpdateItem found;
    found.versionString = version;
    found.displayVersionString = version;
    return found;
}

// One controller over the scripted engine, with a bundle the test shapes.
struct Harness
{
    explicit Harness(bool development = false, bool automaticChecks = true)
    {
        bundle.info.insert(QStringLiteral("CFBundleShortVersionString"), QStringLiteral("1.3.0"));
        if (development)
            bundle.info.insert(QStringLiteral("VelmoraProjectRoot"), 42); // any type counts
        UpdateController::Dependencies deps;
        deps.controllerFactory = ScriptedController::factory(&engine);
        deps.bundle = &bundle;
        controller = std::make_unique<UpdateController>(std::move(deps));
        controller->controller();
        engine->scripted.automaticChecks = automaticChecks;
    }

    test::ScriptedUpdater &updater() { return engine->scripted; }
    void userRequest()
    {
        controller->start();
        controller->showUpdateWindow();
        controller->refreshUpdateInformation();
    }
    // Starts and waits until the engine can take a check (the launch check, if any, runs).
    void startAndWaitUntilReady()
    {
        controller->start();
        QTRY_VERIFY_WITH_TIMEOUT(controller->canCheckForUpdates(), test::patience);
    }

    platform::FixedBundle bundle;
    ScriptedController *engine = nullptr;
    std::unique_ptr<UpdateController> controller;
};

} // namespace

class TestUpdateController : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_settings.isValid());
    }

    void init() { QSettings().setValue(QStringLiteral("SUAutomaticallyUpdate"), true); }

    void startsOnceWithObservationsDeliveredLater()
    {
        Harness h(false, /*automaticChecks=*/false);
        h.updater().canCheck = true; // already able, yet the value arrives later
        h.controller->start();
        QCOMPARE(h.controller->canCheckForUpdates(), false);
        QCOMPARE(h.controller->automaticallyChecksForUpdates(), false); // read at once
        QCOMPARE(QSettings().value(QStringLiteral("SUAutomaticallyUpdate")).toBool(), false);
        QCOMPARE(h.updater().automaticDownloads, false);
        QTRY_VERIFY_WITH_TIMEOUT(h.controller->canCheckForUpdates(), test::patience);

        QSignalSpy canCheckChanges(h.controller.get(), &UpdateController::canCheckForUpdatesChanged);
        h.controller->start();
        QCOMPARE(h.engine->startCount, 1);
        QCOMPARE(h.updater().backgroundChecks, 0);
        // The engine's later changes reach the mirror, once.
        h.updater().setCanCheck(false);
        QTRY_COMPARE_WITH_TIMEOUT(canCheckChanges.count(), 1, test::patience);
        QCOMPARE(h.controller->canCheckForUpdates(), false);
        h.updater().setAutomaticallyChecksForUpdates(true);
        QTRY_VERIFY_WITH_TIMEOUT(h.controller->automaticallyChecksForUpdates(), test::patience);
    }

    void startTwiceMakesOneLaunchCheck()
    {
        Harness h;
        h.controller->start();
        h.controller->start();
        QCOMPARE(h.engine->startCount, 1);
        QCOMPARE(h.updater().backgroundChecks, 1);
        QCOMPARE(h.controller->status(), initialStatus);
    }

    void developmentBuildNeverStartsTheEngine()
    {
        Harness h(/*development=*/true);
        QVERIFY(h.controller->isDevelopmentBuild());
        h.userRequest();
        QCOMPARE(h.controller->status(), developmentStatus);
        drainEvents();
        QCOMPARE(h.engine->startCount, 0);
        QCOMPARE(h.updater().backgroundChecks, 0);
        QCOMPARE(h.updater().informationChecks, 0);
        QCOMPARE(h.controller->canCheckForUpdates(), false);
        QCOMPARE(h.controller->isChecking(), false);
        QCOMPARE(h.controller->status(), developmentStatus);
        QVERIFY(h.controller->updateWindow() && h.controller->updateWindow()->isVisible());
        // Made at its first size; no check ever resized it.
        QCOMPARE(h.controller->updateWindow()->size(), QSize(500, 420));
        QCOMPARE(QSettings().value(QStringLiteral("SUAutomaticallyUpdate")).toBool(), false);
        QCOMPARE(h.updater().automaticDownloads, false);
    }

    void automaticChecksOffMakesNoLaunchCheck()
    {
        Harness h(false, /*automaticChecks=*/false);
        h.controller->start();
        QCOMPARE(h.engine->startCount, 1);
        QCOMPARE(h.updater().backgroundChecks, 0);
        // A user request that made the very first start() waits for the engine, then checks.
        h.controller->showUpdateWindow();
        h.controller->refreshUpdateInformation();
        QCOMPARE(h.controller->status(), preparingStatus);
        QCOMPARE(h.controller->isChecking(), false);
        QTRY_COMPARE_WITH_TIMEOUT(h.controller->status(), checkingStatus, test::patience);
        QCOMPARE(h.updater().informationChecks, 1);
        QVERIFY(h.controller->isChecking());
    }

    void refreshWhileCheckingIsIgnored()
    {
        Harness h(false, false);
        h.startAndWaitUntilReady();
        h.controller->refreshUpdateInformation();
        QCOMPARE(h.updater().informationChecks, 1);
        QSignalSpy statusChanges(h.controller.get(), &UpdateController::statusChanged);
        h.controller->refreshUpdateInformation();
        QCOMPARE(h.updater().informationChecks, 1);
        QCOMPARE(statusChanges.count(), 0);
        QCOMPARE(h.controller->status(), checkingStatus);
    }

    void refreshDuringAnotherSessionRunsAfterIt()
    {
        Harness h; // the launch check keeps the engine busy
        h.startAndWaitUntilReady();
        QVERIFY(h.updater().session);
        h.controller->refreshUpdateInformation();
        QCOMPARE(h.controller->status(), preparingStatus);
        QCOMPARE(h.updater().informationChecks, 0);

        h.engine->finishCycle(test::noUpdateError());
        // Queued, not run inside the engine's callback.
        QCOMPARE(h.updater().informationChecks, 0);
        QCOMPARE(h.controller->status(), preparingStatus);
        QTRY_COMPARE_WITH_TIMEOUT(h.updater().informationChecks, 1, test::patience);
        QCOMPARE(h.controller->status(), checkingStatus);
        QVERIFY(h.controller->isChecking());
    }

    void launchCheckThatFindsAnUpdateShowsTheWindow()
    {
        Harness h;
        h.startAndWaitUntilReady();
        QVERIFY(!h.controller->updateWindow());
        h.engine->findUpdate(item(QStringLiteral("2.0.1")));

        QCOMPARE(h.engine->engineShowsWindow, std::optional<bool>(false));
        QWidget *window = h.controller->updateWindow();
        QVERIFY(window);
        QVERIFY(window->isVisible());
        QCOMPARE(window->size(), QSize(500, 650));
        QCOMPARE(window->windowTitle(), QString::fromUtf8("업데이트 확인"));
        QVERIFY(!window->testAttribute(Qt::WA_DeleteOnClose));
        QCOMPARE(h.controller->status(), foundStatus(QStringLiteral("2.0.1")));
        QVERIFY(h.controller->updateAvailable());
        QVERIFY(!h.controller->isChecking());
        QVERIFY(h.controller->notesFailed()); // no release-notes address

        // Closing hides; the next request shows the same window where the user left it.
        QPointer<QWidget> guard(window);
        window->move(window->pos() + QPoint(37, 21));
        const QPoint placed = window->pos();
        QVERIFY(window->close());
        QVERIFY(guard);
        QVERIFY(!window->isVisible());
        h.controller->showUpdateWindow();
        QCOMPARE(h.controller->updateWindow(), window);
        QVERIFY(window->isVisible());
        QCOMPARE(window->pos(), placed);

        // Once the launch check has ended, the engine may show its own window again.
        h.engine->finishCycle();
        QVERIFY(h.controller->shouldHandleShowingScheduledUpdate(item(), true));
        QCOMPARE(h.controller->status(), foundStatus(QStringLiteral("2.0.1")));
    }

    void launchCheckThatFindsNothingShowsNoWindow()
    {
        Harness h;
        h.startAndWaitUntilReady();
        h.engine->finishCycle(test::noUpdateError());
        drainEvents();
        QVERIFY(!h.controller->updateWindow());
        QCOMPARE(h.controller->status(), initialStatus);
        QVERIFY(!h.controller->updateAvailable());
    }

    void updatesFoundByOtherCyclesAreLeftToTheEngine()
    {
        Harness h(false, false);
        h.startAndWaitUntilReady();
        h.engine->checkForUpdates(); // the install path's own cycle
        h.engine->findUpdate(item());
        QVERIFY(!h.controller->updateAvailable());
        QCOMPARE(h.controller->status(), initialStatus);
        QVERIFY(!h.controller->updateWindow());
        // The engine showing a scheduled update itself asks for nothing of ours.
        h.controller->willHandleShowingUpdate(true, item());
        QVERIFY(!h.controller->updateWindow());
        h.controller->willHandleShowingUpdate(false, item());
        QVERIFY(h.controller->updateWindow() && h.controller->updateWindow()->isVisible());
    }

    void informationCheckEnds_data()
    {
        QTest::addColumn<bool>("finds");
        QTest::addColumn<QString>("errorDomain"); // empty = no error
        QTest::addColumn<int>("errorCode");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("available");

        const QString engineDomain = QString::fromLatin1(updates::updaterErrorDomain);
        const QString found = foundStatus(QStringLiteral("1.4.0"));
        QTest::newRow("nothing, no error") << false << QString() << 0 << upToDateStatus << false;
        QTest::newRow("nothing, no-update error") << false << engineDomain << 1001 << upToDateStatus << false;
        QTest::newRow("1001 in another domain is a failure")
            << false << QStringLiteral("NSURLErrorDomain") << 1001 << failedStatus << false;
        QTest::newRow("other engine error") << false << engineDomain << 2001 << failedStatus << false;
        QTest::newRow("found, no error keeps the version line") << true << QString() << 0 << found << true;
        QTest::newRow("found, no-update error keeps the version line") << true << engineDomain << 1001 << found << true;
        QTest::newRow("found, then an error") << true << engineDomain << 4 << failedStatus << false;
    }

    void informationCheckEnds()
    {
        QFETCH(bool, finds);
        QFETCH(QString, errorDomain);
        QFETCH(int, errorCode);
        QFETCH(QString, status);
        QFETCH(bool, available);

        Harness h(false, false);
        h.startAndWaitUntilReady();
        h.controller->showUpdateWindow();
        h.controller->refreshUpdateInformation();
        QCOMPARE(h.controller->updateWindow()->size(), QSize(500, 420));
        if (finds) {
            h.engine->findUpdate(item());
            QCOMPARE(h.controller->updateWindow()->size(), QSize(500, 650));
            QCOMPARE(h.engine->engineShowsWindow, std::nullopt); // an information check shows nothing of its own
        }
        std::optional<updates::UpdaterError> error;
        if (!errorDomain.isEmpty())
            error = updates::UpdaterError{errorDomain, errorCode, QStringLiteral("description")};
        h.engine->finishCycle(error);

        QCOMPARE(h.controller->status(), status);
        QCOMPARE(h.controller->updateAvailable(), available);
        QCOMPARE(h.controller->isChecking(), false);
        // The check can be asked for again.
        h.controller->refreshUpdateInformation();
        QCOMPARE(h.updater().informationChecks, 2);
    }

    void newCheckClearsTheLastFind()
    {
        Harness h(false, false);
        h.startAndWaitUntilReady();
        h.controller->showUpdateWindow();
        h.controller->refreshUpdateInformation();
        h.engine->findUpdate(item()); // no notes address: the failure line
        h.engine->finishCycle();
        QVERIFY(h.controller->notesFailed());
        QVERIFY(h.controller->updateAvailable());

        h.controller->refreshUpdateInformation();
        QCOMPARE(h.controller->notesFailed(), false);
        QCOMPARE(h.controller->isLoadingNotes(), false);
        QCOMPARE(h.controller->releaseNotes(), QString());
        QCOMPARE(h.controller->updateAvailable(), false);
        QCOMPARE(h.controller->updateWindow()->size(), QSize(500, 420));
        QCOMPARE(h.controller->status(), checkingStatus);
    }

    void withoutAFactoryTheRealEngineIsMade()
    {
        platform::FixedBundle bundle;
        UpdateController::Dependencies deps;
        deps.bundle = &bundle;
        UpdateController controller(std::move(deps));
        auto *engine = dynamic_cast<updates::UpdateEngine *>(&controller.controller());
        QVERIFY(engine);
        QVERIFY(!engine->isStarted());
        QCOMPARE(&controller.controller(), engine); // made once
    }

    void deliveriesToAGoneControllerDoNothing()
    {
        Harness h(false, false);
        h.controller->start();
        h.controller->refreshUpdateInformation(); // pending until the engine can check
        h.controller.reset();
        drainEvents();
    }

private:
    test::TemporarySettings m_settings;
};

QTEST_MAIN(TestUpdateController)
#include "tst_updatecontroller.moc"
