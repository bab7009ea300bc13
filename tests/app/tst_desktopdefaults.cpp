#include "TestSupport.h"

#include "app/DesktopDefaults.h"
#include "platform/GraphicsDevices.h"

#include <QCoreApplication>
#include <QDir>
#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace velmora;

Q_DECLARE_METATYPE(std::optional<QByteArray>)
Q_DECLARE_METATYPE(app::DrawingSettings)
Q_DECLARE_METATYPE(app::DrawingChoice)

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

    void drawing_data()
    {
        QTest::addColumn<app::DrawingSettings>("settings");
        QTest::addColumn<app::DrawingChoice>("choice");
        const app::DrawingChoice qtsDefault;
        const app::DrawingChoice software{true, true};
        const app::DrawingChoice softwareOnUsersGl{true, false};
        const auto with = [](auto change) {
            app::DrawingSettings settings;
            change(settings);
            return settings;
        };
        QTest::newRow("a GPU, nothing turned off") << app::DrawingSettings() << qtsDefault;
        QTest::newRow("engine's GPU turned off") << with([](auto &s) { s.engineFlags = "--disable-gpu"; }) << software;
        QTest::newRow("among other flags, any spacing")
            << with([](auto &s) { s.engineFlags = "--lang=ko\t --disable-gpu  --no-first-run"; }) << software;
        QTest::newRow("on the command line") << with([](auto &s) { s.arguments = {"--disable-gpu"}; }) << software;
        QTest::newRow("a flag that only starts alike")
            << with([](auto &s) { s.engineFlags = "--disable-gpu-compositing --disable-gpu-rasterization"; }) << qtsDefault;
        QTest::newRow("a word inside another argument")
            << with([](auto &s) { s.arguments = {"--title=--disable-gpu"}; }) << qtsDefault;
        QTest::newRow("no GPU device") << with([](auto &s) { s.graphicsDevice = false; }) << software;
        QTest::newRow("software GL asked for") << with([](auto &s) { s.alwaysSoftware = "1"; }) << software;
        QTest::newRow("software GL, in words") << with([](auto &s) { s.alwaysSoftware = " Yes"; }) << software;
        QTest::newRow("software GL refused") << with([](auto &s) { s.alwaysSoftware = "0"; }) << qtsDefault;
        QTest::newRow("the user's GL integration stays") << with([](auto &s) {
            s.engineFlags = "--disable-gpu";
            s.xcbGlIntegration = "xcb_egl";
        }) << softwareOnUsersGl;
        QTest::newRow("the user's Qt Quick backend stands") << with([](auto &s) {
            s.engineFlags = "--disable-gpu";
            s.quickBackend = "opengl";
        }) << qtsDefault;
        QTest::newRow("the user's graphics API stands") << with([](auto &s) {
            s.graphicsDevice = false;
            s.rhiBackend = "vulkan";
        }) << qtsDefault;
    }

    void drawing()
    {
        QFETCH(app::DrawingSettings, settings);
        QFETCH(app::DrawingChoice, choice);
        const app::DrawingChoice chosen = app::preferredDrawing(settings);
        QCOMPARE(chosen.softwareSceneGraph, choice.softwareSceneGraph);
        QCOMPARE(chosen.withoutGl, choice.withoutGl);
    }

    void graphicsDevice_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<bool>("device");
        QTest::newRow("no dri folder") << QStringList{QStringLiteral("null"), QStringLiteral("tty0")} << false;
        QTest::newRow("a DRM card") << QStringList{QStringLiteral("dri/card0")} << true;
        QTest::newRow("a render node alone") << QStringList{QStringLiteral("dri/renderD128")} << true;
        QTest::newRow("dri holding only its folders") << QStringList{QStringLiteral("dri/by-path/x")} << false;
        QTest::newRow("NVIDIA's own device") << QStringList{QStringLiteral("nvidia0")} << true;
        QTest::newRow("NVIDIA's control files alone")
            << QStringList{QStringLiteral("nvidiactl"), QStringLiteral("nvidia-modeset")} << false;
    }

    void graphicsDevice()
    {
        QFETCH(QStringList, entries);
        QFETCH(bool, device);
        QTemporaryDir devices;
        for (const QString &entry : std::as_const(entries)) {
            const QString path = devices.filePath(entry);
            QVERIFY(QDir().mkpath(QFileInfo(path).path()));
            QVERIFY(test::writeFile(path, "", false));
        }
        QCOMPARE(platform::hasGraphicsDevice(devices.path()), device);
    }

    // What Velmora sets for its application object goes again before it starts anything; what
    // the session set itself stays.
    void environmentIsRestored()
    {
        qputenv("VELMORA_TEST_SESSION_OWN", "kept");
        const auto cleanUp = qScopeGuard([] { qunsetenv("VELMORA_TEST_SESSION_OWN"); });
        app::setForApplicationObject("QT_QPA_PLATFORMTHEME", "xdgdesktopportal");
        app::setForApplicationObject("QT_XCB_GL_INTEGRATION", "none");
        app::setForApplicationObject("QT_XCB_GL_INTEGRATION", "none");
        QCOMPARE(qgetenv("QT_XCB_GL_INTEGRATION"), QByteArray("none"));
        app::restoreEnvironment();
        QVERIFY(!qEnvironmentVariableIsSet("QT_QPA_PLATFORMTHEME"));
        QVERIFY(!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"));
        QCOMPARE(qgetenv("VELMORA_TEST_SESSION_OWN"), QByteArray("kept"));
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
