// The application object's window and menu: one window titled "Velmora" at its default or
// last size, never smaller than 1100 x 720; the About box, the user's update request whatever
// the backend's state, and the quit command that does not ask the close guard. Also the
// accessible names and roles of every control of Velmora's windows.
#include "AccessDoubles.h"
#include "RecordingUrlOpener.h"
#include "ScriptedUpdater.h"
#include "TestSupport.h"

#include "access/FullDiskAccessAssistant.h"
#include "access/FullDiskAccessGate.h"
#include "app/AboutBox.h"
#include "app/MainWindow.h"
#include "app/RootView.h"
#include "app/SettingsKeys.h"
#include "app/Texts.h"
#include "app/VelmoraApp.h"
#include "backend/BackendController.h"
#include "platform/BuildInfo.h"
#include "platform/Bundle.h"
#include "platform/TrayIcon.h"
#include "updates/InstallWindow.h"
#include "updates/UpdateController.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QUrl>

#include <memory>

using namespace velmora;
using namespace velmora::app;
using test::patience;

namespace {

// The application object over stand-ins for what cannot run here: an access probe that finds
// no access (so no backend starts), the settings application, the update engine.
struct Application
{
    Application()
    {
        UpdateController::Dependencies updateDeps;
        updateDeps.controllerFactory = test::ScriptedController::factory(&engine);
        updateDeps.bundle = &bundle;
        updates = std::make_unique<updates::UpdateController>(std::move(updateDeps));
        updates->controller();
        engine->scripted.automaticChecks = false;
        assistant = std::make_unique<access::FullDiskAccessAssistant>(
            test::assistantDependencies(settingsOpener, windowList));

        VelmoraApp::Dependencies deps;
        deps.backend = &backend;
        deps.updates = updates.get();
        deps.fileAccess = std::make_unique<access::FullDiskAccessGate>([] { return false; });
        deps.assistant = assistant.get();
        deps.activeWork = [this]() -> QCoro::Task<std::optional<bool>> {
            ++questions;
            co_return true;
        };
        deps.quit = [this] { ++quits; };
        app = std::make_unique<VelmoraApp>(std::move(deps));
    }
    ~Application()
    {
        app.reset();
        assistant.reset();
    }

    using UpdateController = updates::UpdateController;
    platform::FixedBundle bundle; // a packaged build: the update engine is started
    test::ScriptedController *engine = nullptr;
    std::unique_ptr<updates::UpdateController> updates;
    backend::BackendController backend;
    test::CountingSettingsOpener settingsOpener;
    test::NoWindowList windowList;
    std::unique_ptr<access::FullDiskAccessAssistant> assistant;
    std::unique_ptr<VelmoraApp> app;
    int questions = 0;
    int quits = 0;
};

int mainWindows()
{
    int count = 0;
    for (QWidget *window : QApplication::topLevelWidgets())
        count += qobject_cast<MainWindow *>(window) != nullptr;
    return count;
}

// Controls a screen reader would read out without a name: every widget and menu entry under
// root whose accessible role is that of a control, shown, with an empty accessible name.
QStringList unnamedControls(QWidget *root)
{
    static const QList<QAccessible::Role> controlRoles = {
        QAccessible::PushButton, QAccessible::CheckBox,     QAccessible::RadioButton, QAccessible::StaticText,
        QAccessible::Graphic,    QAccessible::EditableText, QAccessible::ProgressBar, QAccessible::Link,
        QAccessible::MenuBar,    QAccessible::PopupMenu,    QAccessible::MenuItem,    QAccessible::Dialog,
        QAccessible::Window,     QAccessible::Animation,    QAccessible::Document,    QAccessible::ComboBox};
    QStringList faults;
    QList<QWidget *> widgets = root->findChildren<QWidget *>();
    widgets.prepend(root);
    for (QWidget *widget : widgets) {
        if (widget != root && !widget->isVisibleTo(root))
            continue;
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
        if (!accessible)
            continue;
        if (controlRoles.contains(accessible->role()) && accessible->text(QAccessible::Name).trimmed().isEmpty())
            faults << QStringLiteral("%1 '%2' (role %3)")
                          .arg(QString::fromLatin1(widget->metaObject()->className()), widget->objectName())
                          .arg(int(accessible->role()));
        if (auto *menu = qobject_cast<QMenu *>(widget)) {
            for (QAction *action : menu->actions()) {
                if (!action->isSeparator() && action->text().isEmpty())
                    faults << QStringLiteral("an entry of menu '%1'").arg(menu->title());
            }
        }
    }
    return faults;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

    test::TemporarySettings m_settings;

private slots:
    void init() { QSettings().clear(); }

    void oneWindowWithTheApplicationMenu()
    {
        Application application;
        MainWindow &window = application.app->openWindow();
        QCOMPARE(&application.app->openWindow(), &window);
        QCOMPARE(window.windowTitle(), QStringLiteral("Velmora"));
        QVERIFY(application.app->rootView());
        QCOMPARE(window.objectName(), QStringLiteral("velmora.workspace"));

        QStringList entries;
        for (QAction *action : window.applicationMenu()->actions())
            entries << (action->isSeparator() ? QStringLiteral("--") : action->text());
        QCOMPARE(entries, (QStringList{QStringLiteral("Velmora 정보"), QStringLiteral("업데이트 확인…"),
                                       QStringLiteral("--"), QStringLiteral("종료")}));
        QCOMPARE(window.quitAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));

        // No command makes a second window.
        window.show();
        for (QAction *action : window.applicationMenu()->actions())
            action->trigger();
        test::drainEvents();
        QCOMPARE(mainWindows(), 1);
    }

    void theWindowOpensAtItsDefaultSizeAndRefusesToShrink()
    {
        Application application;
        MainWindow &window = application.app->openWindow();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.size(), QSize(1480, 900));

        window.resize(900, 560);
        test::drainEvents();
        QVERIFY2(window.width() >= 1100 && window.height() >= 720,
                 qPrintable(QStringLiteral("%1 x %2").arg(window.width()).arg(window.height())));
        QVERIFY(application.app->rootView()->width() >= 1100);
        QVERIFY(application.app->rootView()->height() >= 720);
    }

    void sizeAndPositionSurviveARestart()
    {
        const QRect placed(140, 90, 1300, 820);
        {
            Application first;
            MainWindow &window = first.app->openWindow();
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            window.setGeometry(placed);
            QTRY_COMPARE_WITH_TIMEOUT(window.geometry(), placed, patience);
            // Saved once the moving and resizing have settled.
            QTRY_VERIFY_WITH_TIMEOUT(!QSettings().value(windowGeometryKey).toByteArray().isEmpty(), patience);
        }
        Application second;
        MainWindow &window = second.app->openWindow();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.geometry(), placed);
    }

    void aPictureRunKeepsNoPlacement()
    {
        QSettings().setValue(windowGeometryKey, QByteArray("not a geometry"));
        Application application;
        MainWindow &window = application.app->openWindow(false);
        QCOMPARE(window.size(), QSize(1480, 900));
        window.show();
        window.resize(1200, 800);
        window.savePlacement();
        QCOMPARE(QSettings().value(windowGeometryKey).toByteArray(), QByteArray("not a geometry"));
    }

    void theUpdateCommandWorksBeforeTheBackendIsReady()
    {
        Application application;
        MainWindow &window = application.app->openWindow();
        window.show();
        QVERIFY(application.backend.url().isEmpty());

        window.checkForUpdatesAction()->trigger();
        QCOMPARE(application.engine->startCount, 1);
        QVERIFY(application.updates->updateWindow());
        QVERIFY(application.updates->updateWindow()->isVisible());
        // The engine takes the check as soon as it can.
        QTRY_COMPARE_WITH_TIMEOUT(application.engine->scripted.informationChecks, 1, patience);
        QVERIFY(application.updates->isChecking());

        // Again: the same update window, no second start.
        application.engine->finishCycle();
        window.checkForUpdatesAction()->trigger();
        QCOMPARE(application.engine->startCount, 1);
        QTRY_COMPARE_WITH_TIMEOUT(application.engine->scripted.informationChecks, 2, patience);
        application.engine->finishCycle();
    }

    void theQuitCommandDoesNotAsk()
    {
        Application application;
        MainWindow &window = application.app->openWindow();
        window.show();
        window.quitAction()->trigger();
        QCOMPARE(application.quits, 1);
        QCOMPARE(application.questions, 0);
    }

    void theAboutBoxShowsNameVersionAndIcon()
    {
        Application application;
        MainWindow &window = application.app->openWindow();
        window.show();
        window.aboutAction()->trigger();
        AboutBox *box = application.app->aboutBox();
        QVERIFY(box);
        QVERIFY(box->isVisible());
        QCOMPARE(box->windowTitle(), QStringLiteral("Velmora 정보"));
        QCOMPARE(box->nameLabel()->text(), QStringLiteral("Velmora"));
        QCOMPARE(box->versionLabel()->text(), QStringLiteral("버전 ") + platform::buildSettings().version);
        bool hasIcon = false;
        for (QLabel *label : box->findChildren<QLabel *>())
            hasIcon = hasIcon || !label->pixmap().isNull();
        QVERIFY(hasIcon);

        box->closeButton()->click();
        QVERIFY(!box->isVisible());
        window.aboutAction()->trigger();
        QCOMPARE(application.app->aboutBox(), box);
        QVERIFY(box->isVisible());
    }

    void theAboutBoxIsAFixedDialogWithItsInformation()
    {
        test::RecordingUrlOpener opener;
        AboutBox box(QGuiApplication::windowIcon(), QStringLiteral("1.2.3"), QUrl(QStringLiteral("https://velmora.app/")),
                     opener);
        box.show();
        box.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&box));
        // Neither resizable nor maximisable, and wide enough for its title.
        QCOMPARE(box.minimumSize(), box.maximumSize());
        QVERIFY(box.width() >= AboutBox::minimumWidth);
        QCOMPARE(box.versionLabel()->text(), QStringLiteral("버전 1.2.3"));
        QCOMPARE(box.descriptionLabel()->text(), aboutDescription);
        QCOMPARE(box.licenceLabel()->text(), aboutLicence);
        QCOMPARE(box.homePageLink()->text(), QStringLiteral("velmora.app"));
        QCOMPARE(QAccessible::queryAccessibleInterface(&box)->role(), QAccessible::Dialog);

        // The keyboard reaches the link, shows where it is, and opens it.
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::focusWidget(), box.closeButton(), patience);
        const QImage unfocused = box.homePageLink()->grab().toImage();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), box.homePageLink());
        QVERIFY2(box.homePageLink()->grab().toImage() != unfocused, "the focus does not show on the link");
        QTest::keyClick(box.homePageLink(), Qt::Key_Space);
        QCOMPARE(opener.opened, QList<QUrl>{QUrl(QStringLiteral("https://velmora.app/"))});
    }

    void homePageOfABuild_data()
    {
        QTest::addColumn<QUrl>("releasePage");
        QTest::addColumn<QUrl>("homePage");
        QTest::newRow("release page") << QUrl("https://velmora.app/releases/latest") << QUrl("https://velmora.app/");
        QTest::newRow("with a port") << QUrl("http://127.0.0.1:8080/r?x=1#y") << QUrl("http://127.0.0.1:8080/");
        QTest::newRow("no address") << QUrl() << QUrl();
    }

    void homePageOfABuild()
    {
        QFETCH(QUrl, releasePage);
        QFETCH(QUrl, homePage);
        QCOMPARE(AboutBox::homePageOf(releasePage), homePage);
    }

    void escapeAndCtrlWCloseTheAboutBoxAndTheUpdateWindow_data()
    {
        QTest::addColumn<QKeySequence>("keys");
        QTest::newRow("Escape") << QKeySequence(Qt::Key_Escape);
        QTest::newRow("Ctrl+W") << QKeySequence(Qt::CTRL | Qt::Key_W);
    }

    void escapeAndCtrlWCloseTheAboutBoxAndTheUpdateWindow()
    {
        QFETCH(QKeySequence, keys);
        Application application;
        MainWindow &window = application.app->openWindow();
        window.show();
        application.app->showAbout();
        QWidget *about = application.app->aboutBox();
        application.app->checkForUpdates();
        QWidget *update = application.updates->updateWindow();
        for (QWidget *dialog : {about, update}) {
            QVERIFY(dialog->isVisible());
            dialog->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(dialog));
            QTest::keySequence(dialog, keys);
            QTRY_VERIFY_WITH_TIMEOUT(!dialog->isVisible(), patience);
        }
        QVERIFY(window.isVisible());
    }

    void screenReadersSeeDialogs()
    {
        Application application;
        application.app->showAbout();
        application.app->checkForUpdates();
        test::RecordingUrlOpener opener;
        updates::InstallWindow install(opener);
        for (QWidget *dialog :
             {static_cast<QWidget *>(application.app->aboutBox()),
              static_cast<QWidget *>(application.updates->updateWindow()), static_cast<QWidget *>(&install)})
            QCOMPARE(QAccessible::queryAccessibleInterface(dialog)->role(), QAccessible::Dialog);
    }

    void theApplicationMenuOpensFromTheKeyboard_data()
    {
        QTest::addColumn<QKeySequence>("keys");
        QTest::newRow("F10") << QKeySequence(Qt::Key_F10);
        QTest::newRow("Alt and the mnemonic") << QKeySequence(Qt::ALT | Qt::Key_V);
    }

    void theApplicationMenuOpensFromTheKeyboard()
    {
        QFETCH(QKeySequence, keys);
        Application application;
        MainWindow &window = application.app->openWindow();
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTRY_COMPARE_WITH_TIMEOUT(application.app->rootView()->screen(), StartupScreen::Access, patience);
        QTest::keySequence(&window, keys);
        QTRY_VERIFY_WITH_TIMEOUT(window.applicationMenu()->isVisible(), patience);
        QCOMPARE(window.applicationMenu()->accessibleName(), applicationMenuTitle);
        window.applicationMenu()->close();
    }

    void everyControlOfEveryWindowHasANameAndARole()
    {
        Application application;
        MainWindow &window = application.app->openWindow();
        window.show();
        QTRY_COMPARE_WITH_TIMEOUT(application.app->rootView()->screen(), StartupScreen::Access, patience);
        QCOMPARE(unnamedControls(&window).join(QLatin1Char(',')), QString());
        QCOMPARE(unnamedControls(window.applicationMenu()).join(QLatin1Char(',')), QString());

        application.app->showAbout();
        QCOMPARE(unnamedControls(application.app->aboutBox()).join(QLatin1Char(',')), QString());

        application.app->checkForUpdates();
        QCOMPARE(unnamedControls(application.updates->updateWindow()).join(QLatin1Char(',')), QString());

        QVERIFY(application.assistant->openSettingsAndPositionGuide());
        QTRY_VERIFY_WITH_TIMEOUT(application.assistant->window() && application.assistant->window()->isVisible(), patience);
        QCOMPARE(unnamedControls(application.assistant->window()).join(QLatin1Char(',')), QString());

        platform::TrayIcon tray(QGuiApplication::windowIcon(), productName, openTitle, quitTitle);
        tray.setVisible(true);
        QVERIFY(tray.menu());
        QCOMPARE(unnamedControls(tray.menu()).join(QLatin1Char(',')), QString());
        QCOMPARE(tray.menu()->actions().size(), 2);
        QCOMPARE(tray.menu()->actions().at(0)->text(), QStringLiteral("열기"));
        QCOMPARE(tray.menu()->actions().at(1)->text(), QStringLiteral("종료"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
