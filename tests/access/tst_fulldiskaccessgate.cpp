#include "GateDoubles.h"
#include "TestSupport.h"

#include "access/AccessProbe.h"
#include "access/FullDiskAccessGate.h"
#include "access/Texts.h"
#include "platform/ProcessInfo.h"
#include "platform/Relauncher.h"

#include <QCoro/QCoroTask>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace velmora;
using access::FullDiskAccessGate;

namespace {

// A probe that counts its calls and, when held, blocks its worker thread until released.
class ScriptedProbe
{
public:
    explicit ScriptedProbe(bool answer, bool held = false) : m_answer(answer), m_held(held) {}

    FullDiskAccessGate::Probe function()
    {
        return [this] {
            ++m_calls;
            std::unique_lock lock(m_mutex);
            m_released.wait(lock, [this] { return !m_held; });
            return m_answer.load();
        };
    }
    void release()
    {
        {
            std::lock_guard lock(m_mutex);
            m_held = false;
        }
        m_released.notify_all();
    }
    void setAnswer(bool answer) { m_answer = answer; }
    int calls() const { return m_calls; }

private:
    std::atomic<bool> m_answer;
    std::atomic<int> m_calls{0};
    std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_held;
};

// Reports the relaunch from another thread, as the platform may; or keeps it pending.
class ScriptedRelauncher : public platform::Relauncher
{
public:
    bool answers = true;
    platform::RelaunchResult result;
    int requests = 0;

    void relaunch(std::function<void(platform::RelaunchResult)> completion) override
    {
        ++requests;
        if (!answers)
            return;
        std::thread([completion, r = result] { completion(r); }).join();
    }
};

struct GateFixture
{
    explicit GateFixture(bool answer, bool held = false) : probe(answer, held)
    {
        processInfo.pid = 4242;
        FullDiskAccessGate::Dependencies deps;
        deps.relauncher = &relauncher;
        deps.processInfo = &processInfo;
        deps.terminate = [this] { ++terminations; };
        gate = std::make_unique<FullDiskAccessGate>(probe.function(), deps);
    }
    ~GateFixture() { probe.release(); }

    ScriptedProbe probe;
    ScriptedRelauncher relauncher;
    platform::FixedProcessInfo processInfo;
    int terminations = 0;
    std::unique_ptr<FullDiskAccessGate> gate;
};

} // namespace

class TestFullDiskAccessGate : public QObject
{
    Q_OBJECT
private slots:
    void overlappingChecksShareOneProbe_data()
    {
        QTest::addColumn<bool>("answer");
        QTest::newRow("access missing") << false;
        QTest::newRow("access present") << true;
    }

    void overlappingChecksShareOneProbe()
    {
        QFETCH(bool, answer);
        GateFixture f(answer, /*held=*/true);
        QSignalSpy hasChecked(f.gate.get(), &FullDiskAccessGate::hasCheckedChanged);

        auto first = f.gate->check();
        auto second = f.gate->check();
        auto third = f.gate->check();
        QVERIFY(f.gate->isChecking());
        QTRY_COMPARE_WITH_TIMEOUT(f.probe.calls(), 1, test::patience);
        QVERIFY(!first.isReady() && !second.isReady() && !third.isReady());

        f.probe.release();
        QCOMPARE(test::waitFor(first), answer);
        QCOMPARE(test::waitFor(second), answer);
        QCOMPARE(test::waitFor(third), answer);

        QCOMPARE(f.probe.calls(), 1);
        QCOMPARE(hasChecked.count(), 1);
        QVERIFY(f.gate->hasChecked());
        QVERIFY(!f.gate->isChecking());
        QCOMPARE(f.gate->isReady(), answer);
    }

    void observersOfTheCheckSeeAConsistentGate()
    {
        // Qt announces a change while the announcer runs: an observer of isChecking that
        // checks again must join the probe in flight when it starts, and must get a new
        // probe once it has ended (a negative answer is not final).
        GateFixture f(false, /*held=*/true);
        QStringList announced;
        std::vector<QCoro::Task<bool>> observerChecks;
        observerChecks.reserve(16); // waited for by reference while observers add more
        bool checkedAfterEnd = false;
        auto *gate = f.gate.get();
        connect(gate, &FullDiskAccessGate::isReadyChanged, this, [&] { announced << "isReady"; });
        connect(gate, &FullDiskAccessGate::hasCheckedChanged, this, [&] { announced << "hasChecked"; });
        connect(gate, &FullDiskAccessGate::isCheckingChanged, this, [&, gate] {
            announced << (gate->isChecking() ? "checking" : "not checking");
            if (gate->isChecking() || !checkedAfterEnd) {
                checkedAfterEnd = checkedAfterEnd || !gate->isChecking();
                observerChecks.push_back(gate->check());
            }
        });

        auto first = gate->check();
        QCOMPARE(observerChecks.size(), size_t(1));
        QTRY_COMPARE_WITH_TIMEOUT(f.probe.calls(), 1, test::patience);
        f.probe.release();
        QCOMPARE(test::waitFor(first), false);
        for (size_t i = 0; i < observerChecks.size(); ++i)
            QCOMPARE(test::waitFor(observerChecks[i]), false);
        QTRY_VERIFY_WITH_TIMEOUT(!gate->isChecking(), test::patience);
        // The check made on hearing of the end started a second probe (joined by the check
        // made on hearing of its start); nothing else ever ran twice.
        QCOMPARE(announced, (QStringList{"checking", "hasChecked", "not checking", "checking", "not checking"}));
        QCOMPARE(f.probe.calls(), 2);
        QCOMPARE(observerChecks.size(), size_t(3));

        // On a positive answer the published fields change in their documented order.
        announced.clear();
        f.probe.setAnswer(true);
        QCOMPARE(test::waitFor(gate->check()), true);
        QCOMPARE(observerChecks.size(), size_t(4));
        QCOMPARE(test::waitFor(observerChecks.back()), true);
        QCOMPARE(announced, (QStringList{"checking", "isReady", "not checking"}));
        QCOMPARE(f.probe.calls(), 3);
    }

    void negativeAnswerIsAskedAgainButPositiveIsFinal()
    {
        GateFixture f(false);
        QCOMPARE(test::waitFor(f.gate->check()), false);
        QVERIFY(f.gate->hasChecked());
        QVERIFY(!f.gate->isReady());
        QCOMPARE(test::waitFor(f.gate->check()), false);
        QCOMPARE(f.probe.calls(), 2);

        f.probe.setAnswer(true);
        QCOMPARE(test::waitFor(f.gate->check()), true);
        QVERIFY(f.gate->isReady());
        f.probe.setAnswer(false);
        auto afterwards = f.gate->check();
        QVERIFY(afterwards.isReady()); // answered without suspending
        QCOMPARE(test::waitFor(afterwards), true);
        QCOMPARE(f.probe.calls(), 3);
    }

    void checkWhileRestartingAnswersFalseWithoutProbing()
    {
        GateFixture f(true);
        f.relauncher.answers = false;
        f.gate->restart();
        QVERIFY(f.gate->isRestarting());
        QCOMPARE(test::waitFor(f.gate->check()), false);
        QCOMPARE(f.probe.calls(), 0);
        QVERIFY(!f.gate->hasChecked());
        QVERIFY(!f.gate->isChecking());
    }

    void restartIsRefusedWhileBusyOrReady()
    {
        { // checking
            GateFixture f(false, /*held=*/true);
            auto running = f.gate->check();
            f.gate->restart();
            QCOMPARE(f.relauncher.requests, 0);
            QVERIFY(!f.gate->isRestarting());
            f.probe.release();
            test::waitFor(running);
        }
        { // ready
            GateFixture f(true);
            QVERIFY(test::waitFor(f.gate->check()));
            f.gate->restart();
            QCOMPARE(f.relauncher.requests, 0);
            QVERIFY(!f.gate->isRestarting());
        }
        { // already restarting
            GateFixture f(false);
            f.relauncher.answers = false;
            f.gate->restart();
            f.gate->restart();
            QCOMPARE(f.relauncher.requests, 1);
            QVERIFY(f.gate->isRestarting());
        }
    }

    void relaunchOutcome_data()
    {
        QTest::addColumn<qint64>("processId");
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("terminates");
        QTest::newRow("new instance") << qint64(5151) << QString() << true;
        QTest::newRow("this same process") << qint64(4242) << QString() << false;
        QTest::newRow("no process") << qint64(0) << QString() << false;
        QTest::newRow("platform error") << qint64(5151) << QStringLiteral("No such file") << false;
    }

    void relaunchOutcome()
    {
        QFETCH(qint64, processId);
        QFETCH(QString, error);
        QFETCH(bool, terminates);
        GateFixture f(false);
        QVERIFY(!test::waitFor(f.gate->check()));
        f.relauncher.result = {processId, error};
        QSignalSpy restarting(f.gate.get(), &FullDiskAccessGate::isRestartingChanged);

        f.gate->restart();
        QCOMPARE(f.relauncher.requests, 1);
        QVERIFY(f.gate->isRestarting());
        if (terminates) {
            QTRY_COMPARE_WITH_TIMEOUT(f.terminations, 1, test::patience);
            QVERIFY(f.gate->isRestarting());
            QVERIFY(f.gate->message().isEmpty());
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(!f.gate->isRestarting(), test::patience);
            QCOMPARE(f.gate->message(), access::relaunchFailedMessage);
            QCOMPARE(f.terminations, 0);
            // The message stays across later checks.
            QVERIFY(!test::waitFor(f.gate->check()));
            QCOMPARE(f.gate->message(), access::relaunchFailedMessage);
        }
    }

    void relaunchReportAfterTheGateIsGoneIsIgnored()
    {
        test::HeldRelauncher relauncher;
        int terminations = 0;
        {
            FullDiskAccessGate gate([] { return false; }, {&relauncher, nullptr, [&terminations] { ++terminations; }});
            gate.restart();
        }
        QVERIFY(relauncher.held);
        relauncher.held({0, QStringLiteral("failed")});
        QCoreApplication::processEvents();
        QCOMPARE(terminations, 0);
    }

    void realRelauncherStartsADetachedProcess()
    {
        platform::Relauncher relauncher(test::helperProgram(QStringLiteral("exit_at_once")));
        std::optional<platform::RelaunchResult> result;
        relauncher.relaunch([&result](platform::RelaunchResult r) { result = r; });
        QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), test::patience);
        QVERIFY2(result->started(), qPrintable(result->error));
        QVERIFY(result->processId != QCoreApplication::applicationPid());

        platform::Relauncher missing(QStringLiteral("/nonexistent/velmora"));
        result.reset();
        missing.relaunch([&result](platform::RelaunchResult r) { result = r; });
        QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), test::patience);
        QVERIFY(!result->started());
        QVERIFY(!result->error.isEmpty());
    }

    void defaultGateUsesThePlatformProbe()
    {
        // This machine runs the tests outside a sandbox, where the Linux rule grants access.
        FullDiskAccessGate gate;
        QCOMPARE(test::waitFor(gate.check()), access::probeAuthorization());
    }
};

QTEST_GUILESS_MAIN(TestFullDiskAccessGate)
#include "tst_fulldiskaccessgate.moc"
