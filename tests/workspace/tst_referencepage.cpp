// The reference backend's own page in the workspace view, against the real backend (uvicorn,
// started from this source tree): what it asks the app when it opens, what it shows of the
// answers, and how it winds its work down when the app prepares an update.

#include "BridgeDoubles.h"
#include "PageLoad.h"
#include "PageScript.h"
#include "RecordingUrlOpener.h"
#include "RunningBackend.h"
#include "TestSupport.h"

#include "app/Drawing.h"
#include "platform/Bundle.h"
#include "workspace/PageScripts.h"
#include "workspace/ScriptBridge.h"
#include "workspace/SettingsKeys.h"
#include "workspace/WorkspaceView.h"
#include "workspace/WorkspaceViewCoordinator.h"

#include <QApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace velmora;
using test::evaluate;
using test::patience;
using workspace::WorkspaceView;

namespace {} // namespace

class TestReferencePage : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::ReservedPort> m_port;
    QProcess m_backend;
    std::unique_ptr<test::TemporarySettings> m_settings;
    std::unique_ptr<QTemporaryDir> m_folders;
    test::RecordingUrlOpener m_opener;
    test::AnsweringFolderPanel m_panel;
    test::RecordingFileRevealer m_revealer;
    test::RecordingApplicationLauncher m_launcher;
    platform::FixedBundle m_bundle;
    std::unique_ptr<WorkspaceView> m_view;

    QUrl base() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(m_port->number())); }
    WorkspaceView::Coordinator *page() const { return m_view->coordinator(); }

    QString text(const QString &id) { return evaluate(page(), QStringLiteral("$('%1').textContent").arg(id)).toString(); }

    // The backend's own answer to the app's activity probe, read by the page.
    QVariant busy()
    {
        evaluate(page(), "window.statusSeen = undefined; fetch('/api/update-status', {cache: 'no-store'})"
                         ".then(r => r.json()).then(b => { window.statusSeen = b.busy; })");
        QVariant seen;
        (void)QTest::qWaitFor(
            [&] {
                seen = evaluate(page(), "window.statusSeen");
                return seen.isValid();
            },
            patience);
        return seen;
    }

    QTemporaryDir m_backendHome;

private slots:
    void initTestCase()
    {
        m_port = std::make_unique<test::ReservedPort>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VELMORA_DESKTOP_PORT", QString::number(m_port->number()));
        // Long enough that the job is still running when the app prepares its update.
        env.insert("VELMORA_BACKEND_JOB_SECONDS", "600");
        env.remove("VELMORA_DESKTOP_PARENT_PID");
        // The backend looks for recordings in a home of its own, which has none.
        env.insert("HOME", m_backendHome.path());
        env.remove("XDG_DATA_HOME");
        m_backend.setProcessEnvironment(env);
        m_backend.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_backend.start("/bin/bash", {QStringLiteral(VELMORA_SOURCE_DIR "/scripts/run-app.sh")});
        QVERIFY2(m_backend.waitForStarted(patience), "the backend did not start");
        QVERIFY2(QTest::qWaitFor(
                     [this] { return test::portAccepts(m_port->number()) || m_backend.state() == QProcess::NotRunning; },
                     patience)
                     && m_backend.state() == QProcess::Running,
                 "the backend does not answer");
    }

    void cleanupTestCase()
    {
        m_backend.terminate();
        QVERIFY2(m_backend.waitForFinished(patience), "the backend did not stop");
    }

    void init()
    {
        m_settings = std::make_unique<test::TemporarySettings>();
        m_folders = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir().mkpath(m_folders->filePath("저장")));
        QSettings().setValue(workspace::textSaveDirectoryKey, m_folders->filePath("저장"));
        m_panel = {};
        m_bundle.info = {{"CFBundleShortVersionString", "2.3.1"}};

        workspace::WorkspaceViewDependencies deps;
        deps.opener = &m_opener;
        deps.bridge.folderPanel = &m_panel;
        deps.bridge.fileRevealer = &m_revealer;
        deps.bridge.applicationLauncher = &m_launcher;
        deps.bridge.bundle = &m_bundle;
        deps.bridge.recordingPlaces = workspace::RecordingPlaces{m_folders->filePath("home"), m_folders->filePath("data")};
        m_view = std::make_unique<WorkspaceView>(base(), deps);
        QVERIFY(test::showAndWaitForLoad(*m_view, QSize(1200, 900)));
    }

    void cleanup()
    {
        m_view.reset();
        m_settings.reset();
        m_folders.reset();
    }

    void thePageShowsWhatTheAppAnswers()
    {
        QTRY_COMPARE_WITH_TIMEOUT(text("app-version"), QStringLiteral("버전 2.3.1"), patience);
        QTRY_COMPARE_WITH_TIMEOUT(text("save-folder"), QStringLiteral("저장 — ") + m_folders->filePath("저장"), patience);

        // The user picks the folders in the app's panels.
        QVERIFY(QDir().mkpath(m_folders->filePath("모델")));
        QVERIFY(QDir().mkpath(m_folders->filePath("texts")));
        evaluate(page(), "$('choose-model').click()");
        QTRY_COMPARE_WITH_TIMEOUT(m_panel.open.size(), 1, patience);
        m_panel.answer(0, m_folders->filePath("모델"));
        QTRY_COMPARE_WITH_TIMEOUT(text("model-folder"), m_folders->filePath("모델"), patience);
        evaluate(page(), "$('choose-save').click()");
        QTRY_COMPARE_WITH_TIMEOUT(m_panel.open.size(), 2, patience);
        m_panel.answer(1, m_folders->filePath("texts"));
        QTRY_COMPARE_WITH_TIMEOUT(text("save-folder"), QStringLiteral("texts — ") + m_folders->filePath("texts"), patience);

        // No recorder folder at all: not a matter of permission, simply no recordings yet.
        evaluate(page(), "$('load-recordings').click()");
        QTRY_COMPARE_WITH_TIMEOUT(text("recordings-message"),
                                  QStringLiteral("녹음 파일이 아직 없습니다. 녹음 앱으로 녹음하면 여기에 표시됩니다."),
                                  patience);
        QCOMPARE(evaluate(page(), "$('privacy').hidden").toBool(), true);
        // No sound recorder is installed: the app's text reaches the page, with what to install.
        evaluate(page(), "$('open-recorder').click()");
        QTRY_COMPARE_WITH_TIMEOUT(
            text("recordings-message"),
            QStringLiteral("음성 메모 앱을 찾을 수 없습니다. GNOME 녹음기 또는 KDE KRecorder를 설치해 주세요."), patience);
    }

    void koreanWordsStayWholeAndTheFileInputLooksLikeTheOtherControls()
    {
        QCOMPARE(evaluate(page(), "getComputedStyle(document.body).wordBreak").toString(), QStringLiteral("keep-all"));
        // A Korean word in a box narrower than it: it overflows rather than breaking inside.
        const QVariant lines = evaluate(page(), "(() => { const p = document.createElement('p');"
                                                " p.style.width = '1px'; p.style.lineHeight = '20px';"
                                                " p.style.overflowWrap = 'normal'; p.textContent = '받아쓰기';"
                                                " document.body.append(p); const n = Math.round(p.offsetHeight / 20);"
                                                " p.remove(); return n; })()");
        QCOMPARE(lines.toInt(), 1);
        // The engine computes no style for the button part of a file input; its rule says it.
        const QString chooser = QStringLiteral("[...document.styleSheets].flatMap(s => [...s.cssRules]).find(r =>"
                                               " r.selectorText === 'input[type=\"file\"]::file-selector-button')"
                                               ".style.%1");
        const QString download = QStringLiteral("(() => { const a = document.createElement('a'); a.className ="
                                                " 'download'; document.body.append(a); const v ="
                                                " getComputedStyle(a).%1; a.remove(); return v; })()");
        for (const char *property : {"backgroundColor", "color", "borderRadius", "paddingLeft"}) {
            QCOMPARE(evaluate(page(), chooser.arg(QLatin1String(property))).toString(),
                     evaluate(page(), download.arg(QLatin1String(property))).toString());
        }
    }

    void aRunningJobIsBusyUntilTheAppPreparesItsUpdate()
    {
        const QVariant started = evaluate(page(), "fetchJSON('/api/jobs', {method: 'POST', headers: {'Content-Type':"
                                                  " 'application/json'}, body: JSON.stringify({source: '회의.m4a'})})"
                                                  ".then(job => { showJob(job); pollJob(); }); true");
        QVERIFY(started.toBool());
        QTRY_COMPARE_WITH_TIMEOUT(evaluate(page(), "$('job-progress').hidden").toBool(), false, patience);
        QCOMPARE(busy(), QVariant(true));

        QCoro::Task<backend::PageScriptResult> preparing = m_view->pageScripts()->runAsyncFunction(
            QStringLiteral("return await window.prepareForAppUpdate();"));
        const backend::PageScriptResult prepared = test::waitFor(preparing);
        QVERIFY(prepared.ok);
        QCOMPARE(prepared.value, QVariant(true));
        QCOMPARE(busy(), QVariant(false));
        QTRY_VERIFY_WITH_TIMEOUT(text("job-state").contains(QStringLiteral("지금까지의 내용을 저장했습니다")), patience);

        // The job's results are offered in the four text formats.
        const QStringList links = evaluate(page(), "[...document.querySelectorAll('#result-downloads a')]"
                                                   ".map(a => a.getAttribute('href').split('.').pop())")
                                      .toStringList();
        QCOMPARE(links, (QStringList{"txt", "srt", "vtt", "md"}));

        // A page with nothing running agrees at once.
        QCoro::Task<backend::PageScriptResult> again = m_view->pageScripts()->runAsyncFunction(
            QStringLiteral("return await window.prepareForAppUpdate();"));
        QCOMPARE(test::waitFor(again).value, QVariant(true));
    }
};

int main(int argc, char *argv[])
{
    // The web view draws as it does in velmora.
    velmora::app::prepareDrawing(argc, argv);
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    TestReferencePage test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_referencepage.moc"
