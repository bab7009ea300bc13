// The application delegate: the update controller starts when launching has finished, the
// application outlives its window, a reopen brings the one window back, and the status-area
// icon shows exactly while the window is hidden. There is no status area on this machine (no
// StatusNotifier host, no XEmbed tray): the icon is a stand-in that records what it is told,
// behind the same interface as the real one. (That the restored window gets the focus is
// shown on a real X server by tst_windowlifecycle.)
#include "ScriptedUpdater.h"
#include "TestSupport.h"

#include "app/AppDelegate.h"
#include "backend/BackendController.h"
#include "platform/Bundle.h"
#include "platform/TrayIcon.h"
#include "updates/UpdateController.h"
#include "window/WindowLifecycleView.h"

#include <QApplication>
#include <QTest>

#include <memory>

using namespace velmora;
using test::patience;

namespace {

class RecordingTrayIcon : public platform::TrayIcon
{
public:
    RecordingTrayIcon() : platform::TrayIcon(QIcon(), QString(), QString(), QString()) {}
    bool isAvailable() const override { return true; }
    void setVisible(bool visible) override { shown = visible; }
    bool isVisible() const override { return shown; }

    bool shown = false;
};

struct Delegate
{
    Delegate()
    {
        updates::UpdateController::Dependencies deps;
        deps.controllerFactory = test::ScriptedController::factory(&engine);
        deps.bundle = &bundle;
        updates = std::make_unique<updates::UpdateController>(std::move(deps));
        delegate = std::make_unique<app::AppDelegate>(*QCoreApplication::instance(), backend, *updates, [this] { ++quits; });
        window.setObjectName(window::WindowLifecycleView::windowID);
        window.resize(400, 300);
    }

    platform::FixedBundle bundle; // a packaged build: start() starts the engine
    test::ScriptedController *engine = nullptr;
    std::unique_ptr<updates::UpdateController> updates;
    backend::BackendController backend;
    std::unique_ptr<app::AppDelegate> delegate;
    QWidget window;
    int quits = 0;
};

} // namespace

class TestAppDelegate : public QObject
{
    Q_OBJECT
private slots:
    void launchingStartsTheUpdateControllerAndTheWindowDoesNotEndTheApplication()
    {
        Delegate d;
        QVERIFY(!QGuiApplication::quitOnLastWindowClosed());
        QCOMPARE(d.engine ? d.engine->startCount : 0, 0);
        d.delegate->applicationDidFinishLaunching();
        QVERIFY(d.engine);
        QCOMPARE(d.engine->startCount, 1);
    }

    void aReopenBringsTheHiddenWindowBack()
    {
        Delegate d;
        d.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d.window));
        d.window.hide();

        // Hidden: brought back, and the platform need not do anything more.
        QVERIFY(!d.delegate->applicationShouldHandleReopen(false));
        QVERIFY(d.window.isVisible());
        // Visible: the platform's own handling.
        QVERIFY(d.delegate->applicationShouldHandleReopen(true));

        // A second launch's request, with the window hidden again.
        d.window.hide();
        d.delegate->reopen();
        QVERIFY(d.window.isVisible());
    }

    void theStatusIconShowsOnlyWhileTheWindowIsHidden()
    {
        Delegate d;
        RecordingTrayIcon tray;
        d.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d.window));
        d.delegate->showTrayWhileHidden(&tray, &d.window);
        QVERIFY(!tray.shown);

        d.window.hide();
        QVERIFY(tray.shown);

        // "열기": the same window comes back, and the icon goes.
        emit tray.openRequested();
        QVERIFY(d.window.isVisible());
        QVERIFY(!tray.shown);

        // "종료" quits without asking anyone.
        d.window.hide();
        QVERIFY(tray.shown);
        emit tray.quitRequested();
        QCOMPARE(d.quits, 1);
    }
};

QTEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
