// What the workspace does when its page's render process ends.
#include "workspace/PageRecovery.h"

#include <QTest>

using namespace velmora::workspace;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

Q_DECLARE_METATYPE(PageRecovery)

class TestPageRecovery : public QObject
{
    Q_OBJECT
private slots:
    void decidesAfterTheRenderProcessEnds_data()
    {
        QTest::addColumn<bool>("abnormal");
        QTest::addColumn<bool>("quitting");
        QTest::addColumn<int>("secondsSinceReload"); // -1: never reloaded
        QTest::addColumn<PageRecovery>("expected");

        QTest::newRow("normal end") << false << false << -1 << PageRecovery::Nothing;
        QTest::newRow("crash while quitting") << true << true << -1 << PageRecovery::Nothing;
        QTest::newRow("first crash") << true << false << -1 << PageRecovery::Reload;
        QTest::newRow("again soon after the reload") << true << false << 5 << PageRecovery::ShowFailure;
        QTest::newRow("again just inside the window") << true << false << 29 << PageRecovery::ShowFailure;
        QTest::newRow("again once the window has passed") << true << false << 30 << PageRecovery::Reload;
        QTest::newRow("normal end soon after a reload") << false << false << 5 << PageRecovery::Nothing;
    }

    void decidesAfterTheRenderProcessEnds()
    {
        QFETCH(bool, abnormal);
        QFETCH(bool, quitting);
        QFETCH(int, secondsSinceReload);
        QFETCH(PageRecovery, expected);

        const Clock::time_point now = Clock::now();
        std::optional<Clock::time_point> lastReload;
        if (secondsSinceReload >= 0)
            lastReload = now - std::chrono::seconds(secondsSinceReload);
        QCOMPARE(decidePageRecovery(abnormal, quitting, lastReload, now), expected);
    }
};

QTEST_GUILESS_MAIN(TestPageRecovery)
#include "tst_pagerecovery.moc"
