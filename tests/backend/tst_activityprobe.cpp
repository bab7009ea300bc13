#include "PageLoad.h"
#include "RecordingUrlOpener.h"
#include "ScriptedUpdater.h"
#include "TestSupport.h"

#include "app/Drawing.h"
#include "backend/BackendController.h"
#include "platform/Bundle.h"
#include "platform/ProcessInfo.h"
#include "updates/UpdateController.h"
#include "workspace/WorkspaceView.h"
#include "workspace/WorkspaceViewCoordinator.h"

#include <QApplication>
#include <QDir>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace velmora;
using namespace std::chrono_literals;
using backend::BackendController;
using test::patience;

Q_DECLARE_METATYPE(std::optional<bool>)

namespace {

constexpr qint64 ownPid = 424242;
// Short stand-ins for the status request's 3 s and the page's 30 s.
constexpr auto statusTimeout = 400ms;
constexpr auto pageTimeout = 600ms;

// What the page defines before the backend asks it; counts how often it was asked.
QByteArray pageWith(const QByteArray &preparation)
{
    return "<!doctype html><meta charset=utf-8><body><script>window.asked = 0;" + preparation + "</script>";
}

// The backend this process started earlier, answering on a loopback port: its health answer
// makes the controller adopt it, its status answer is the row's.
struct Backend
{
    QTemporaryDir dir;
    platform::FixedBundle bundle;
    platform::FixedProcessInfo info;
    test::LoopbackHttpServer server;
    test::HttpReply status = test::HttpReply::json("{\"busy\": false}");
    QByteArray page = pageWith("");
    int statusRequests = 0;
    bool healthHangs = false;
    std::chrono::milliseconds statusWait = statusTimeout;
    std::unique_ptr<BackendController> controller;

    bool listen()
    {
        if (!server.listen())
            return false;
        server.setHandler([this](const QByteArray &, const QString &path) {
            if (path == QLatin1String("/healthz")) {
                if (healthHangs)
                    return test::HttpReply{200, {}, {}, true};
                return test::HttpReply::json("{\"app\":\"Velmora\",\"ok\":true,\"desktop_parent_pid\":\""
                                             + QByteArray::number(ownPid) + "\"}");
            }
            if (path == QLatin1String("/api/update-status")) {
                ++statusRequests;
                return status;
            }
            return test::HttpReply{200, page, {{"Content-Type", "text/html; charset=utf-8"}}, false};
        });
        bundle.resources = dir.filePath("Resources");
        bundle.applicationSupport = dir.filePath("support");
        QDir().mkpath(dir.filePath("Resources/python/bin"));
        QDir().mkpath(dir.filePath("Resources/app"));
        QFile::link(test::helperProgram("exit_at_once"), dir.filePath("Resources/python/bin/python3.12"));
        info.env.insert("PATH", qEnvironmentVariable("PATH"));
        info.env.insert("VELMORA_DESKTOP_PORT", QString::number(server.port()));
        info.pid = ownPid;

        BackendController::Dependencies deps;
        deps.bundle = &bundle;
        deps.processInfo = &info;
        deps.timing.pause = 20ms;
        deps.timing.probeTimeout = 5s;
        deps.timing.statusTimeout = statusWait;
        controller = std::make_unique<BackendController>(deps);
        return true;
    }

    // Adopts the backend: url is set without anything being launched.
    bool adopt()
    {
        test::waitFor(controller->start());
        return controller->url() == server.baseUrl();
    }
};

} // namespace

class TestActivityProbe : public QObject
{
    Q_OBJECT

    test::RecordingUrlOpener m_opener;

    std::unique_ptr<workspace::WorkspaceView> showPage(Backend &backend)
    {
        workspace::WorkspaceViewDependencies deps;
        deps.opener = &m_opener;
        deps.pageScriptTimeout = pageTimeout;
        auto view = std::make_unique<workspace::WorkspaceView>(backend.server.url("/"), deps);
        if (!test::showAndWaitForLoad(*view))
            return nullptr;
        backend.controller->setWebView(view->pageScripts());
        return view;
    }

    static int asked(workspace::WorkspaceView &view)
    {
        QVariant value;
        bool done = false;
        view.coordinator()->runJavaScript("window.asked", [&](const QVariant &v) {
            value = v;
            done = true;
        });
        (void)QTest::qWaitFor([&] { return done; }, patience);
        return value.toInt();
    }

private slots:
    void withoutBackend()
    {
        Backend backend;
        QVERIFY(backend.listen());
        QCOMPARE(test::waitFor(backend.controller->hasActiveWork()), std::optional(false));
        QCOMPARE(test::waitFor(backend.controller->prepareForUpdate()), true);
        QCOMPARE(backend.statusRequests, 0);
    }

    void whileABackendIsBeingStarted()
    {
        Backend backend;
        backend.healthHangs = true;
        QVERIFY(backend.listen());
        platform::TaskHandle attempt = platform::TaskHandle::make();
        QCoro::Task<> starting = backend.controller->start(attempt.token());
        QVERIFY(backend.controller->starting());
        QCOMPARE(test::waitFor(backend.controller->prepareForUpdate()), false);
        QCOMPARE(test::waitFor(backend.controller->hasActiveWork()), std::optional(false));
        QCOMPARE(backend.statusRequests, 0);
        attempt.cancel();
        test::waitFor(starting);
    }

    // The rows of the status answer, with and without a page to ask.
    void statusAndPage_data()
    {
        QTest::addColumn<QVariant>("status"); // an HttpReply, or "silent"
        QTest::addColumn<QByteArray>("preparation");
        QTest::addColumn<bool>("withPage");
        QTest::addColumn<std::optional<bool>>("active");
        QTest::addColumn<bool>("ready");
        QTest::addColumn<int>("pageAsked");
        const std::optional<bool> undetermined;
        const QByteArray agrees = "window.prepareForAppUpdate = async () => { window.asked += 1; return true; };";
        auto json = [](const QByteArray &body, int status = 200) {
            const test::HttpReply reply = test::HttpReply::json(body, status);
            return QVariant::fromValue(QVariantList{reply.status, reply.body});
        };
        QTest::newRow("silent beyond the time-out") << QVariant("silent") << agrees << true << undetermined << false << 0;
        QTest::newRow("503 with busy false")
            << json("{\"busy\": false}", 503) << agrees << true << undetermined << false << 0;
        QTest::newRow("busy \"no\"") << json("{\"busy\": \"no\"}") << agrees << true << undetermined << false << 0;
        QTest::newRow("empty object") << json("{}") << agrees << true << undetermined << false << 0;
        QTest::newRow("array") << json("[{\"busy\": false}]") << agrees << true << undetermined << false << 0;
        QTest::newRow("not JSON") << json("busy") << agrees << true << undetermined << false << 0;
        QTest::newRow("busy: the page is not asked")
            << json("{\"busy\": true}") << agrees << true << std::optional(true) << false << 0;
        QTest::newRow("idle, no web view")
            << json("{\"busy\": false}") << agrees << false << std::optional(false) << true << 0;
        QTest::newRow("idle, the page agrees")
            << json("{\"busy\": false}") << agrees << true << std::optional(false) << true << 1;
        QTest::newRow("idle, page without the function")
            << json("{\"busy\": false}") << QByteArray() << true << std::optional(false) << false << 0;
        QTest::newRow("idle, page answers false")
            << json("{\"busy\": false}")
            << QByteArray("window.prepareForAppUpdate = async () => { window.asked += 1; return false; };") << true
            << std::optional(false) << false << 1;
        QTest::newRow("idle, page answers the string \"true\"")
            << json("{\"busy\": false}")
            << QByteArray("window.prepareForAppUpdate = async () => { window.asked += 1; return 'true'; };") << true
            << std::optional(false) << false << 1;
        QTest::newRow("idle, page answers no value")
            << json("{\"busy\": false}") << QByteArray("window.prepareForAppUpdate = async () => { window.asked += 1; };")
            << true << std::optional(false) << false << 1;
        QTest::newRow("idle, plain function answering true")
            << json("{\"busy\": false}")
            << QByteArray("window.prepareForAppUpdate = () => { window.asked += 1; return true; };") << true
            << std::optional(false) << true << 1;
        QTest::newRow("idle, the page changes its address within the document")
            << json("{\"busy\": false}")
            << QByteArray(
                   "window.prepareForAppUpdate = async () => { window.asked += 1; history.pushState({}, '', '/saved');"
                   " location.hash = 'done'; await new Promise((r) => setTimeout(r, 50)); return true; };")
            << true << std::optional(false) << true << 1;
        QTest::newRow("idle, page function rejects")
            << json("{\"busy\": false}")
            << QByteArray("window.prepareForAppUpdate = async () => { window.asked += 1; throw new Error('busy saving'); };")
            << true << std::optional(false) << false << 1;
        QTest::newRow("idle, page function never settles")
            << json("{\"busy\": false}")
            << QByteArray("window.prepareForAppUpdate = () => { window.asked += 1; return new Promise(() => {}); };") << true
            << std::optional(false) << false << 1;
    }
    void statusAndPage()
    {
        QFETCH(QVariant, status);
        QFETCH(QByteArray, preparation);
        QFETCH(bool, withPage);
        QFETCH(std::optional<bool>, active);
        QFETCH(bool, ready);
        QFETCH(int, pageAsked);
        Backend backend;
        if (status.toString() == QLatin1String("silent")) {
            backend.status = test::HttpReply{200, {}, {}, true};
        } else {
            const QVariantList reply = status.toList();
            backend.status = test::HttpReply::json(reply.at(1).toByteArray(), reply.at(0).toInt());
        }
        backend.page = pageWith(preparation);
        QVERIFY(backend.listen());
        QVERIFY(backend.adopt());
        std::unique_ptr<workspace::WorkspaceView> view;
        if (withPage) {
            view = showPage(backend);
            QVERIFY(view);
        }

        QCOMPARE(test::waitFor(backend.controller->hasActiveWork()), active);
        QCOMPARE(test::waitFor(backend.controller->prepareForUpdate()), ready);
        // Every call asks anew; nothing is remembered.
        QCOMPARE(test::waitFor(backend.controller->prepareForUpdate()), ready);
        QCOMPARE(backend.statusRequests, 3);
        if (view)
            QCOMPARE(asked(*view), 2 * pageAsked);
    }

    void thePageIsAskedAgainOnceItDefinesTheFunction()
    {
        Backend backend;
        QVERIFY(backend.listen());
        QVERIFY(backend.adopt());
        std::unique_ptr<workspace::WorkspaceView> view = showPage(backend);
        QVERIFY(view);
        QCOMPARE(test::waitFor(backend.controller->prepareForUpdate()), false);
        QCOMPARE(test::waitFor(backend.controller->prepareForUpdate()), false);
        view->coordinator()->runJavaScript("window.prepareForAppUpdate = async () => true;");
        QTRY_VERIFY_WITH_TIMEOUT(test::waitFor(backend.controller->prepareForUpdate()), patience);
    }

    void aWebViewThatGoesAwayIsNoLongerAsked()
    {
        Backend backend;
        backend.page = pageWith(
            "window.prepareForAppUpdate = () => { document.title = 'asked'; return new Promise(() => {}); };");
        QVERIFY(backend.listen());
        QVERIFY(backend.adopt());
        std::unique_ptr<workspace::WorkspaceView> view = showPage(backend);
        QVERIFY(view);
        QSignalSpy asked(view->coordinator(), &QWebEnginePage::titleChanged);
        QCoro::Task<bool> preparing = backend.controller->prepareForUpdate();
        // The page is asked; then the view goes while the answer is awaited.
        QTRY_VERIFY_WITH_TIMEOUT(!asked.isEmpty() && asked.last().first().toString() == "asked", patience);
        view.reset();
        QCOMPARE(test::waitFor(preparing), false);
        QCOMPARE(backend.controller->webView(), nullptr);
        QCOMPARE(test::waitFor(backend.controller->prepareForUpdate()), true);
    }

    void theRelaunchWaitsForTheBackendAndItsPage()
    {
        Backend backend;
        backend.status = test::HttpReply::json("{\"busy\": true}");
        backend.page = pageWith("window.prepareForAppUpdate = async () => { window.asked += 1; return true; };");
        QVERIFY(backend.listen());
        QVERIFY(backend.adopt());
        std::unique_ptr<workspace::WorkspaceView> view = showPage(backend);
        QVERIFY(view);

        platform::FixedBundle bundle;
        test::ScriptedController *engine = nullptr;
        updates::UpdateController::Dependencies deps;
        deps.controllerFactory = test::ScriptedController::factory(&engine);
        deps.bundle = &bundle;
        deps.relaunchPollInterval = 50ms;
        updates::UpdateController updates(std::move(deps));
        BackendController *controller = backend.controller.get();
        // As the application wires it.
        updates.setPrepareForUpdate(
            [controller](platform::CancelToken token) { return controller->prepareForUpdate(token); });
        updates.controller();

        int relaunched = 0;
        QVERIFY(engine->postponeRelaunch([&relaunched] { ++relaunched; }));
        QTRY_VERIFY_WITH_TIMEOUT(backend.statusRequests >= 2, patience);
        QCOMPARE(relaunched, 0);
        QCOMPARE(asked(*view), 0);
        backend.status = test::HttpReply::json("{\"busy\": false}");
        QTRY_COMPARE_WITH_TIMEOUT(relaunched, 1, patience);
        QCOMPARE(asked(*view), 1);
    }

    void laterWithdrawsTheHold_data()
    {
        QTest::addColumn<bool>("answerUnderWay");
        QTest::newRow("between two questions") << false;
        QTest::newRow("while the backend's answer is on its way") << true;
    }

    // "나중에" while the relaunch waits: the page is never asked to wind down for a relaunch
    // that will not happen, and the backend is asked no more.
    void laterWithdrawsTheHold()
    {
        QFETCH(bool, answerUnderWay);
        Backend backend;
        backend.status
            = answerUnderWay
                  ? test::HttpReply{200, "{\"busy\": false}", {{"Content-Type", "application/json"}}, false, -1, 0, true}
                  : test::HttpReply::json("{\"busy\": true}");
        // The held answer must not run into the status time-out, whatever the machine's pace.
        backend.statusWait = std::chrono::milliseconds(patience);
        backend.page = pageWith("window.prepareForAppUpdate = async () => { window.asked += 1; return true; };");
        QVERIFY(backend.listen());
        QVERIFY(backend.adopt());
        std::unique_ptr<workspace::WorkspaceView> view = showPage(backend);
        QVERIFY(view);

        platform::FixedBundle bundle;
        test::ScriptedController *engine = nullptr;
        updates::UpdateController::Dependencies deps;
        deps.controllerFactory = test::ScriptedController::factory(&engine);
        deps.bundle = &bundle;
        deps.relaunchPollInterval = 50ms;
        updates::UpdateController updates(std::move(deps));
        BackendController *controller = backend.controller.get();
        updates.setPrepareForUpdate(
            [controller](platform::CancelToken token) { return controller->prepareForUpdate(token); });
        updates.controller();

        int relaunched = 0;
        QVERIFY(engine->postponeRelaunch([&relaunched] { ++relaunched; }));
        QTRY_VERIFY_WITH_TIMEOUT(backend.statusRequests >= 1, patience);
        if (answerUnderWay)
            QTRY_COMPARE_WITH_TIMEOUT(backend.server.heldTransfers(), 1, patience);
        engine->withdrawRelaunch();
        const int questions = backend.statusRequests;
        // From now on the backend is idle, and an answer under way says so.
        backend.status = test::HttpReply::json("{\"busy\": false}");
        backend.server.finishHeldTransfers();
        // A question asked after the withdrawn one's answer has arrived: by its answer the
        // withdrawn hold has had every chance to ask the page, and several poll intervals passed.
        QTRY_COMPARE_WITH_TIMEOUT(backend.server.heldTransfers(), 0, patience);
        QVERIFY(test::waitFor(platform::sleepFor(4 * 50ms)));
        QCOMPARE(test::waitFor(controller->hasActiveWork()), std::optional<bool>(false));
        QCOMPARE(backend.statusRequests, questions + 1);
        QCOMPARE(asked(*view), 0);
        QCOMPARE(relaunched, 0);
    }
};

int main(int argc, char *argv[])
{
    // The web view draws as it does in velmora.
    velmora::app::prepareDrawing(argc, argv);
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    TestActivityProbe test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_activityprobe.moc"
