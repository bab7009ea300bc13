#include "AccessDoubles.h"
#include "BridgeDoubles.h"
#include "BridgeTestScripts.h"
#include "PageLoad.h"
#include "PageScript.h"
#include "RecordingUrlOpener.h"
#include "ScriptedUpdater.h"
#include "TestSupport.h"

#include "access/FullDiskAccessAssistant.h"
#include "app/Drawing.h"
#include "platform/Bundle.h"
#include "platform/FolderPanel.h"
#include "updates/UpdateController.h"
#include "workspace/NavigationPolicy.h"
#include "workspace/PageScripts.h"
#include "workspace/ScriptBridge.h"
#include "workspace/SettingsKeys.h"
#include "workspace/Texts.h"
#include "workspace/WorkspaceView.h"
#include "workspace/WorkspaceViewCoordinator.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <algorithm>
#include <memory>

#include <unistd.h>

using namespace velmora;
using namespace std::chrono_literals;
using test::evaluate;
using test::patience;
using workspace::WorkspaceView;

namespace {

using test::bridgepages::pageScript;

// A frame of the page's own origin that posts through its parent's bridge in the way its mode
// names, and reports the outcome to the page.
QByteArray sameOriginFrame(const QByteArray &mode)
{
    const QByteArray attempt
        = "const report = (outcome) => { outcome.mode = '" + mode + "'; top.frameOutcomes['" + mode
          + "'] = outcome; };"
            "function attempt() {"
            "  try {"
            "    ("
          + QByteArray(mode == "own bridge" ? "window" : "top")
          + ").webkit.messageHandlers.getSaveLocation.postMessage({}).then("
            "      () => report({state: 'resolved'}), (e) => report({state: 'rejected', message: e.message}));"
            "  } catch (e) { report({state: 'threw', message: String(e)}); }"
            "}";
    if (mode == "module")
        return "<script>" + attempt + "window.attempt = attempt;</script><script type=module>window.attempt();</script>";
    QByteArray start;
    if (mode == "script" || mode == "own bridge")
        start = "attempt();";
    else if (mode == "timer")
        start = "setTimeout(() => attempt(), 0);";
    else if (mode == "function")
        start = "setTimeout(function later() { attempt(); }, 0);";
    else if (mode == "event")
        start = "addEventListener('velmora-test', () => attempt()); setTimeout(() => dispatchEvent(new "
                "Event('velmora-test')), 0);";
    else if (mode == "strict timer")
        return "<script>'use strict';" + attempt + "setTimeout(() => attempt(), 0);</script>";
    return "<script>" + attempt + start + "</script>";
}

using test::bridgepages::foreignFrame;

test::HttpReply html(const QByteArray &body)
{
    return test::HttpReply{
        200, "<!doctype html><meta charset=utf-8><body>" + body, {{"Content-Type", "text/html; charset=utf-8"}}, false};
}

QVariantMap fromJson(const QVariant &text)
{
    return QJsonDocument::fromJson(text.toString().toUtf8()).object().toVariantMap();
}

QVariantMap resolvedWith(const QVariant &value)
{
    return {{"state", "resolved"}, {"hasValue", true}, {"value", value}};
}
const QVariantMap resolvedWithoutValue{{"state", "resolved"}, {"hasValue", false}, {"value", QVariant::fromValue(nullptr)}};

QVariantMap rejectedWith(const QString &message)
{
    return {{"state", "rejected"}, {"isError", true}, {"message", message}};
}

// A page of its own with a bridge held to origin, loaded from url: a page that is not the
// workspace's.
struct BridgedPage
{
    BridgedPage(const QUrl &origin, const QUrl &url, workspace::ScriptBridge::Dependencies deps)
    {
        view = std::make_unique<QWebEngineView>();
        page = new QWebEnginePage(&profile, view.get());
        bridge = new workspace::ScriptBridge(page, origin, std::move(deps), page);
        view->setPage(page);
        view->resize(400, 300);
        view->show();
        QSignalSpy loaded(page, &QWebEnginePage::loadFinished);
        page->load(url);
        ok = loaded.wait(patience) && loaded.first().first().toBool();
    }
    ~BridgedPage() { view.reset(); }

    QWebEngineProfile profile;
    std::unique_ptr<QWebEngineView> view;
    QWebEnginePage *page = nullptr;
    workspace::ScriptBridge *bridge = nullptr;
    bool ok = false;
};

} // namespace

class TestScriptBridge : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::LoopbackHttpServer> m_origin;
    std::unique_ptr<test::LoopbackHttpServer> m_other;
    std::unique_ptr<test::TemporarySettings> m_settings;
    std::unique_ptr<QTemporaryDir> m_home;
    test::RecordingUrlOpener m_opener;
    test::AnsweringFolderPanel m_panel;
    test::RecordingFileRevealer m_revealer;
    test::RecordingApplicationLauncher m_launcher;
    test::CountingSettingsOpener m_settingsOpener;
    test::NoWindowList m_windowList;
    platform::FixedBundle m_bundle;
    test::ScriptedController *m_engine = nullptr;
    std::unique_ptr<updates::UpdateController> m_updates;
    std::unique_ptr<access::FullDiskAccessAssistant> m_assistant;
    std::unique_ptr<WorkspaceView> m_view;
    int m_calls = 0;

    workspace::ScriptBridge::Dependencies bridgeDependencies()
    {
        workspace::ScriptBridge::Dependencies deps;
        deps.folderPanel = &m_panel;
        deps.fileRevealer = &m_revealer;
        deps.applicationLauncher = &m_launcher;
        deps.bundle = &m_bundle;
        deps.updates = m_updates.get();
        deps.assistant = m_assistant.get();
        deps.settingsOpener = &m_settingsOpener;
        deps.recordingPlaces = workspace::RecordingPlaces{m_home->filePath("home"), m_home->filePath("data")};
        return deps;
    }

    std::unique_ptr<WorkspaceView> makeView(const QString &path = "/")
    {
        workspace::WorkspaceViewDependencies deps;
        deps.opener = &m_opener;
        deps.bridge = bridgeDependencies();
        return std::make_unique<WorkspaceView>(m_origin->url(path), deps);
    }

    bool openPage(const QString &path = "/")
    {
        m_view = makeView(path);
        return test::showAndWaitForLoad(*m_view, QSize(800, 600));
    }

    WorkspaceView::Coordinator *page() const { return m_view->coordinator(); }

    // Posts name with the body a script expression gives; returns the key of the outcome.
    QString start(const QString &name, const QString &body = "undefined", QWebEnginePage *in = nullptr)
    {
        const QString key = QString::number(++m_calls);
        evaluate(in ? in : page(), QStringLiteral("post('%1', '%2', %3)").arg(key, name, body));
        return key;
    }

    QVariantMap outcome(const QString &key, QWebEnginePage *in = nullptr)
    {
        return fromJson(evaluate(in ? in : page(), QStringLiteral("JSON.stringify(outcomes['%1'] || null)").arg(key)));
    }

    QVariantMap waitForOutcome(const QString &key, QWebEnginePage *in = nullptr)
    {
        QVariantMap result;
        (void)QTest::qWaitFor(
            [&] {
                result = outcome(key, in);
                return result.value("state") != QLatin1String("pending");
            },
            patience);
        return result;
    }

    QVariantMap call(const QString &name, const QString &body = "undefined", QWebEnginePage *in = nullptr)
    {
        return waitForOutcome(start(name, body, in), in);
    }

    static QString readOnlyFolder()
    {
        // Root may write anywhere but on a read-only file system.
        if (::geteuid() == 0)
            return QStringLiteral("/proc/sys");
        static QTemporaryDir dir;
        QDir().mkpath(dir.filePath("locked"));
        QFile::setPermissions(dir.filePath("locked"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        return dir.filePath("locked");
    }

private slots:
    void init()
    {
        m_calls = 0;
        m_settings = std::make_unique<test::TemporarySettings>();
        m_home = std::make_unique<QTemporaryDir>();
        m_panel = {};
        m_revealer.revealed.clear();
        m_revealer.shows = true;
        m_launcher = {};
        m_settingsOpener.opened = 0;
        m_settingsOpener.answer = true;
        m_bundle.info = {{"CFBundleShortVersionString", "2.3.1"}};

        updates::UpdateController::Dependencies updateDeps;
        updateDeps.controllerFactory = test::ScriptedController::factory(&m_engine);
        updateDeps.bundle = &m_bundle;
        m_updates = std::make_unique<updates::UpdateController>(std::move(updateDeps));
        m_assistant = std::make_unique<access::FullDiskAccessAssistant>(
            test::assistantDependencies(m_settingsOpener, m_windowList));

        m_other = std::make_unique<test::LoopbackHttpServer>();
        QVERIFY(m_other->listen());
        m_other->setHandler([](const QByteArray &, const QString &path) {
            if (path == QLatin1String("/foreign-frame"))
                return html(foreignFrame);
            return html(pageScript);
        });
        m_origin = std::make_unique<test::LoopbackHttpServer>();
        QVERIFY(m_origin->listen());
        const QUrl other = m_other->url("/foreign-frame");
        m_origin->setHandler([other](const QByteArray &, const QString &path) {
            if (path.startsWith(QLatin1String("/frame?mode=")))
                return html(sameOriginFrame(path.mid(12).toUtf8().replace("%20", " ")));
            if (path.startsWith(QLatin1String("/with-frame?mode=")))
                return html(pageScript + "<iframe src='/frame?mode=" + path.mid(17).toUtf8() + "'></iframe>");
            if (path == QLatin1String("/with-foreign-frame"))
                return html(pageScript + "<iframe src='" + other.toEncoded() + "'></iframe>");
            return html(pageScript);
        });
    }

    void cleanup()
    {
        m_view.reset();
        m_assistant.reset();
        m_updates.reset();
        m_origin.reset();
        m_other.reset();
        m_settings.reset();
        m_home.reset();
    }

    // The gate.

    void thePageItselfPasses()
    {
        QVERIFY(openPage("/jobs?id=1"));
        QCOMPARE(call("getAppInfo"),
                 resolvedWith(QVariantMap{{"version", "2.3.1"}, {"updatesAvailable", true}, {"canCheckForUpdates", false}}));
    }

    void theBridgeIsThereForThePagesFirstScript()
    {
        m_origin->setHandler([](const QByteArray &, const QString &) {
            return html(pageScript + "<script>post('first', 'getAppInfo');</script>");
        });
        QVERIFY(openPage());
        QCOMPARE(waitForOutcome("first").value("state"), QVariant("resolved"));
    }

    void unknownNamesAreRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("unknown") << "deleteEverything";
        QTest::newRow("another letter case") << "GetSaveLocation";
        QTest::newRow("inherited object member") << "toString";
        QTest::newRow("empty") << "";
    }
    void unknownNamesAreRefused()
    {
        QFETCH(QString, name);
        QVERIFY(openPage());
        QCOMPARE(call(name), rejectedWith(workspace::bridgeRefusedMessage));
    }

    void pagesOfOtherOriginsAreRefused_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("samePort");
        QTest::newRow("another port") << "127.0.0.1" << false;
        QTest::newRow("look-alike host") << "localhost" << true;
    }
    void pagesOfOtherOriginsAreRefused()
    {
        QFETCH(QString, host);
        QFETCH(bool, samePort);
        QUrl url = samePort ? m_origin->url("/") : m_other->url("/");
        url.setHost(host);
        BridgedPage other(m_origin->baseUrl(), url, bridgeDependencies());
        QVERIFY(other.ok);
        QCOMPARE(call("getSaveLocation", "undefined", other.page), rejectedWith(workspace::bridgeRefusedMessage));
        QCOMPARE(call("getAppInfo", "undefined", other.page), rejectedWith(workspace::bridgeRefusedMessage));
    }

    void framesOfThePagesOwnOriginAreRefused_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("from the frame's first script") << "script";
        QTest::newRow("from a timer") << "timer";
        QTest::newRow("from a timer in strict code") << "strict timer";
        QTest::newRow("from a function of the frame") << "function";
        QTest::newRow("from an event of the frame") << "event";
        QTest::newRow("from a module script") << "module";
        // Its own window.webkit: a stand-in that refuses alike, reaching nothing native.
        QTest::newRow("through the frame's own bridge") << "own bridge";
    }
    void framesOfThePagesOwnOriginAreRefused()
    {
        QFETCH(QString, mode);
        QVERIFY(openPage("/with-frame?mode=" + QString(mode).replace(' ', "%20")));
        QVariantMap result;
        QVERIFY(QTest::qWaitFor(
            [&] {
                result = fromJson(evaluate(page(), QStringLiteral("JSON.stringify(frameOutcomes['%1'] || null)").arg(mode)));
                return !result.isEmpty();
            },
            patience));
        QCOMPARE(result.value("state"), QVariant("rejected"));
        QCOMPARE(result.value("message"), QVariant(workspace::bridgeRefusedMessage));
        // The page itself still passes.
        QCOMPARE(call("getAppInfo").value("state"), QVariant("resolved"));
    }

    void framesOfAnotherOriginCannotReachTheBridge()
    {
        // The workspace never loads a frame of another origin at all (its navigation policy
        // cancels it); a page without that policy shows that such a frame could not post even
        // if it were there.
        BridgedPage bridged(m_origin->baseUrl(), m_origin->url("/with-foreign-frame"), bridgeDependencies());
        QVERIFY(bridged.ok);
        QSignalSpy replies(bridged.bridge, &workspace::ScriptBridge::messageAnswered);
        QVariantMap result;
        QVERIFY(QTest::qWaitFor(
            [&] {
                result = fromJson(
                    evaluate(bridged.page, QStringLiteral("JSON.stringify(frameOutcomes['foreign'] || null)")));
                return !result.isEmpty();
            },
            patience));
        QCOMPARE(result.value("state"), QVariant("SecurityError"));
        // Its own stand-in refuses too, without a word to the application.
        QCOMPARE(result.value("ownBridge"), QVariant(workspace::bridgeRefusedMessage));
        QVERIFY(replies.isEmpty());
        // The page itself passes.
        QCOMPARE(call("getAppInfo", "undefined", bridged.page).value("state"), QVariant("resolved"));
        QCOMPARE(replies.size(), 1);
    }

    void everyMessageGetsExactlyOneReply()
    {
        QVERIFY(openPage());
        QSignalSpy replies(page()->scriptBridge(), &workspace::ScriptBridge::messageAnswered);
        QStringList names = workspace::bridgeMessageNames;
        names << "unknownName"
              << "";
        const int bodies = evaluate(page(), test::bridgepages::floodBodiesScript).toInt();
        QVERIFY(bodies > 20);
        for (const QString &name : std::as_const(names)) {
            evaluate(page(), QStringLiteral("floodBodies.forEach((body, i) => post('%1:' + i, '%1', body))").arg(name));
        }
        const int total = int(names.size()) * bodies;
        // The folder panels wait for their user: cancel every one.
        QTRY_COMPARE_WITH_TIMEOUT(m_panel.open.size(), 2 * bodies, patience);
        for (int i = 0; i < m_panel.open.size(); ++i)
            m_panel.answer(i, std::nullopt);
        QTRY_COMPARE_WITH_TIMEOUT(replies.size(), total, patience);
        QTRY_COMPARE_WITH_TIMEOUT(
            evaluate(page(),
                     "Object.values(outcomes).filter((o) => o.state === 'resolved' || o.state === 'rejected').length")
                .toInt(),
            total, patience);
        // Nothing more arrives later.
        QVERIFY(!replies.wait(300));
        QCOMPARE(replies.size(), total);
        QMap<QString, int> perName;
        for (const QList<QVariant> &reply : std::as_const(replies))
            ++perName[reply.at(0).toString()];
        for (const QString &name : std::as_const(names))
            QCOMPARE(perName.value(name), bodies);
        QCOMPARE(evaluate(page(), "Object.values(outcomes).filter((o) => o.state === 'threw').length").toInt(), 0);
        // The flood did not reveal anything: no body named an existing text file.
        QVERIFY(m_revealer.revealed.isEmpty());
    }

    void aPageThatTampersCannotReadAnotherCallsReply()
    {
        QTemporaryDir secret;
        const QString folder = secret.filePath("secret-folder-3141");
        QVERIFY(QDir().mkpath(folder));
        QSettings().setValue(workspace::textSaveDirectoryKey, folder);
        m_origin->setHandler(
            [](const QByteArray &, const QString &) { return html(pageScript + test::bridgepages::honestPartScript); });
        QVERIFY(openPage());
        evaluate(page(), test::bridgepages::tamperingScript);
        evaluate(page(), test::bridgepages::honestCallScript);
        QTRY_VERIFY_WITH_TIMEOUT(evaluate(page(), "window.honestResult !== undefined").toBool(), patience);
        QCOMPARE(evaluate(page(), "honestResult.path").toString(), folder);
        QVERIFY(!evaluate(page(), "window.stolenLink !== undefined").toBool());
        const QStringList seen = evaluate(page(), "seen").toStringList();
        for (const QString &entry : seen) {
            QVERIFY2(!entry.contains("secret-folder"), qPrintable(entry));
            // Only what the tampering part dispatched itself passed its listeners.
            QVERIFY2(!entry.startsWith("saw ") || entry == "saw velmora-bridge-ask" || entry == "saw velmora-bridge-reply",
                     qPrintable(entry));
        }
        // The page-run function could be neither replaced nor removed.
        workspace::PageScripts scripts(page(), page()->scriptBridge(), 5s);
        const backend::PageScriptResult result = test::waitFor(scripts.runAsyncFunction("return 6 * 7;"));
        QVERIFY(result.ok);
        QCOMPARE(result.value.toInt(), 42);
        QVERIFY(!seen.contains("replaced") && !seen.contains("redefined"));
    }

    // The handlers.

    void getSaveLocation_data()
    {
        QTest::addColumn<QVariant>("stored"); // %1: a folder that exists
        QTest::addColumn<bool>("hasDownloads");
        QTest::addColumn<QString>("expected"); // "downloads", "home" or "stored"
        QTest::newRow("fresh installation") << QVariant() << true << "downloads";
        QTest::newRow("fresh installation, no Downloads folder") << QVariant() << false << "home";
        QTest::newRow("stored empty string") << QVariant("") << true << "downloads";
        QTest::newRow("a chosen folder") << QVariant("%1/texts") << true << "stored";
        QTest::newRow("a chosen folder that has gone since") << QVariant("/nonexistent/texts") << true << "home";
    }
    void getSaveLocation()
    {
        QFETCH(QVariant, stored);
        QFETCH(bool, hasDownloads);
        QFETCH(QString, expected);
        // The page first: the web view's profile keeps its storage under the real test home.
        QVERIFY(openPage());
        // A home of the test's own, with or without the Downloads folder of its user.
        QTemporaryDir home;
        const QByteArray savedHome = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(home.path()));
        auto restore = qScopeGuard([&] { qputenv("HOME", savedHome); });
        const QString downloads = QStandardPaths::standardLocations(QStandardPaths::DownloadLocation).value(0);
        QVERIFY(downloads.startsWith(home.path()));
        if (hasDownloads)
            QVERIFY(QDir().mkpath(downloads));
        QVERIFY(QDir().mkpath(home.filePath("texts")));
        if (stored.isValid())
            QSettings().setValue(workspace::textSaveDirectoryKey, stored.toString().replace("%1", home.path()));
        const QVariantMap reply = call("getSaveLocation").value("value").toMap();
        const QString path = expected == "downloads" ? downloads
                             : expected == "stored"  ? home.filePath("texts")
                                                     : home.path();
        QCOMPARE(reply, (QVariantMap{{"path", path}, {"name", QFileInfo(path).fileName()}}));
    }

    void revealTextFile_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("revealed");
        QTest::addColumn<bool>("shows"); // a file manager or a folder opener can be started
        QTest::newRow("existing file, extension in capitals") << "{path: '%1/NOTES.TXT'}"
                                                              << ""
                                                              << "%1/NOTES.TXT" << true;
        QTest::newRow("subtitles") << "{path: '%1/talk.srt', note: 'extra members are ignored'}"
                                   << ""
                                   << "%1/talk.srt" << true;
        QTest::newRow("a link to a text file") << "{path: '%1/link.md'}"
                                               << ""
                                               << "%1/link.md" << true;
        QTest::newRow("relative path") << "{path: 'NOTES.TXT'}" << workspace::revealPathInvalidMessage << "" << true;
        QTest::newRow("pdf") << "{path: '%1/paper.pdf'}" << workspace::revealPathInvalidMessage << "" << true;
        QTest::newRow("plain string body") << "'%1/NOTES.TXT'" << workspace::revealPathInvalidMessage << "" << true;
        QTest::newRow("dictionary without path")
            << "{file: '%1/NOTES.TXT'}" << workspace::revealPathInvalidMessage << "" << true;
        QTest::newRow("no body") << "undefined" << workspace::revealPathInvalidMessage << "" << true;
        QTest::newRow("folder named like a text file")
            << "{path: '%1/folder.txt'}" << workspace::revealFileMissingMessage << "" << true;
        QTest::newRow("missing file") << "{path: '%1/missing.vtt'}" << workspace::revealFileMissingMessage << "" << true;
        QTest::newRow("a link to nothing")
            << "{path: '%1/dangling.md'}" << workspace::revealFileMissingMessage << "" << true;
        QTest::newRow("nothing can show it")
            << "{path: '%1/talk.srt'}" << workspace::revealFailedMessage << "%1/talk.srt" << false;
    }
    void revealTextFile()
    {
        QFETCH(QString, body);
        QFETCH(QString, error);
        QFETCH(QString, revealed);
        QFETCH(bool, shows);
        m_revealer.shows = shows;
        QTemporaryDir files;
        QVERIFY(test::writeFile(files.filePath("NOTES.TXT"), "notes"));
        QVERIFY(test::writeFile(files.filePath("talk.srt"), "1\n"));
        QVERIFY(QFile::link(files.filePath("NOTES.TXT"), files.filePath("link.md")));
        QVERIFY(QFile::link(files.filePath("gone.md"), files.filePath("dangling.md")));
        QVERIFY(QDir().mkpath(files.filePath("folder.txt")));
        QVERIFY(openPage());
        const QVariantMap result = call("revealTextFile", QString(body).replace("%1", files.path()));
        QCOMPARE(result, error.isEmpty() ? resolvedWith(true) : rejectedWith(error));
        if (revealed.isEmpty())
            QVERIFY(m_revealer.revealed.isEmpty());
        else
            QCOMPARE(m_revealer.revealed, QStringList{QString(revealed).replace("%1", files.path())});
    }

    void chooseSaveLocation_data()
    {
        QTest::addColumn<QString>("answer"); // "cancel", "read-only" or "writable"
        QTest::newRow("writable folder") << "writable";
        QTest::newRow("read-only folder") << "read-only";
        QTest::newRow("cancelled") << "cancel";
    }
    void chooseSaveLocation()
    {
        QFETCH(QString, answer);
        QTemporaryDir folders;
        const QString before = folders.filePath("before");
        const QString chosen = folders.filePath("새 폴더");
        QVERIFY(QDir().mkpath(before));
        QVERIFY(QDir().mkpath(chosen));
        QSettings().setValue(workspace::textSaveDirectoryKey, before);
        QVERIFY(openPage());

        const QString key = start("chooseSaveLocation");
        QTRY_COMPARE_WITH_TIMEOUT(m_panel.open.size(), 1, patience);
        const platform::FolderPanelRequest &request = m_panel.requests.first();
        QCOMPARE(request.title, workspace::saveFolderPanelTitle);
        QCOMPARE(request.message, workspace::saveFolderPanelMessage);
        QCOMPARE(request.prompt, workspace::folderPanelPrompt);
        QCOMPARE(request.startFolder, before);
        QVERIFY(request.canCreateFolders);
        QCOMPARE(outcome(key).value("state"), QVariant("pending"));

        if (answer == "cancel") {
            m_panel.answer(0, std::nullopt);
            QCOMPARE(waitForOutcome(key), resolvedWithoutValue);
        } else if (answer == "read-only") {
            m_panel.answer(0, readOnlyFolder());
            QCOMPARE(waitForOutcome(key), rejectedWith(workspace::saveFolderNotWritableMessage));
        } else {
            m_panel.answer(0, chosen);
            QCOMPARE(waitForOutcome(key), resolvedWith(QVariantMap{{"path", chosen}, {"name", "새 폴더"}}));
        }
        const QString expected = answer == "writable" ? chosen : before;
        QCOMPARE(QSettings().value(workspace::textSaveDirectoryKey).toString(), expected);
        QCOMPARE(call("getSaveLocation").value("value").toMap().value("path").toString(), expected);
    }

    void chooseModelFolder_data()
    {
        QTest::addColumn<bool>("cancelled");
        QTest::newRow("chosen") << false;
        QTest::newRow("cancelled") << true;
    }
    void chooseModelFolder()
    {
        QFETCH(bool, cancelled);
        QVERIFY(openPage());
        const QString key = start("chooseModelFolder", "{ignored: true}");
        QTRY_COMPARE_WITH_TIMEOUT(m_panel.open.size(), 1, patience);
        const platform::FolderPanelRequest &request = m_panel.requests.first();
        QCOMPARE(request.title, workspace::modelFolderPanelTitle);
        QCOMPARE(request.message, workspace::modelFolderPanelMessage);
        QCOMPARE(request.prompt, workspace::folderPanelPrompt);
        // Never Velmora's working folder: the home folder until a model folder was chosen.
        QCOMPARE(request.startFolder, QDir::homePath());
        QVERIFY(!request.canCreateFolders);
        // The folder is not looked into, and it need not even be writable.
        m_panel.answer(0, cancelled ? std::nullopt : std::optional(readOnlyFolder()));
        QCOMPARE(waitForOutcome(key), cancelled ? resolvedWithoutValue : resolvedWith(readOnlyFolder()));
        QVERIFY(!QSettings().contains(workspace::textSaveDirectoryKey));

        // The next panel starts in the folder chosen now (if one was), while it exists.
        start("chooseModelFolder");
        QTRY_COMPARE_WITH_TIMEOUT(m_panel.open.size(), 2, patience);
        QCOMPARE(m_panel.requests.at(1).startFolder, cancelled ? QDir::homePath() : readOnlyFolder());
        m_panel.answer(1, std::nullopt);
        if (!cancelled) {
            QSettings().setValue(workspace::modelFolderKey, readOnlyFolder() + "/gone");
            start("chooseModelFolder");
            QTRY_COMPARE_WITH_TIMEOUT(m_panel.open.size(), 3, patience);
            QCOMPARE(m_panel.requests.at(2).startFolder, QDir::homePath());
        }
    }

    void twoPanelsAreAnsweredEachByItsOwn()
    {
        QTemporaryDir folders;
        QVERIFY(QDir().mkpath(folders.filePath("model")));
        QVERIFY(QDir().mkpath(folders.filePath("texts")));
        QVERIFY(openPage());
        const QString model = start("chooseModelFolder");
        const QString save = start("chooseSaveLocation");
        QTRY_COMPARE_WITH_TIMEOUT(m_panel.open.size(), 2, patience);
        // The later panel ends first.
        m_panel.answer(1, folders.filePath("texts"));
        QCOMPARE(waitForOutcome(save), resolvedWith(QVariantMap{{"path", folders.filePath("texts")}, {"name", "texts"}}));
        QCOMPARE(outcome(model).value("state"), QVariant("pending"));
        m_panel.answer(0, folders.filePath("model"));
        QCOMPARE(waitForOutcome(model), resolvedWith(folders.filePath("model")));
    }

    void aPanelWhosePageIsGoneAnswersNothing()
    {
        QVERIFY(openPage());
        QSignalSpy replies(page()->scriptBridge(), &workspace::ScriptBridge::messageAnswered);
        start("chooseSaveLocation");
        QTRY_COMPARE_WITH_TIMEOUT(m_panel.open.size(), 1, patience);
        m_view.reset();
        QTemporaryDir folder;
        m_panel.answer(0, folder.path());
        test::drainEvents();
        QVERIFY(replies.isEmpty());
        QVERIFY(!QSettings().contains(workspace::textSaveDirectoryKey));
    }

    // The real folder panel under the tests' setting (Qt::AA_DontUseNativeDialogs): Qt's own
    // panel, with the message above the folders.
    void theRealFolderPanel()
    {
        QTemporaryDir folders;
        QVERIFY(QDir().mkpath(folders.filePath("모델")));
        workspace::WorkspaceViewDependencies deps;
        deps.opener = &m_opener;
        deps.bridge = bridgeDependencies();
        deps.bridge.folderPanel = nullptr; // the real one
        m_view = std::make_unique<WorkspaceView>(m_origin->url("/"), deps);
        QVERIFY(test::showAndWaitForLoad(*m_view));
        const QString key = start("chooseModelFolder");
        QFileDialog *dialog = nullptr;
        QVERIFY(QTest::qWaitFor(
            [&] {
                for (QWidget *w : QApplication::topLevelWidgets()) {
                    if (w->objectName() == QLatin1String("velmora.folderPanel") && w->isVisible())
                        dialog = qobject_cast<QFileDialog *>(w);
                }
                return dialog != nullptr;
            },
            patience));
        QVERIFY(!platform::FolderPanel::drawnByDesktop(dialog));
        QCOMPARE(dialog->windowTitle(), workspace::modelFolderPanelTitle);
        QCOMPARE(dialog->windowModality(), Qt::NonModal);
        QVERIFY(dialog->parentWidget() == nullptr);
        QCOMPARE(dialog->labelText(QFileDialog::Accept), workspace::folderPanelPrompt);
        QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
        auto *message = dialog->findChild<QLabel *>("velmora.folderPanel.message");
        QVERIFY(message && message->isVisible());
        QCOMPARE(message->text(), workspace::modelFolderPanelMessage);
        QCOMPARE(dialog->directory().absolutePath(), QDir::homePath());
        // The user goes into the folder and confirms it.
        dialog->setDirectory(folders.filePath("모델"));
        static_cast<QDialog *>(dialog)->accept();
        QCOMPARE(waitForOutcome(key), resolvedWith(folders.filePath("모델")));
        const auto panelShown = [] {
            const QWidgetList windows = QApplication::topLevelWidgets();
            return std::any_of(windows.cbegin(), windows.cend(), [](QWidget *w) {
                return w->objectName() == QLatin1String("velmora.folderPanel") && w->isVisible();
            });
        };
        QTRY_VERIFY_WITH_TIMEOUT(!panelShown(), patience);
    }

    void getAppInfo_data()
    {
        QTest::addColumn<QVariantMap>("info");
        QTest::addColumn<bool>("started");
        QTest::addColumn<QVariantMap>("reply");
        QTest::newRow("version, updater not started")
            << QVariantMap{{"CFBundleShortVersionString", "2.3.1"}} << false
            << QVariantMap{{"version", "2.3.1"}, {"updatesAvailable", true}, {"canCheckForUpdates", false}};
        QTest::newRow("version, updater able to check")
            << QVariantMap{{"CFBundleShortVersionString", "2.3.1"}} << true
            << QVariantMap{{"version", "2.3.1"}, {"updatesAvailable", true}, {"canCheckForUpdates", true}};
        QTest::newRow("no short version string")
            << QVariantMap{} << false
            << QVariantMap{{"version", ""}, {"updatesAvailable", true}, {"canCheckForUpdates", false}};
        QTest::newRow("short version string not a string")
            << QVariantMap{{"CFBundleShortVersionString", 7}} << false
            << QVariantMap{{"version", ""}, {"updatesAvailable", true}, {"canCheckForUpdates", false}};
    }
    void getAppInfo()
    {
        QFETCH(QVariantMap, info);
        QFETCH(bool, started);
        QFETCH(QVariantMap, reply);
        m_bundle.info = info;
        if (started) {
            m_updates->start();
            QTRY_VERIFY_WITH_TIMEOUT(m_updates->canCheckForUpdates(), patience);
        }
        QVERIFY(openPage());
        QCOMPARE(call("getAppInfo", "{version: 'from the page'}"), resolvedWith(reply));
    }

    void checkForUpdatesMakesTheUserRequestAndRepliesAtOnce()
    {
        QVERIFY(openPage());
        QCOMPARE(call("checkForUpdates"), resolvedWith(true));
        QCOMPARE(m_engine->startCount, 1);
        QVERIFY(m_updates->updateWindow() && m_updates->updateWindow()->isVisible());
        // The check itself waits, after the reply, until the engine can take it: here until the
        // launch check that start() began has ended.
        QCOMPARE(m_engine->scripted.informationChecks, 0);
        QTRY_VERIFY_WITH_TIMEOUT(m_updates->canCheckForUpdates(), patience);
        m_engine->finishCycle();
        QTRY_COMPARE_WITH_TIMEOUT(m_engine->scripted.informationChecks, 1, patience);
        QVERIFY(m_updates->isChecking());
        m_updates->updateWindow()->close();
    }

    void openVoiceMemos_data()
    {
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QStringList>("opened");
        QTest::newRow("GNOME Sound Recorder")
            << QStringList{"org.gnome.SoundRecorder", "org.kde.krecorder"} << QStringList{"org.gnome.SoundRecorder"};
        QTest::newRow("KDE's recorder") << QStringList{"org.kde.krecorder"} << QStringList{"org.kde.krecorder"};
        QTest::newRow("no recorder") << QStringList{"com.apple.VoiceMemos"} << QStringList{};
    }
    void openVoiceMemos()
    {
        QFETCH(QStringList, installed);
        QFETCH(QStringList, opened);
        m_launcher.installed = installed;
        QVERIFY(openPage());
        const QVariantMap result = call("openVoiceMemos");
        QCOMPARE(result, opened.isEmpty() ? rejectedWith(workspace::voiceMemosMissingMessage) : resolvedWith(true));
        QCOMPARE(m_launcher.opened, opened);
    }

    void requestVoiceMemosAccess_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("readable");
        QTest::newRow("Voice Memos recordings")
            << "home/Library/Group Containers/group.com.apple.VoiceMemos.shared/Recordings" << true;
        QTest::newRow("GNOME Sound Recorder's folder") << "data/org.gnome.SoundRecorder" << true;
        QTest::newRow("GNOME Sound Recorder's Flatpak folder")
            << "home/.var/app/org.gnome.SoundRecorder/data/org.gnome.SoundRecorder" << true;
        // Linux has no permission to ask for: no recorder folder yet is no recordings yet.
        QTest::newRow("none") << "" << !workspace::recordingsNeedPermission;
    }
    void requestVoiceMemosAccess()
    {
        QFETCH(QString, folder);
        QFETCH(bool, readable);
        if (!folder.isEmpty())
            QVERIFY(QDir().mkpath(m_home->filePath(folder)));
        QVERIFY(openPage());
        QCOMPARE(call("requestVoiceMemosAccess"), resolvedWith(readable));
    }

    void openVoiceMemoPrivacy_data()
    {
        QTest::addColumn<bool>("settingsOpen");
        QTest::newRow("settings opened") << true;
        QTest::newRow("the desktop has no such settings") << false;
    }
    // Linux has no permission to grant: the desktop's settings open without the guide, and a
    // desktop without them is an error.
    void openVoiceMemoPrivacy()
    {
        if (workspace::recordingsNeedPermission)
            QSKIP("On macOS the guide goes with the settings.");
        QFETCH(bool, settingsOpen);
        m_settingsOpener.answer = settingsOpen;
        QVERIFY(openPage());
        QCOMPARE(call("openVoiceMemoPrivacy"),
                 settingsOpen ? resolvedWith(true) : rejectedWith(workspace::privacySettingsUnavailableMessage));
        QCOMPARE(m_settingsOpener.opened, 1);
        test::drainEvents();
        QVERIFY(!m_assistant->window() || !m_assistant->window()->isVisible());
        QVERIFY(!m_assistant->parentWindow);
        QVERIFY(!m_assistant->onComplete);
    }

    void theUserComingBackFromTheSettingsIsAnnounced()
    {
        if (workspace::recordingsNeedPermission)
            QSKIP("On macOS the guide's closing announces it.");
        QVERIFY(openPage());
        m_view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_view.get()));
        QCOMPARE(call("openVoiceMemoPrivacy"), resolvedWith(true));
        // The settings take the focus; the user comes back to Velmora's window, twice.
        QWidget settings;
        for (int round = 0; round < 2; ++round) {
            settings.show();
            settings.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&settings));
            m_view->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(m_view.get()));
            QTRY_COMPARE_WITH_TIMEOUT(evaluate(page(), "permissionReturns").toInt(), 1, patience);
        }
        test::drainEvents();
        QCOMPARE(evaluate(page(), "permissionReturns").toInt(), 1);
    }

    void openVoiceMemoPrivacyWithTheGuide_data()
    {
        QTest::addColumn<bool>("settingsOpen");
        QTest::newRow("settings opened") << true;
        QTest::newRow("settings could not be opened") << false;
    }
    void openVoiceMemoPrivacyWithTheGuide()
    {
        if (!workspace::recordingsNeedPermission)
            QSKIP("The guide serves a permission that only macOS has.");
        QFETCH(bool, settingsOpen);
        m_settingsOpener.answer = settingsOpen;
        QVERIFY(openPage());
        QCOMPARE(call("openVoiceMemoPrivacy"), resolvedWith(settingsOpen));
        QCOMPARE(m_settingsOpener.opened, 1);
        QCOMPARE(m_assistant->parentWindow.data(), m_view->window());
        QCOMPARE(evaluate(page(), "permissionReturns").toInt(), 0);
        m_assistant->close();
        QTRY_COMPARE_WITH_TIMEOUT(evaluate(page(), "permissionReturns").toInt(), 1, patience);
        // Once: the callback is gone, and a later close announces nothing (scripts run in the
        // order they are given, so the count read afterwards includes anything it sent).
        QVERIFY(!m_assistant->onComplete);
        m_assistant->openSettingsAndPositionGuide();
        m_assistant->close();
        QCOMPARE(evaluate(page(), "permissionReturns").toInt(), 1);
    }

    void theLatestRequestsPageHearsOfTheReturn()
    {
        if (!workspace::recordingsNeedPermission)
            QSKIP("The guide serves a permission that only macOS has.");
        QVERIFY(openPage());
        std::unique_ptr<WorkspaceView> second = makeView();
        QVERIFY(test::showAndWaitForLoad(*second, QSize(800, 600)));
        QCOMPARE(call("openVoiceMemoPrivacy"), resolvedWith(true));
        QCOMPARE(call("openVoiceMemoPrivacy", "undefined", second->coordinator()), resolvedWith(true));
        m_assistant->close();
        QTRY_COMPARE_WITH_TIMEOUT(evaluate(second->coordinator(), "permissionReturns").toInt(), 1, patience);
        QCOMPARE(evaluate(page(), "permissionReturns").toInt(), 0);
    }

    void aReturnAfterThePageIsGoneDoesNothing()
    {
        if (!workspace::recordingsNeedPermission)
            QSKIP("The guide serves a permission that only macOS has.");
        QVERIFY(openPage());
        QCOMPARE(call("openVoiceMemoPrivacy"), resolvedWith(true));
        m_view.reset();
        m_assistant->close();
        test::drainEvents();
        QVERIFY(!m_assistant->onComplete);
    }
};

int main(int argc, char *argv[])
{
    // The web view draws as it does in velmora.
    velmora::app::prepareDrawing(argc, argv);
    // Qt's own panels, which a test can reach, even where a desktop's would be shown.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    // The page's profile keeps its storage in the data folders; keep it out of the real ones.
    QStandardPaths::setTestModeEnabled(true);
    TestScriptBridge test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_scriptbridge.moc"
