#include "app/ScreenChoice.h"

#include <QTest>

using namespace velmora::app;

Q_DECLARE_METATYPE(velmora::app::StartupScreen)

class TestScreenChoice : public QObject
{
    Q_OBJECT
private slots:
    void choosesScreenFromGateAndBackend_data()
    {
        QTest::addColumn<bool>("isReady");
        QTest::addColumn<bool>("hasChecked");
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<QString>("error");
        QTest::addColumn<StartupScreen>("expected");

        const QUrl url(QStringLiteral("http://127.0.0.1:18760/"));
        const QString error = QStringLiteral("backend failed");
        const QUrl none;
        const QString noError;

        // Ready with a URL: the workspace, whatever else is set.
        QTest::newRow("ready, url") << true << true << url << noError << StartupScreen::Workspace;
        QTest::newRow("ready, url, error left over") << true << true << url << error << StartupScreen::Workspace;
        QTest::newRow("ready, url, hasChecked false") << true << false << url << noError << StartupScreen::Workspace;
        // Ready without a URL: failure while an error is set, otherwise the progress.
        QTest::newRow("ready, error") << true << true << none << error << StartupScreen::Failure;
        QTest::newRow("ready, error, hasChecked false") << true << false << none << error << StartupScreen::Failure;
        QTest::newRow("ready, nothing yet") << true << true << none << noError << StartupScreen::StartupProgress;
        QTest::newRow("ready, nothing yet, hasChecked false")
            << true << false << none << noError << StartupScreen::StartupProgress;
        // Not ready: the backend's values never matter.
        QTest::newRow("checked, missing") << false << true << none << noError << StartupScreen::Access;
        QTest::newRow("checked, missing, url") << false << true << url << noError << StartupScreen::Access;
        QTest::newRow("checked, missing, error") << false << true << none << error << StartupScreen::Access;
        QTest::newRow("not checked") << false << false << none << noError << StartupScreen::AccessCheck;
        QTest::newRow("not checked, url") << false << false << url << noError << StartupScreen::AccessCheck;
        QTest::newRow("not checked, error") << false << false << none << error << StartupScreen::AccessCheck;
    }

    void choosesScreenFromGateAndBackend()
    {
        QFETCH(bool, isReady);
        QFETCH(bool, hasChecked);
        QFETCH(QUrl, url);
        QFETCH(QString, error);
        QFETCH(StartupScreen, expected);
        QCOMPARE(screenName(chooseScreen(isReady, hasChecked, url, error)), screenName(expected));
    }
};

QTEST_GUILESS_MAIN(TestScreenChoice)
#include "tst_screenchoice.moc"
