#include "DownloadDoubles.h"
#include "PageLoad.h"
#include "PageScript.h"
#include "RecordingUrlOpener.h"
#include "TestSupport.h"

#include "app/Drawing.h"
#include "workspace/FileInputPanel.h"
#include "workspace/Texts.h"
#include "workspace/WorkspaceView.h"
#include "workspace/WorkspaceViewCoordinator.h"

#include <QApplication>
#include <QFileDialog>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebEngineView>

#include <memory>

using namespace velmora;
using test::evaluate;
using test::patience;
using workspace::WorkspaceView;

namespace {

test::HttpReply html(const QByteArray &body)
{
    return test::HttpReply{200,
                           "<!doctype html><meta charset=utf-8><style>body { margin: 0 } input, button { display: block;"
                           " width: 300px; height: 40px; margin: 0 0 8px } iframe { display: block; width: 320px;"
                           " height: 110px; border: 0; margin: 0 0 8px }</style><body>"
                               + body,
                           {{"Content-Type", "text/html; charset=utf-8"}},
                           false};
}

// A frame whose file input stands at its top left, with a button below that opens the input's
// panel from a script.
// (Without double quotes, so that it fits into a srcdoc attribute.)
const QByteArray framePage = "<style>body { margin: 0 } input, button { display: block; width: 300px; height: 40px;"
                             " margin: 0 0 8px }</style><input id=inner type=file multiple>"
                             "<button id=picker onclick='document.getElementById(&quot;inner&quot;).showPicker()'>"
                             "picker</button>";

} // namespace

class TestFileInputs : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::LoopbackHttpServer> m_origin;
    std::unique_ptr<QTemporaryDir> m_files;
    test::RecordingUrlOpener m_opener;
    test::AnsweringFilePanel m_panel;
    std::unique_ptr<WorkspaceView> m_view;

    WorkspaceView::Coordinator *coordinator() const { return m_view->coordinator(); }

    QString file(const QString &name) const { return m_files->filePath(name); }

    bool openPage(platform::FilePanel *panel)
    {
        workspace::WorkspaceViewDependencies deps;
        deps.opener = &m_opener;
        deps.filePanel = panel;
        m_view = std::make_unique<WorkspaceView>(m_origin->url("/"), deps);
        return test::showAndWaitForLoad(*m_view, QSize(640, 600), test::PageReady::ForInput)
               // Both frames have loaded.
               && QTest::qWaitFor([this] { return evaluate(coordinator(), "window.framesLoaded").toInt() == 2; }, patience);
    }

    // A real click, as the user's mouse makes it, at the point of the page (main frame
    // coordinates) that script gives as [x, y].
    void clickAt(const QString &script)
    {
        const QVariantList at = evaluate(coordinator(), script).toList();
        QVERIFY(at.size() == 2);
        const QPoint point(at.at(0).toInt(), at.at(1).toInt());
        QWidget *target = m_view->webView()->focusProxy();
        QTest::mouseMove(target, point);
        QTest::mouseClick(target, Qt::LeftButton, {}, point);
    }

    // Clicks the main frame's element with this id.
    void click(const QString &id)
    {
        clickAt(QStringLiteral("(() => { const r = document.getElementById('%1').getBoundingClientRect();"
                               " return [r.left + r.width / 2, r.top + r.height / 2]; })()")
                    .arg(id));
    }

    // Clicks the element at (x, y) inside the frame with this id.
    void clickInFrame(const QString &frame, int x, int y)
    {
        clickAt(QStringLiteral("(() => { const r = document.getElementById('%1').getBoundingClientRect();"
                               " return [r.left + %2, r.top + %3]; })()")
                    .arg(frame)
                    .arg(x)
                    .arg(y));
    }

    // The names of the files the main frame's input with this id holds.
    QStringList filesOf(const QString &id)
    {
        return evaluate(coordinator(), QStringLiteral("[...document.getElementById('%1').files].map(f => f.name)").arg(id))
            .toStringList();
    }

private slots:
    void initTestCase()
    {
        m_files = std::make_unique<QTemporaryDir>();
        QVERIFY(m_files->isValid());
        QVERIFY(test::writeFile(file("voice.m4a"), QByteArray("\0\0\0\x20"
                                                              "ftypM4A \0\0\0\0M4A mp42isom",
                                                              28)));
        QVERIFY(test::writeFile(file("clip.mp4"), QByteArray("\0\0\0\x18"
                                                             "ftypmp42\0\0\0\0mp42isom",
                                                             24)));
        QVERIFY(test::writeFile(file("song.mp3"), "ID3\x03\0\0\0\0\0\0"));
        QVERIFY(test::writeFile(file("notes.txt"), "plain text\n"));
        QVERIFY(test::writeFile(file("photo.png"), "\x89PNG\r\n\x1a\n"));
    }

    void init()
    {
        m_panel = {};
        m_origin = std::make_unique<test::LoopbackHttpServer>();
        m_origin->setHandler([](const QByteArray &, const QString &path) {
            if (path == QLatin1String("/frame"))
                return html(framePage);
            return html("<input id=one type=file accept='text/plain,image/png'>"
                        "<input id=many type=file multiple accept='.txt,.png'>"
                        "<iframe id=same src='/frame' onload='framesLoaded++'></iframe>"
                        "<iframe id=written srcdoc=\""
                        + framePage
                        + "\" onload='framesLoaded++'></iframe>"
                          "<script>window.framesLoaded = window.framesLoaded || 0;</script>");
        });
        QVERIFY(m_origin->listen());
    }

    void cleanup()
    {
        m_view.reset();
        m_origin.reset();
    }

    void mainFrameInputsOfferAudioAndVideoOnly_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<bool>("multiple");
        QTest::addColumn<QStringList>("chosen");
        QTest::addColumn<QStringList>("given");
        QTest::newRow("several allowed, text and image left out")
            << "many" << true << QStringList{"voice.m4a", "notes.txt", "clip.mp4", "photo.png", "song.mp3"}
            << QStringList{"voice.m4a", "clip.mp4", "song.mp3"};
        QTest::newRow("one allowed") << "one" << false << QStringList{"clip.mp4", "voice.m4a"} << QStringList{"clip.mp4"};
        QTest::newRow("one allowed, text named first")
            << "one" << false << QStringList{"notes.txt", "voice.m4a"} << QStringList{"voice.m4a"};
        QTest::newRow("only what the input asked for") << "one" << false << QStringList{"notes.txt"} << QStringList{};
        QTest::newRow("cancelled") << "many" << true << QStringList{} << QStringList{};
    }
    void mainFrameInputsOfferAudioAndVideoOnly()
    {
        QFETCH(QString, input);
        QFETCH(bool, multiple);
        QFETCH(QStringList, chosen);
        QFETCH(QStringList, given);
        QVERIFY(openPage(&m_panel));
        QSignalSpy answered(coordinator()->fileInputPanel(), &workspace::FileInputPanel::answered);
        for (const QString &name : std::as_const(chosen))
            m_panel.answer.append(file(name));
        click(input);
        QVERIFY2(answered.wait(patience), "the input's request was not answered");
        QCOMPARE(m_panel.requests.size(), 1);
        const platform::FilePanelRequest request = m_panel.requests.first();
        QCOMPARE(request.multiple, multiple);
        QCOMPARE(request.title, workspace::mediaPanelTitle);
        QCOMPARE(request.prompt, workspace::mediaPanelPrompt);
        QCOMPARE(request.filterName, workspace::mediaFilterName);
        for (const char *pattern : {"*.m4a", "*.mp3", "*.mp4", "*.webm", "*.wav", "*.mov"})
            QVERIFY2(request.namePatterns.contains(QLatin1String(pattern)), pattern);
        for (const char *pattern : {"*.txt", "*.png", "*.pdf", "*.html"})
            QVERIFY2(!request.namePatterns.contains(QLatin1String(pattern)), pattern);
        QCOMPARE(answered.first().at(0).toBool(), true);
        QStringList paths;
        for (const QString &name : std::as_const(given))
            paths.append(file(name));
        QCOMPARE(answered.first().at(1).toStringList(), paths);
        QTRY_COMPARE_WITH_TIMEOUT(filesOf(input), given, patience);
    }

    void embeddedFramesGetNoPanel_data()
    {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<bool>("byScript");
        // Frames of other origins are not loaded at all (the navigation policy).
        QTest::newRow("frame loaded from the page's origin, clicked") << "same" << false;
        QTest::newRow("frame written by the page, clicked") << "written" << false;
        QTest::newRow("frame loaded from the page's origin, opened by its script") << "same" << true;
        QTest::newRow("frame written by the page, opened by its script") << "written" << true;
    }
    void embeddedFramesGetNoPanel()
    {
        QFETCH(QString, frame);
        QFETCH(bool, byScript);
        QVERIFY(openPage(&m_panel));
        QSignalSpy answered(coordinator()->fileInputPanel(), &workspace::FileInputPanel::answered);
        m_panel.answer = {file("voice.m4a")};
        // The input at the frame's top left, or the button below it.
        clickInFrame(frame, 20, byScript ? 60 : 20);
        if (byScript) {
            // The engine asks; nothing vouches for the request, which is refused.
            QVERIFY2(answered.wait(patience), "the frame's request was not answered");
            QCOMPARE(answered.first().at(0).toBool(), false);
            QCOMPARE(answered.first().at(1).toStringList(), QStringList());
        }
        // The main frame's input, clicked next, is served: the frame's click came first and
        // opened nothing.
        click("one");
        QVERIFY2(QTest::qWaitFor([&] { return answered.size() == (byScript ? 2 : 1); }, patience),
                 "the main frame's request was not answered");
        QCOMPARE(m_panel.requests.size(), 1);
        QCOMPARE(m_panel.requests.first().multiple, false);
        QCOMPARE(answered.last().at(0).toBool(), true);
        QTRY_COMPARE_WITH_TIMEOUT(filesOf("one"), QStringList{"voice.m4a"}, patience);
    }

    void scriptPickersGetNothing_data()
    {
        QTest::addColumn<QString>("picker");
        QTest::newRow("a place to save") << "showSaveFilePicker()";
        QTest::newRow("files to open") << "showOpenFilePicker()";
        QTest::newRow("a folder") << "showDirectoryPicker()";
    }
    void scriptPickersGetNothing()
    {
        QFETCH(QString, picker);
        QVERIFY(openPage(&m_panel));
        QSignalSpy answered(coordinator()->fileInputPanel(), &workspace::FileInputPanel::answered);
        m_panel.answer = {file("voice.m4a")};
        evaluate(coordinator(),
                 QStringLiteral("window.pickerOutcome = 'pending';"
                                "const pick = document.createElement('button');"
                                "pick.id = 'pick'; pick.textContent = 'pick';"
                                "pick.onclick = () => window.%1.then(() => { window.pickerOutcome = 'chosen'; },"
                                " (e) => { window.pickerOutcome = e.name; });"
                                "document.body.prepend(pick);")
                     .arg(picker));
        // The user's click lets the page open a picker. On a loaded machine the engine may
        // let the click's activation lapse before the handler runs (NotAllowedError, and the
        // request never reaches Velmora); such a click is made again.
        for (int attempt = 0; attempt < 5 && answered.isEmpty(); ++attempt) {
            evaluate(coordinator(), QStringLiteral("window.pickerOutcome = 'pending';"));
            click("pick");
            QTRY_VERIFY_WITH_TIMEOUT(!answered.isEmpty()
                                         || evaluate(coordinator(), "window.pickerOutcome").toString()
                                                == QLatin1String("NotAllowedError"),
                                     patience);
        }
        QVERIFY2(!answered.isEmpty(), qPrintable(evaluate(coordinator(), "window.pickerOutcome").toString()));
        QCOMPARE(answered.first().at(0).toBool(), false);
        QTRY_COMPARE_WITH_TIMEOUT(evaluate(coordinator(), "window.pickerOutcome").toString(), QStringLiteral("AbortError"),
                                  patience);
        QVERIFY(m_panel.requests.isEmpty());
    }

    void theDesktopsFilePanel()
    {
        QVERIFY(openPage(nullptr));
        QSignalSpy answered(coordinator()->fileInputPanel(), &workspace::FileInputPanel::answered);
        // The request waits for the panel in a loop of its own: the user acts from there.
        QFileDialog *seen = nullptr;
        QTimer user;
        connect(&user, &QTimer::timeout, this, [&] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                auto *panel = qobject_cast<QFileDialog *>(w);
                if (!panel || w->objectName() != QLatin1String("velmora.filePanel") || !w->isVisible())
                    continue;
                user.stop();
                seen = panel;
                QCOMPARE(panel->windowTitle(), workspace::mediaPanelTitle);
                QCOMPARE(panel->windowModality(), Qt::NonModal);
                QVERIFY(panel->parentWidget() == nullptr);
                QCOMPARE(panel->fileMode(), QFileDialog::ExistingFiles);
                QCOMPARE(panel->labelText(QFileDialog::Accept), workspace::mediaPanelPrompt);
                QVERIFY(panel->nameFilters().value(0).startsWith(workspace::mediaFilterName + " ("));
                panel->setDirectory(m_files->path());
                panel->selectFile(QStringLiteral("\"clip.mp4\" \"song.mp3\""));
                QMetaObject::invokeMethod(panel, "accept", Qt::QueuedConnection);
            }
        });
        user.start(10);
        click("many");
        QVERIFY2(answered.wait(patience), "the input's request was not answered");
        QVERIFY(seen);
        QCOMPARE(answered.first().at(1).toStringList(), (QStringList{file("clip.mp4"), file("song.mp3")}));
        QTRY_COMPARE_WITH_TIMEOUT(filesOf("many"), (QStringList{"clip.mp4", "song.mp3"}), patience);
    }
};

int main(int argc, char *argv[])
{
    // The web view draws as it does in velmora.
    velmora::app::prepareDrawing(argc, argv);
    // Qt's own panels, which a test can reach, even where a desktop's would be shown.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    TestFileInputs test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_fileinputs.moc"
