#include "StatusTexts.h"
#include "TestSupport.h"
#include "UpdateHarness.h"

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
using test::UpdateHarness;
using updates::UpdateController;

namespace {

// Hands the controller an engine that the test keeps.
class BorrowedController : public updates::StandardUpdaterController
{
public:
    explicit BorrowedController(ScriptedController &engine) : m_engine(engine) {}
    updates::Updater &updater() override { return m_engine.updater(); }
    void startUpdater() override { m_engine.startUpdater(); }
    void checkForUpdates() override { m_engine.checkForUpdates(); }

private:
    ScriptedController &m_engine;
};

} // namespace

class TestUpdateController : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_settings.isValid()); }

    void init() { QSettings().setValue(QStringLiteral("SUAutomaticallyUpdate"), true); }

    void startsOnceWithObservationsDeliveredLater()
    {
        UpdateHarness h({.automaticChecks = false});
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
        UpdateHarness h;
        h.controller->start();
        h.controller->start();
        QCOMPARE(h.engine->startCount, 1);
        QCOMPARE(h.updater().backgroundChecks, 1);
        QCOMPARE(h.controller->status(), initialStatus);
    }

    void developmentBuildNeverStartsTheEngine()
    {
        UpdateHarness h({.projectRoot = 42}); // any type counts
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
        UpdateHarness h({.automaticChecks = false});
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
        UpdateHarness h({.automaticChecks = false});
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
        UpdateHarness h; // the launch check keeps the engine busy
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
        UpdateHarness h;
        h.startAndWaitUntilReady();
        QVERIFY(!h.controller->updateWindow());
        h.engine->findUpdate(test::updateItem(QStringLiteral("2.0.1")));

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
        QVERIFY(h.controller->shouldHandleShowingScheduledUpdate(test::updateItem(), true));
        QCOMPARE(h.controller->status(), foundStatus(QStringLiteral("2.0.1")));
    }

    void launchCheckThatFindsNothingShowsNoWindow()
    {
        UpdateHarness h;
        h.startAndWaitUntilReady();
        h.engine->finishCycle(test::noUpdateError());
        drainEvents();
        QVERIFY(!h.controller->updateWindow());
        QCOMPARE(h.controller->status(), initialStatus);
        QVERIFY(!h.controller->updateAvailable());
    }

    void updatesFoundByOtherCyclesAreLeftToTheEngine()
    {
        UpdateHarness h({.automaticChecks = false});
        h.startAndWaitUntilReady();
        h.engine->checkForUpdates(); // the install path's own cycle
        h.engine->findUpdate(test::updateItem());
        QVERIFY(!h.controller->updateAvailable());
        QCOMPARE(h.controller->status(), initialStatus);
        QVERIFY(!h.controller->updateWindow());
        // The engine showing a scheduled update itself asks for nothing of ours.
        h.controller->willHandleShowingUpdate(true, test::updateItem());
        QVERIFY(!h.controller->updateWindow());
        h.controller->willHandleShowingUpdate(false, test::updateItem());
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

        UpdateHarness h({.automaticChecks = false});
        h.startAndWaitUntilReady();
        h.controller->showUpdateWindow();
        h.controller->refreshUpdateInformation();
        QCOMPARE(h.controller->updateWindow()->size(), QSize(500, 420));
        if (finds) {
            h.engine->findUpdate(test::updateItem());
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
        UpdateHarness h({.automaticChecks = false});
        h.startAndWaitUntilReady();
        h.controller->showUpdateWindow();
        h.controller->refreshUpdateInformation();
        h.engine->findUpdate(test::updateItem()); // no notes address: the failure line
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

    void refreshAnnouncesInOrder()
    {
        UpdateHarness h({.automaticChecks = false});
        h.reachFoundUpdate(test::updateItem()); // no notes address: the failure line
        QVERIFY(h.controller->notesFailed());

        // Whoever reacts to isChecking already sees the last find cleared; the status comes last.
        QStringList heard;
        UpdateController &c = *h.controller;
        connect(&c, &UpdateController::notesFailedChanged, this, [&heard] { heard << "notesFailed"; });
        connect(&c, &UpdateController::isCheckingChanged, this, [&heard] { heard << "isChecking"; });
        connect(&c, &UpdateController::updateAvailableChanged, this, [&heard] { heard << "updateAvailable"; });
        connect(&c, &UpdateController::statusChanged, this, [&heard] { heard << "status"; });
        c.refreshUpdateInformation();
        QCOMPARE(heard, (QStringList{"notesFailed", "isChecking", "updateAvailable", "status"}));
        QCOMPARE(c.phase(), UpdateController::Phase::InformationCheck);
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
        // The engine outlives the controller here, so whatever still reached the controller
        // once it was gone would show in the engine.
        std::unique_ptr<ScriptedController> engine;
        platform::FixedBundle bundle;
        bundle.info.insert(QStringLiteral("CFBundleShortVersionString"), QStringLiteral("1.3.0"));
        UpdateController::Dependencies deps;
        deps.bundle = &bundle;
        deps.controllerFactory = [&engine](updates::UpdaterDelegate &updater, updates::UserDriverDelegate &driver) {
            engine = std::make_unique<ScriptedController>(updater, driver);
            return std::unique_ptr<updates::StandardUpdaterController>(std::make_unique<BorrowedController>(*engine));
        };
        auto controller = std::make_unique<UpdateController>(std::move(deps));
        controller->controller();
        QVERIFY(engine);
        engine->scripted.automaticChecks = false;

        // The initial values are queued for the controller, and the engine announces later
        // that it can check; the user's check waits for that.
        controller->start();
        controller->refreshUpdateInformation();
        QCOMPARE(controller->status(), preparingStatus);
        QVERIFY(engine->scripted.isObserved());
        controller.reset();
        drainEvents();

        // None of it found the controller: the waiting check never started, and nothing of the
        // controller listens to the engine any more.
        QCOMPARE(engine->scripted.informationChecks, 0);
        QCOMPARE(engine->scripted.backgroundChecks, 0);
        QVERIFY(!engine->scripted.isObserved());
    }

private:
    test::TemporarySettings m_settings;
};

QTEST_MAIN(TestUpdateController)
#include "tst_updatecontroller.moc"
