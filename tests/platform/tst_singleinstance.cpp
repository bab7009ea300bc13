// One running instance per user: real launches (the claim_instance helper, a process per
// launch) against a lock and a socket in a temporary folder.
#include "TestSupport.h"

#include "platform/SingleInstance.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <vector>

#include <sys/prctl.h>

using namespace velmora;
using platform::SingleInstance;
using test::patience;

namespace {

// A launch of the helper in folder; env adds variables.
std::unique_ptr<QProcess> launch(const QString &folder, const QStringList &env = {})
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &entry : env)
        environment.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
    process->setProcessEnvironment(environment);
    // A running instance left over by a failed check must not outlive the test.
    process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process->start(test::helperProgram(QStringLiteral("claim_instance")), {folder});
    return process;
}

// The first line the launch printed (how its claim went).
QByteArray outcome(QProcess &process)
{
    if (!QTest::qWaitFor([&] { return process.canReadLine() || process.state() == QProcess::NotRunning; }, patience))
        return "still waiting";
    return process.readLine().trimmed();
}

// waitForFinished() answers false for a process that has already ended.
bool ended(QProcess &process)
{
    return QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, patience);
}

int reopenLines(QByteArray &seen, QProcess &process)
{
    seen += process.readAllStandardOutput();
    return int(seen.count("reopen\n"));
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT
private slots:
    void laterLaunchesHandTheirRequestOverAndEnd()
    {
        QTemporaryDir folder;
        SingleInstance running(folder.path(), QStringLiteral("claim-test"));
        QCOMPARE(running.claim(), SingleInstance::Claim::Running);
        QSignalSpy reopens(&running, &SingleInstance::reopenRequested);
        // The socket and the lock are the user's alone.
        QCOMPARE(QFile::permissions(running.lockPath()) & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());

        for (int i = 1; i <= 2; ++i) {
            auto second = launch(folder.path());
            QTRY_COMPARE_WITH_TIMEOUT(reopens.size(), i, patience);
            QVERIFY(ended(*second));
            QCOMPARE(second->exitStatus(), QProcess::NormalExit);
            QCOMPARE(second->exitCode(), 0);
            QCOMPARE(second->readAllStandardOutput().trimmed(), QByteArray("handed-over"));
        }
    }

    void aKilledInstanceLeavesNothingThatBlocksTheNext()
    {
        QTemporaryDir folder;
        auto first = launch(folder.path());
        QCOMPARE(outcome(*first), QByteArray("running"));
        ::kill(pid_t(first->processId()), SIGKILL);
        QVERIFY(ended(*first));
        // Its socket file is still there; the lock went with the process.
        QVERIFY(QFile::exists(folder.filePath(QStringLiteral("claim-test.socket"))));

        SingleInstance next(folder.path(), QStringLiteral("claim-test"));
        QCOMPARE(next.claim(), SingleInstance::Claim::Running);
        QSignalSpy reopens(&next, &SingleInstance::reopenRequested);
        auto third = launch(folder.path());
        QTRY_COMPARE_WITH_TIMEOUT(reopens.size(), 1, patience);
        QVERIFY(ended(*third));
        QCOMPARE(third->exitCode(), 0);
    }

    void launchesAtTheSameInstantLeaveOneRunning()
    {
        QTemporaryDir folder;
        constexpr int launches = 4;
        std::vector<std::unique_ptr<QProcess>> processes;
        for (int i = 0; i < launches; ++i)
            processes.push_back(launch(folder.path()));

        QByteArrayList outcomes;
        QProcess *running = nullptr;
        for (auto &process : processes) {
            outcomes << outcome(*process);
            if (outcomes.last() == "running")
                running = process.get();
        }
        QCOMPARE(outcomes.count("running"), 1);
        QCOMPARE(outcomes.count("handed-over"), launches - 1);
        QVERIFY(running);
        QByteArray seen;
        QTRY_COMPARE_WITH_TIMEOUT(reopenLines(seen, *running), launches - 1, patience);
        for (auto &process : processes) {
            if (process.get() == running)
                continue;
            QVERIFY(ended(*process));
            QCOMPARE(process->exitCode(), 0);
        }
        running->terminate();
        QVERIFY(ended(*running));
    }

    void aRelaunchedInstanceWaitsForItsPredecessor()
    {
        QTemporaryDir folder;
        auto predecessor = launch(folder.path());
        QCOMPARE(outcome(*predecessor), QByteArray("running"));

        auto relaunched = launch(folder.path(),
                                 {QStringLiteral("VELMORA_RELAUNCHED_FROM=%1").arg(predecessor->processId())});
        QVERIFY(relaunched->waitForStarted(patience));
        // It waits for the predecessor rather than handing it anything: the predecessor
        // ends having taken no request, and only then does the relaunched one run.
        predecessor->terminate();
        QVERIFY(ended(*predecessor));
        QCOMPARE(predecessor->readAllStandardOutput(), QByteArray());
        QCOMPARE(outcome(*relaunched), QByteArray("running"));
        relaunched->terminate();
        QVERIFY(ended(*relaunched));
    }

    void aRelaunchWhosePredecessorIsGoneRunsAtOnce_data()
    {
        QTest::addColumn<QString>("relaunchedFrom");
        QTest::newRow("a process that has ended") << QStringLiteral("ended");
        QTest::newRow("not a process id") << QStringLiteral("x12");
        QTest::newRow("empty") << QString();
    }

    void aRelaunchWhosePredecessorIsGoneRunsAtOnce()
    {
        QFETCH(QString, relaunchedFrom);
        if (relaunchedFrom == QLatin1String("ended")) {
            QProcess gone;
            gone.start(test::helperProgram(QStringLiteral("exit_at_once")), {});
            QVERIFY(gone.waitForFinished(patience));
            relaunchedFrom = QString::number(gone.processId());
        }
        QTemporaryDir folder;
        auto relaunched = launch(folder.path(), {QStringLiteral("VELMORA_RELAUNCHED_FROM=") + relaunchedFrom});
        QCOMPARE(outcome(*relaunched), QByteArray("running"));
        relaunched->terminate();
        QVERIFY(ended(*relaunched));
    }

    void theRelaunchVariableIsReadAsAProcessId_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<qint64>("pid");
        QTest::newRow("a process id") << QStringLiteral("4242") << qint64(4242);
        QTest::newRow("unset") << QString() << qint64(0);
        QTest::newRow("zero") << QStringLiteral("0") << qint64(0);
        QTest::newRow("negative") << QStringLiteral("-5") << qint64(0);
        QTest::newRow("text") << QStringLiteral("pid") << qint64(0);
    }

    void theRelaunchVariableIsReadAsAProcessId()
    {
        QFETCH(QString, value);
        QFETCH(qint64, pid);
        QProcessEnvironment environment;
        if (!value.isNull())
            environment.insert(QStringLiteral("VELMORA_RELAUNCHED_FROM"), value);
        QCOMPARE(platform::relaunchedFrom(environment), pid);
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
