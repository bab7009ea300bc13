#include "TestSupport.h"

#include "app/DesktopDefaults.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QProcess>
#include <QTest>

using namespace velmora;

Q_DECLARE_METATYPE(std::optional<QByteArray>)

namespace {

// The child's side: Velmora's defaults, then the application object (which reads the user's
// rules), then one line in the engine's category and one in another of Qt's.
int logAsVelmora(int argc, char *argv[])
{
    app::applyLoggingDefaults();
    QCoreApplication application(argc, argv);
    const QLoggingCategory engine("qt.webenginecontext");
    const QLoggingCategory other("qt.velmora.other");
    qCInfo(engine, "engine dump");
    qCInfo(other, "other line");
    return 0;
}

} // namespace

class TestDesktopDefaults : public QObject
{
    Q_OBJECT
private slots:
    void platformTheme_data()
    {
        QTest::addColumn<QByteArray>("userTheme");
        QTest::addColumn<QByteArray>("desktop");
        QTest::addColumn<std::optional<QByteArray>>("theme");
        const std::optional<QByteArray> qtsChoice;
        const std::optional<QByteArray> portal = QByteArray("xdgdesktopportal");
        QTest::newRow("GNOME: Qt's GTK theme") << QByteArray() << QByteArray("GNOME") << qtsChoice;
        QTest::newRow("Ubuntu's GNOME") << QByteArray() << QByteArray("ubuntu:GNOME") << qtsChoice;
        QTest::newRow("Xfce") << QByteArray() << QByteArray("XFCE") << qtsChoice;
        QTest::newRow("KDE: the portal") << QByteArray() << QByteArray("KDE") << portal;
        QTest::newRow("LXQt, lower case") << QByteArray() << QByteArray("lxqt") << portal;
        QTest::newRow("KDE later in the list") << QByteArray() << QByteArray("X-Custom:KDE") << portal;
        QTest::newRow("a window manager alone") << QByteArray() << QByteArray() << qtsChoice;
        QTest::newRow("the user's choice wins") << QByteArray("gtk3") << QByteArray("KDE") << qtsChoice;
    }

    void platformTheme()
    {
        QFETCH(QByteArray, userTheme);
        QFETCH(QByteArray, desktop);
        QFETCH(std::optional<QByteArray>, theme);
        QCOMPARE(app::preferredPlatformTheme(userTheme, desktop), theme);
    }

    void engineDumpStaysOutOfTheTerminal_data()
    {
        QTest::addColumn<QByteArray>("userRules");
        QTest::addColumn<bool>("dumpShown");
        QTest::newRow("no rules of the user") << QByteArray() << false;
        QTest::newRow("user rules for other categories") << QByteArray("js.debug=false") << false;
        QTest::newRow("user turns the dump on") << QByteArray("qt.webenginecontext.info=true") << true;
        QTest::newRow("user turns everything on") << QByteArray("*.info=true") << true;
    }

    void engineDumpStaysOutOfTheTerminal()
    {
        QFETCH(QByteArray, userRules);
        QFETCH(bool, dumpShown);
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("QT_LOGGING_RULES"));
        environment.remove(QStringLiteral("QT_LOGGING_CONF"));
        if (!userRules.isEmpty())
            environment.insert(QStringLiteral("QT_LOGGING_RULES"), QString::fromUtf8(userRules));
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--log-as-velmora")});
        QVERIFY2(child.waitForFinished(test::patience), qPrintable(child.errorString()));
        QCOMPARE(child.exitCode(), 0);
        const QByteArray terminal = child.readAllStandardError();
        QCOMPARE(terminal.contains("engine dump"), dumpShown);
        // Only the engine's category is touched.
        QVERIFY2(terminal.contains("other line"), terminal.constData());
    }
};

int main(int argc, char *argv[])
{
    if (argc == 2 && qstrcmp(argv[1], "--log-as-velmora") == 0)
        return logAsVelmora(argc, argv);
    QCoreApplication app(argc, argv);
    TestDesktopDefaults test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desktopdefaults.moc"
