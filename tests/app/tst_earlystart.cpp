#include "app/EarlyStart.h"

#include <QTest>

using namespace velmora::app;

Q_DECLARE_METATYPE(velmora::app::EarlyLaunch)

// Which command lines launch the backend before the application object: only those the
// application itself reads as a plain start or a picture run, never a command that ends
// without a window, and never a relaunch whose predecessor may still hold the port.
class TestEarlyStart : public QObject
{
    Q_OBJECT
private slots:
    void launchesOnlyForAPlainStartOrAPicture_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("relaunched");
        QTest::addColumn<EarlyLaunch>("expected");

        QTest::newRow("plain start") << QStringList{} << false << EarlyLaunch::AsInstance;
        QTest::newRow("plain start, relaunched") << QStringList{} << true << EarlyLaunch::None;
        QTest::newRow("picture") << QStringList{"--screenshot", "shot.png"} << false << EarlyLaunch::ForPicture;
        QTest::newRow("picture, value joined") << QStringList{"--screenshot=shot.png"} << false << EarlyLaunch::ForPicture;
        QTest::newRow("picture, relaunched") << QStringList{"--screenshot", "shot.png"} << true << EarlyLaunch::None;
        QTest::newRow("picture without a file") << QStringList{"--screenshot"} << false << EarlyLaunch::None;
        QTest::newRow("picture, empty joined value") << QStringList{"--screenshot="} << false << EarlyLaunch::None;
        QTest::newRow("picture, an option for a file")
            << QStringList{"--screenshot", "--version"} << false << EarlyLaunch::None;
        QTest::newRow("picture and more") << QStringList{"--screenshot", "a.png", "b"} << false << EarlyLaunch::None;
        QTest::newRow("version") << QStringList{"--version"} << false << EarlyLaunch::None;
        QTest::newRow("help") << QStringList{"--help"} << false << EarlyLaunch::None;
        QTest::newRow("update start check") << QStringList{"--check-start"} << false << EarlyLaunch::None;
        QTest::newRow("Qt's own option") << QStringList{"-platform", "xcb"} << false << EarlyLaunch::None;
        QTest::newRow("single dash") << QStringList{"-screenshot", "shot.png"} << false << EarlyLaunch::None;
    }

    void launchesOnlyForAPlainStartOrAPicture()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, relaunched);
        QFETCH(EarlyLaunch, expected);
        QCOMPARE(earlyLaunchFor(arguments, relaunched), expected);
    }
};

QTEST_GUILESS_MAIN(TestEarlyStart)
#include "tst_earlystart.moc"
