#include "TestSupport.h"

#include "app/TerminationSignals.h"

#include <QSignalSpy>
#include <QTest>

#include <csignal>

using velmora::app::TerminationSignals;

class TestTerminationSignals : public QObject
{
    Q_OBJECT

    static bool hasDefaultHandler(int signalNumber)
    {
        struct sigaction current = {};
        ::sigaction(signalNumber, nullptr, &current);
        return current.sa_handler == SIG_DFL;
    }

private slots:
    void signalsArriveOnTheEventLoopAndDefaultsComeBack()
    {
        {
            TerminationSignals handlers;
            QVERIFY(handlers.isActive());
            QSignalSpy received(&handlers, &TerminationSignals::received);
            ::raise(SIGTERM);
            ::raise(SIGINT);
            ::raise(SIGHUP);
            QTRY_COMPARE_WITH_TIMEOUT(received.size(), 3, velmora::test::patience);
            QCOMPARE(received.at(0).at(0).toInt(), SIGTERM);
            QCOMPARE(received.at(1).at(0).toInt(), SIGINT);
            QCOMPARE(received.at(2).at(0).toInt(), SIGHUP);

            // One pipe per process: a second instance stays inactive rather than steal it.
            TerminationSignals second;
            QVERIFY(!second.isActive());
        }
        QVERIFY(hasDefaultHandler(SIGTERM));
        QVERIFY(hasDefaultHandler(SIGINT));
        QVERIFY(hasDefaultHandler(SIGHUP));
    }

    // A signal caught before any instance exists (the start of the process, before the event
    // loop) is neither lost nor deadly: the first instance delivers it once its loop runs.
    void aSignalCaughtEarlyReachesTheFirstInstance()
    {
        TerminationSignals::catchEarly();
        QVERIFY(!hasDefaultHandler(SIGTERM));
        ::raise(SIGTERM);
        {
            TerminationSignals handlers;
            QVERIFY(handlers.isActive());
            QSignalSpy received(&handlers, &TerminationSignals::received);
            QTRY_COMPARE_WITH_TIMEOUT(received.size(), 1, velmora::test::patience);
            QCOMPARE(received.at(0).at(0).toInt(), SIGTERM);
        }
        QVERIFY(hasDefaultHandler(SIGTERM));
    }
};

QTEST_GUILESS_MAIN(TestTerminationSignals)
#include "tst_terminationsignals.moc"
