// The startup sequence with a real access gate (its probe answering as each test says), a real
// BackendController on a loopback server, and the root view that shows the chosen screens.
#include "AccessDoubles.h"
#include "RecordingUrlOpener.h"
#include "TestSupport.h"

#include "access/FullDiskAccessAssistant.h"
#include "access/FullDiskAccessGate.h"
#include "access/StartupAccessView.h"
#include "app/RootView.h"
#include "app/StartupFailureView.h"
#include "app/StartupProgressView.h"
#include "app/Texts.h"
#include "app/VelmoraApp.h"
#include "backend/BackendController.h"
#include "backend/Texts.h"
#include "platform/Bundle.h"
#include "platform/ProcessInfo.h"

#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <memory>

using namespace velmora;
using namespace velmora::app;
using namespace std::chrono_literals;

namespace {

constexpr qint64 ownPid = 424242;
using test::patience;

QList<StartupScreen> screens(std::initializer_list<StartupScreen> list)
{
    return QList<StartupScreen>(list);
}

QStringList names(const QList<StartupScreen> &list)
{
    QStringList result;
    for (StartupScreen screen : list)
        result << QString::fromLatin1(screenName(screen));
    return result;
}

QPushButton *buttonTitled(QWidget &root, const QString &title)
{
    for (auto *button : root.findChildren<QPushButton *>()) {
        if (button->text() == title && button->isVisible())
            return button;
    }
    return nullptr;
}

// A development bundle whose project root holds a start script, a process environment that
// points the backend port at a loopback server, and the app shell with a root view over them.
struct Startup
{
    explicit Startup(QString script = QStringLiteral("exit 0\n"))
    {
        test::writeFile(root.filePath(QStringLiteral("scripts/run-app.sh")), script.toUtf8());
        bundle.info.insert(QStringLiteral("VelmoraProjectRoot"), root.path());
        processInfo.pid = ownPid;
        processInfo.env = QProcessEnvironment::systemEnvironment();
    }
    ~Startup() { mayAnswer.release(100); }

    void usePort(const QString &port) { processInfo.env.insert(QStringLiteral("VELMORA_DESKTOP_PORT"), port); }

    // A healthy backend of this very process answers on the server's port: it is adopted.
    bool serveHealthyBackend()
    {
        if (!server.listen())
            return false;
        server.setHandler([](const QByteArray &, const QString &path) {
            if (path == QLatin1String("/healthz"))
                return test::HttpReply::json(QByteArrayLiteral("{\"app\":\"Velmora\",\"ok\":true,\"desktop_parent_pid\":\"")
                                             + QByteArray::number(ownPid) + "\"}");
            return test::HttpReply{404, {}, {}, false};
        });
        usePort(QString::number(server.port()));
        return true;
    }

    void build()
    {
        backend::BackendController::Dependencies deps;
        deps.bundle = &bundle;
        deps.processInfo = &processInfo;
        deps.timing.pause = 20ms;
        deps.timing.probeTimeout = 2000ms;
        deps.timing.waitCycles = 5;
        deps.timing.readinessCycles = 200;
        controller = std::make_unique<backend::BackendController>(deps);
        auto gate = std::make_unique<access::FullDiskAccessGate>([this] {
            if (holdProbes)
                mayAnswer.acquire();
            ++probes;
            return granted.load();
        });
        assistant = std::make_unique<access::FullDiskAccessAssistant>(
            test::assistantDependencies(settingsOpener, windowList));
        app = std::make_unique<VelmoraApp>(*controller, std::move(gate), assistant.get());
        // The web page itself is another test's concern: a label stands in for it here.
        view = std::make_unique<RootView>(*app, opener, [this](const QUrl &url, QWidget *parent) {
            workspaceUrls << url;
            return new QLabel(url.toString(), parent);
        });
        shown << view->screen();
        QObject::connect(view.get(), &RootView::screenChanged, view.get(), [this](StartupScreen screen) {
            shown << screen;
            if (auto *progress = qobject_cast<StartupProgressView *>(view->screenWidget()))
                progressStatuses << progress->status();
        });
    }

    // Shows the root view and waits until the first check found no access and has ended.
    bool showUntilAccessScreen()
    {
        view->show();
        return QTest::qWaitFor([this] { return view->screen() == StartupScreen::Access && !app->fileAccess().isChecking(); },
                               patience);
    }

    QTemporaryDir root;
    test::LoopbackHttpServer server;
    platform::FixedBundle bundle;
    platform::FixedProcessInfo processInfo;
    test::RecordingUrlOpener opener;
    std::atomic<bool> granted{false};
    std::atomic<int> probes{0};
    // While set, each probe answers only when mayAnswer is released.
    std::atomic<bool> holdProbes{false};
    QSemaphore mayAnswer;
    test::CountingSettingsOpener settingsOpener;
    test::NoWindowList windowList;
    std::unique_ptr<backend::BackendController> controller;
    std::unique_ptr<access::FullDiskAccessAssistant> assistant;
    std::unique_ptr<VelmoraApp> app;
    std::unique_ptr<RootView> view;
    QList<StartupScreen> shown;
    QList<QUrl> workspaceUrls;
    QStringList progressStatuses; // the status line each time the startup progress came up
};

} // namespace

class TestStartupSequence : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // The first window shown makes the application active for the rest of the run. Done
        // here, no test depends on whether it runs first: each makes the application active
        // itself where that matters.
        QWidget first;
        first.show();
        QTRY_COMPARE_WITH_TIMEOUT(QGuiApplication::applicationState(), Qt::ApplicationActive, patience);
    }

    void accessGrantedAtLaunchGoesStraightToWorkspace()
    {
        Startup startup;
        QVERIFY(startup.serveHealthyBackend());
        startup.granted = true;
        startup.build();
        QCOMPARE(startup.view->screen(), StartupScreen::AccessCheck);

        startup.view->show();
        QTRY_COMPARE_WITH_TIMEOUT(startup.view->screen(), StartupScreen::Workspace, patience);
        QCOMPARE(names(startup.shown),
                 names(screens({StartupScreen::AccessCheck, StartupScreen::StartupProgress, StartupScreen::Workspace})));
        QCOMPARE(startup.progressStatuses, QStringList{QStringLiteral("Velmora를 여는 중…")});
        QCOMPARE(startup.workspaceUrls, QList<QUrl>{startup.controller->url()});
        QCOMPARE(startup.controller->url().port(), int(startup.server.port()));
        QCOMPARE(startup.probes.load(), 1);

        // Ready: activations and the workspace stay as they are, and nothing is probed again.
        emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
        startup.app->runStartupSequence();
        QCoreApplication::processEvents();
        QCOMPARE(startup.shown.size(), 3);
        QCOMPARE(startup.probes.load(), 1);
        QCOMPARE(startup.workspaceUrls.size(), 1);
    }

    void accessGrantedLaterStartsOnActivationOrRecheck()
    {
        Startup startup;
        QVERIFY(startup.serveHealthyBackend());
        startup.build();
        QVERIFY(startup.showUntilAccessScreen());
        QCOMPARE(startup.probes.load(), 1);

        // Still missing: becoming active checks again and the access screen stays.
        emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
        QTRY_COMPARE_WITH_TIMEOUT(startup.probes.load(), 2, patience);
        QTRY_VERIFY_WITH_TIMEOUT(!startup.app->fileAccess().isChecking(), patience);
        QCOMPARE(startup.view->screen(), StartupScreen::Access);
        // Other application states are no trigger.
        emit qGuiApp->applicationStateChanged(Qt::ApplicationInactive);
        QCoreApplication::processEvents();
        QCOMPARE(startup.probes.load(), 2);

        // Granted while away: the access screen's recheck starts the backend.
        startup.granted = true;
        QPushButton *recheck = buttonTitled(*startup.view, QStringLiteral("다시 확인"));
        QVERIFY(recheck);
        recheck->click();
        QTRY_COMPARE_WITH_TIMEOUT(startup.view->screen(), StartupScreen::Workspace, patience);
        QCOMPARE(names(startup.shown), names(screens({StartupScreen::AccessCheck, StartupScreen::Access,
                                                      StartupScreen::StartupProgress, StartupScreen::Workspace})));
        QCOMPARE(startup.probes.load(), 3);
    }

    void accessFoundWhileAssistantIsUpClosesIt()
    {
        Startup startup;
        QVERIFY(startup.serveHealthyBackend());
        startup.build();
        QVERIFY(startup.showUntilAccessScreen());

        QPushButton *openSettings = buttonTitled(*startup.view, QStringLiteral("권한 설정하기"));
        QVERIFY(openSettings);
        openSettings->click();
        QCOMPARE(startup.settingsOpener.opened, 1);
        QWidget *panel = startup.assistant->window();
        QTRY_VERIFY_WITH_TIMEOUT(panel->isVisible(), patience);

        // Access granted in the settings; back in Velmora, the activation finds it. Closing the
        // panel runs its completion, the recheck, whose run changes nothing more.
        startup.granted = true;
        emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
        QTRY_COMPARE_WITH_TIMEOUT(startup.view->screen(), StartupScreen::Workspace, patience);
        QVERIFY(!panel->isVisible());
        QVERIFY(!startup.assistant->onComplete);
        QCOMPARE(startup.probes.load(), 2);
        QCOMPARE(names(startup.shown), names(screens({StartupScreen::AccessCheck, StartupScreen::Access,
                                                      StartupScreen::StartupProgress, StartupScreen::Workspace})));
        QCOMPARE(startup.workspaceUrls.size(), 1);
    }

    void failedStartRetriesWithoutNewAccessCheck()
    {
        Startup startup;
        startup.usePort(QStringLiteral("80"));
        startup.granted = true;
        startup.holdProbes = true;
        startup.build();
        startup.view->show();
        // Showing the window makes the application active while the launch check runs: that
        // adds no second run, which would retry the start that fails at once.
        QVERIFY(startup.app->fileAccess().isChecking());
        emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
        startup.mayAnswer.release();
        QTRY_COMPARE_WITH_TIMEOUT(startup.view->screen(), StartupScreen::Failure, patience);
        test::drainEvents();
        QCOMPARE(names(startup.shown),
                 names(screens({StartupScreen::AccessCheck, StartupScreen::StartupProgress, StartupScreen::Failure})));
        auto *failure = qobject_cast<StartupFailureView *>(startup.view->screenWidget());
        QVERIFY(failure);
        QCOMPARE(failure->error(), startup.controller->error());
        QVERIFY(!failure->error().isEmpty());
        // No log was prepared for a port refused before launch.
        QVERIFY(!buttonTitled(*startup.view, app::openLogTitle));

        QPushButton *retry = buttonTitled(*startup.view, app::retryTitle);
        QVERIFY(retry);
        retry->click();
        QTRY_COMPARE_WITH_TIMEOUT(startup.shown.size(), 5, patience);
        QCOMPARE(names(startup.shown),
                 names(screens({StartupScreen::AccessCheck, StartupScreen::StartupProgress, StartupScreen::Failure,
                                StartupScreen::StartupProgress, StartupScreen::Failure})));
        QCOMPARE(startup.probes.load(), 1);
    }

    void failureAfterLaunchOffersTheLog()
    {
        // The start script exits at once: the backend is gone before it ever answered.
        const test::ReservedPort port;
        Startup startup(QStringLiteral("exit 3\n"));
        startup.usePort(QString::number(port.number()));
        startup.granted = true;
        startup.build();
        startup.view->show();
        QTRY_COMPARE_WITH_TIMEOUT(startup.view->screen(), StartupScreen::Failure, patience);
        QVERIFY(!startup.controller->logURL().isEmpty());

        QPushButton *openLog = buttonTitled(*startup.view, app::openLogTitle);
        QVERIFY(openLog);
        openLog->click();
        QCOMPARE(startup.opener.opened, QList<QUrl>{startup.controller->logURL()});
        QVERIFY(QFile::exists(startup.controller->logURL().toLocalFile()));
    }

    void aPortTakenByAnotherProgramCanBeLeftForAFreeOne()
    {
        // Another program answers on the configured port, not as a Velmora backend.
        test::LoopbackHttpServer foreign;
        QVERIFY(foreign.listen());
        foreign.setHandler([](const QByteArray &, const QString &) { return test::HttpReply{404, "not here", {}, false}; });
        Startup startup(QStringLiteral("exec '") + test::helperProgram("fake_backend") + QStringLiteral("'\n"));
        startup.usePort(QString::number(foreign.port()));
        startup.granted = true;
        startup.build();
        startup.view->show();
        QTRY_COMPARE_WITH_TIMEOUT(startup.view->screen(), StartupScreen::Failure, patience);
        QCOMPARE(startup.controller->error(), backend::portInUseMessage(foreign.port()));
        QVERIFY(buttonTitled(*startup.view, app::startOnAnotherPortTitle));

        // Retry on the still-taken port: the progress screen shows, then the failure again.
        buttonTitled(*startup.view, app::retryTitle)->click();
        QCOMPARE(startup.view->screen(), StartupScreen::StartupProgress);
        QTRY_COMPARE_WITH_TIMEOUT(startup.view->screen(), StartupScreen::Failure, patience);
        QCOMPARE(names(startup.shown.mid(startup.shown.size() - 3)),
                 names(screens({StartupScreen::Failure, StartupScreen::StartupProgress, StartupScreen::Failure})));

        // Another port: the backend starts there, and the log says which.
        const int requestsBefore = foreign.requests().size();
        buttonTitled(*startup.view, app::startOnAnotherPortTitle)->click();
        QTRY_COMPARE_WITH_TIMEOUT(startup.view->screen(), StartupScreen::Workspace, patience);
        const quint16 chosen = startup.controller->portOverride();
        QVERIFY(chosen != 0 && chosen != foreign.port());
        QCOMPARE(startup.workspaceUrls.last(), QUrl(QStringLiteral("http://127.0.0.1:%1").arg(chosen)));
        QCOMPARE(foreign.requests().size(), requestsBefore);
        QVERIFY(test::readFile(startup.controller->logURL().toLocalFile())
                    .contains(QStringLiteral(", port %1) ===").arg(chosen).toUtf8()));
        QVERIFY(!startup.controller->portTaken());
        startup.controller->stop();
    }

    void aBackendThatEndsAfterItsPageIsShownCanBeStartedAgain_data()
    {
        QTest::addColumn<bool>("hidden");
        QTest::newRow("window shown") << false;
        QTest::newRow("window hidden") << true;
    }

    void aBackendThatEndsAfterItsPageIsShownCanBeStartedAgain()
    {
        QFETCH(bool, hidden);
        const test::ReservedPort port;
        Startup startup(QStringLiteral("exec '") + test::helperProgram("fake_backend") + QStringLiteral("'\n"));
        startup.usePort(QString::number(port.number()));
        startup.granted = true;
        startup.build();
        startup.view->show();
        QTRY_COMPARE_WITH_TIMEOUT(startup.view->screen(), StartupScreen::Workspace, patience);
        const QString log = startup.controller->logURL().toLocalFile();
        const qint64 backend = QRegularExpression(QStringLiteral("fake_backend: pid (\\d+)"))
                                   .match(QString::fromUtf8(test::readFile(log)))
                                   .captured(1)
                                   .toLongLong();
        QVERIFY(backend > 0);
        if (hidden)
            startup.view->hide();

        ::kill(pid_t(backend), SIGKILL);
        QTRY_COMPARE_WITH_TIMEOUT(startup.view->screen(), StartupScreen::Failure, patience);
        // Nothing shows by itself while the window is hidden.
        QCOMPARE(startup.view->isVisible(), !hidden);
        auto *failure = qobject_cast<StartupFailureView *>(startup.view->screenWidget());
        QVERIFY(failure);
        QCOMPARE(failure->title(), app::backendLostTitle);
        QCOMPARE(failure->error(), QStringLiteral("백엔드가 예기치 않게 종료되었습니다 (신호 9)."));
        QCOMPARE(failure->logURL(), startup.controller->logURL());
        // No backend: the close guard has nothing to keep, the update hold nothing to wait for.
        QCOMPARE(test::waitFor(startup.controller->hasActiveWork()), std::optional<bool>(false));
        QCOMPARE(test::waitFor(startup.controller->prepareForUpdate()), true);

        if (hidden)
            startup.view->show();
        QPushButton *retry = buttonTitled(*startup.view, app::retryTitle);
        QVERIFY(retry);
        retry->click();
        QTRY_COMPARE_WITH_TIMEOUT(startup.view->screen(), StartupScreen::Workspace, patience);
        QCOMPARE(startup.workspaceUrls.size(), 2);
        QCOMPARE(startup.workspaceUrls.last(), startup.workspaceUrls.first());
        startup.controller->stop();
    }

    void hidingTheWindowKeepsItsStartAndDestroyingTheViewCancelsIt()
    {
        // The backend never answers, so the start is still waiting while the window is hidden.
        const test::ReservedPort port;
        Startup startup(QStringLiteral("exec sleep 30\n"));
        startup.usePort(QString::number(port.number()));
        startup.granted = true;
        startup.build();
        startup.view->show();
        QTRY_VERIFY_WITH_TIMEOUT(!startup.controller->logURL().isEmpty(), patience);
        QCOMPARE(startup.view->screen(), StartupScreen::StartupProgress);

        // The close guard hides the window while the backend may still be starting: the start
        // goes on, and showing the window again starts no second one.
        startup.view->hide();
        startup.view->show();
        test::drainEvents();
        QVERIFY(startup.controller->starting());
        QVERIFY(startup.controller->error().isEmpty());
        QCOMPARE(startup.view->screen(), StartupScreen::StartupProgress);
        QCOMPARE(startup.probes.load(), 1);

        // The view going away ends its start, not later than the test.
        startup.view.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!startup.controller->starting(), patience);
        QCOMPARE(startup.controller->error(), backend::startCancelledMessage);
    }
};

QTEST_MAIN(TestStartupSequence)
#include "tst_startupsequence.moc"
