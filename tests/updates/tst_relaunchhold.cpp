#include "TestSupport.h"
#include "UpdateHarness.h"

#include "platform/Async.h"
#include "platform/Bundle.h"
#include "updates/UpdateController.h"

#include <QElapsedTimer>
#include <QTest>

using namespace velmora;
using namespace std::chrono_literals;
using test::drainEvents;
using test::ScriptedController;
using updates::UpdateController;

namespace {

constexpr auto interval = 100ms;

// A backend that reports work for a number of requests, then agrees to the relaunch.
struct Backend
{
    int busyAnswers = 0;
    // While false every answer is "busy", however many requests were made.
    bool agreeing = true;
    // When set, every answer waits until the test cancels this handle.
    platform::TaskHandle gate;
    int requests = 0;
    std::vector<qint64> requestTimes;
    QElapsedTimer clock;

    UpdateController::PrepareForUpdate prepare()
    {
        clock.start();
        return [this](platform::CancelToken) -> QCoro::Task<bool> {
            ++requests;
            requestTimes.push_back(clock.elapsed());
            if (gate.isValid())
                co_await platform::sleepFor(std::chrono::hours(1), gate.token());
            // Decided when the answer is given: a held answer sees what changed meanwhile.
            co_return agreeing &&requests > busyAnswers;
        };
    }
};

// The relaunch hold over the scripted engine, asking backend every interval.
test::UpdateHarness::Options asking(Backend &backend)
{
    return {.prepareForUpdate = backend.prepare(), .relaunchPollInterval = interval};
}

} // namespace

class TestRelaunchHold : public QObject
{
    Q_OBJECT
private slots:
    void idleBackendRelaunchesAfterTheFirstAnswer()
    {
        Backend backend;
        test::UpdateHarness h(asking(backend));
        int continued = 0;
        QVERIFY(h.engine->postponeRelaunch([&continued] { ++continued; }));
        QCOMPARE(continued, 0); // never inside the engine's own call
        QVERIFY(h.controller->installationTask().isValid());
        QTRY_COMPARE_WITH_TIMEOUT(continued, 1, test::patience);
        QCOMPARE(backend.requests, 1);
    }

    void busyBackendIsAskedOncePerIntervalUntilReady()
    {
        Backend backend;
        backend.busyAnswers = 3;
        test::UpdateHarness h(asking(backend));
        int continued = 0;
        QVERIFY(h.engine->postponeRelaunch([&continued] { ++continued; }));
        QTRY_COMPARE_WITH_TIMEOUT(continued, 1, test::patience);
        QCOMPARE(backend.requests, 4);
        // A pause of the whole interval separates the requests (a precise timer never fires early).
        for (size_t i = 1; i < backend.requestTimes.size(); ++i)
            QVERIFY2(backend.requestTimes[i] - backend.requestTimes[i - 1] >= interval.count() - 2,
                     qPrintable(QStringLiteral("gap %1 ms").arg(backend.requestTimes[i] - backend.requestTimes[i - 1])));
        // Once released, nothing more is asked and the continuation is not called again.
        bool slept = test::waitFor(platform::sleepFor(3 * interval));
        QVERIFY(slept);
        QCOMPARE(backend.requests, 4);
        QCOMPARE(continued, 1);
    }

    void secondRequestCancelsTheFirst_data()
    {
        QTest::addColumn<bool>("answerHeld");
        QTest::newRow("first waiting between requests") << false;
        QTest::newRow("first waiting for the backend's answer") << true;
    }

    void secondRequestCancelsTheFirst()
    {
        QFETCH(bool, answerHeld);
        Backend backend;
        backend.agreeing = false; // the first task can never go ahead on its own, however slow the test
        if (answerHeld)
            backend.gate = platform::TaskHandle::make();
        test::UpdateHarness h(asking(backend));
        int first = 0;
        int second = 0;
        QVERIFY(h.engine->postponeRelaunch([&first] { ++first; }));
        QTRY_VERIFY_WITH_TIMEOUT(backend.requests >= 1, test::patience);
        const platform::TaskHandle firstTask = h.controller->installationTask();
        QVERIFY(h.engine->postponeRelaunch([&second] { ++second; }));
        QVERIFY(firstTask.isCancelled());
        if (answerHeld) {
            // The first question is still open; the second task has asked its own.
            QTRY_COMPARE_WITH_TIMEOUT(backend.requests, 2, test::patience);
        }
        // From here on every answer is "ready", which only the latest continuation may act on.
        backend.agreeing = true;
        backend.gate.cancel();
        QTRY_COMPARE_WITH_TIMEOUT(second, 1, test::patience);
        QVERIFY(test::waitFor(platform::sleepFor(2 * interval)));
        drainEvents();
        QCOMPARE(first, 0);
        QCOMPARE(second, 1);
    }

    void withdrawnHoldAsksNoMore()
    {
        Backend backend;
        backend.agreeing = false;
        test::UpdateHarness h(asking(backend));
        int continued = 0;
        QVERIFY(h.engine->postponeRelaunch([&continued] { ++continued; }));
        QTRY_VERIFY_WITH_TIMEOUT(backend.requests >= 1, test::patience);
        h.engine->withdrawRelaunch();
        QVERIFY(h.controller->installationTask().isCancelled());
        const int asked = backend.requests;
        // However ready the backend becomes now, the withdrawn hold neither asks nor relaunches.
        backend.agreeing = true;
        QVERIFY(test::waitFor(platform::sleepFor(3 * interval)));
        drainEvents();
        QCOMPARE(backend.requests, asked);
        QCOMPARE(continued, 0);
    }

    void holdOutlivesTheController()
    {
        Backend backend;
        backend.busyAnswers = 1;
        test::UpdateHarness h(asking(backend));
        int continued = 0;
        QVERIFY(h.engine->postponeRelaunch([&continued] { ++continued; }));
        h.controller.reset();
        QTRY_COMPARE_WITH_TIMEOUT(continued, 1, test::patience);
    }
};

QTEST_MAIN(TestRelaunchHold)
#include "tst_relaunchhold.moc"
