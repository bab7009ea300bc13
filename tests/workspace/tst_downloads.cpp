#include "DownloadDoubles.h"
#include "PageLoad.h"
#include "PageScript.h"
#include "RecordingUrlOpener.h"
#include "TestSupport.h"

#include "app/Drawing.h"
#include "workspace/DownloadSaver.h"
#include "workspace/SettingsKeys.h"
#include "workspace/Texts.h"
#include "workspace/WorkspaceView.h"
#include "workspace/WorkspaceViewCoordinator.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <algorithm>
#include <memory>

using namespace velmora;
using test::evaluate;
using test::patience;
using workspace::WorkspaceView;

namespace {

// A body large enough that the engine cannot have it all before it is paused.
const QByteArray largeBody = QByteArray("0123456789abcdef").repeated(256 * 1024);

QByteArray smallBody(const QString &name)
{
    return "the content of " + name.toUtf8() + "\n";
}

test::HttpReply attachment(const QString &name, const QByteArray &body)
{
    return test::HttpReply{200,
                           body,
                           {{"Content-Type", "application/octet-stream"},
                            {"Content-Disposition", "attachment; filename=\"" + name.toUtf8() + "\""}},
                           false};
}

// The names in folder and below it, relative to it, sorted.
QStringList contents(const QString &folder)
{
    QStringList names;
    QDir dir(folder);
    for (const QFileInfo &entry : dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
        names.append(entry.fileName());
        if (entry.isDir()) {
            for (const QString &inner : contents(entry.filePath()))
                names.append(entry.fileName() + QLatin1Char('/') + inner);
        }
    }
    names.sort();
    return names;
}

} // namespace

class TestDownloads : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::LoopbackHttpServer> m_origin;
    std::unique_ptr<test::TemporarySettings> m_settings;
    std::unique_ptr<QTemporaryDir> m_folders;
    test::RecordingUrlOpener m_opener;
    test::AnsweringSavePanel m_panel;
    test::RecordingAlert m_alert;
    std::unique_ptr<WorkspaceView> m_view;

    // Where the user saves; holds a file of the user's own from the start.
    QString destinations() const { return m_folders->filePath("chosen"); }
    QString destination(const QString &name) const { return destinations() + QLatin1Char('/') + name; }
    QString staging() const { return m_folders->filePath("staging"); }
    const QStringList usersOwnFiles{"Transcript.txt", "keep.txt"};

    WorkspaceView::Coordinator *coordinator() const { return m_view->coordinator(); }
    workspace::DownloadSaver *saver() const { return coordinator()->downloadSaver(); }

    bool openPage(platform::SavePanel *panel, platform::Alert *alert)
    {
        workspace::WorkspaceViewDependencies deps;
        deps.opener = &m_opener;
        deps.downloads.savePanel = panel;
        deps.downloads.alert = alert;
        deps.downloads.stagingFolder = staging();
        m_view = std::make_unique<WorkspaceView>(m_origin->url("/"), deps);
        return test::showAndWaitForLoad(*m_view, QSize(640, 480));
    }

    bool openPage() { return openPage(&m_panel, &m_alert); }

    // Starts the download of path as a script jump does; waits for its panel (the count-th).
    bool download(const QString &path, int count = 1)
    {
        evaluate(coordinator(), QStringLiteral("location.href = '%1'").arg(path));
        return QTest::qWaitFor([&] { return m_panel.requests.size() >= count; }, patience);
    }

    // No file of any download is left but what stands at a chosen place. (The engine may leave
    // an empty folder of a cancelled transfer behind until the next download starts.)
    bool stagingIsEmpty() const
    {
        const QStringList names = contents(staging());
        return std::none_of(names.cbegin(), names.cend(),
                            [this](const QString &name) { return QFileInfo(staging() + '/' + name).isFile(); });
    }

private slots:
    void init()
    {
        m_settings = std::make_unique<test::TemporarySettings>();
        m_folders = std::make_unique<QTemporaryDir>();
        QVERIFY(m_folders->isValid());
        for (const QString &name : usersOwnFiles)
            QVERIFY(test::writeFile(destination(name), "the user's own " + name.toUtf8()));
        m_panel = {};
        m_alert = {};
        m_origin = std::make_unique<test::LoopbackHttpServer>();
        m_origin->setHandler([](const QByteArray &, const QString &path) {
            const QString name = QUrl::fromPercentEncoding(path.section(QLatin1Char('/'), -1).toUtf8());
            if (path.startsWith(QLatin1String("/files/")))
                return attachment(name, smallBody(name));
            if (path.startsWith(QLatin1String("/large/")))
                return attachment(name, largeBody);
            if (path.startsWith(QLatin1String("/broken/"))) {
                test::HttpReply reply = attachment(name, largeBody);
                reply.sendOnly = largeBody.size() / 3;
                return reply;
            }
            if (path.startsWith(QLatin1String("/held/"))) {
                test::HttpReply reply = attachment(name, largeBody);
                reply.sendOnly = largeBody.size() / 3;
                reply.held = true;
                return reply;
            }
            return test::HttpReply{
                200, "<!doctype html><meta charset=utf-8><body>page", {{"Content-Type", "text/html; charset=utf-8"}}, false};
        });
        QVERIFY(m_origin->listen());
    }

    void cleanup()
    {
        m_view.reset();
        m_origin.reset();
        m_settings.reset();
        m_folders.reset();
    }

    void thePanelHoldsTheSuggestedNameAndStartsTextFilesInTheSaveDirectory_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("name");
        // "saved": the stored folder; "downloads": the user's Downloads folder; empty: the
        // panel's own default.
        QTest::addColumn<QString>("start");
        QTest::newRow("subtitles written SRT") << QVariant("saved") << "Lecture.SRT"
                                               << "saved";
        QTest::newRow("markdown") << QVariant("saved") << "summary.md"
                                  << "saved";
        QTest::newRow("audio") << QVariant("saved") << "voice.m4a"
                               << "";
        QTest::newRow("no extension") << QVariant("saved") << "README"
                                      << "";
        QTest::newRow("text, nothing stored") << QVariant() << "notes.txt"
                                              << "downloads";
        QTest::newRow("text, empty string stored") << QVariant("") << "notes.vtt"
                                                   << "downloads";
    }
    void thePanelHoldsTheSuggestedNameAndStartsTextFilesInTheSaveDirectory()
    {
        QFETCH(QVariant, stored);
        QFETCH(QString, name);
        QFETCH(QString, start);
        const QString saved = m_folders->filePath("texts");
        QVERIFY(QDir().mkpath(saved));
        if (stored.isValid())
            QSettings().setValue(workspace::textSaveDirectoryKey, stored == QVariant("saved") ? saved : QString());
        // The user's Downloads folder, or the home folder on a system without one.
        QString downloads = QStandardPaths::standardLocations(QStandardPaths::DownloadLocation).value(0);
        QVERIFY(!downloads.isEmpty());
        if (!QFileInfo(downloads).isDir())
            downloads = QDir::homePath();
        QVERIFY(openPage());
        QVERIFY(download("/files/" + name));
        const platform::SavePanelRequest request = m_panel.requests.first();
        QCOMPARE(request.suggestedName, name);
        QCOMPARE(request.startFolder, start == "saved" ? saved : start == "downloads" ? downloads : QString());
        QCOMPARE(request.title, workspace::savePanelTitle);
        QCOMPARE(request.prompt, workspace::savePanelPrompt);
        // The page stays where it was.
        QCOMPARE(coordinator()->url(), m_origin->url("/"));
    }

    void theDownloadStandsCompleteAtTheChosenPlace_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("chosenName");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("small file, complete before the user chose") << "/files/Transcript.txt"
                                                                    << "Lecture notes.txt" << smallBody("Transcript.txt");
        QTest::newRow("large file, paused until the user chose") << "/large/recording.m4a"
                                                                 << "녹음.m4a" << largeBody;
        QTest::newRow("over a file of the user's") << "/files/Transcript.txt"
                                                   << "keep.txt" << smallBody("Transcript.txt");
    }
    void theDownloadStandsCompleteAtTheChosenPlace()
    {
        QFETCH(QString, path);
        QFETCH(QString, chosenName);
        QFETCH(QByteArray, content);
        QVERIFY(openPage());
        QSignalSpy saved(saver(), &workspace::DownloadSaver::saved);
        QVERIFY(download(path));
        m_panel.answer(0, destination(chosenName));
        QVERIFY2(saved.wait(patience), "the download was not saved");
        QCOMPARE(saved.first().first().toString(), destination(chosenName));
        QCOMPARE(test::readFile(destination(chosenName)), content);
        // Nothing beside the chosen file changed: no other name, no file of the user's.
        QStringList expected = usersOwnFiles;
        if (!expected.contains(chosenName))
            expected.append(chosenName);
        expected.sort();
        QCOMPARE(contents(destinations()), expected);
        for (const QString &name : usersOwnFiles) {
            if (name != chosenName)
                QCOMPARE(test::readFile(destination(name)), "the user's own " + name.toUtf8());
        }
        QVERIFY(stagingIsEmpty());
        QVERIFY(m_alert.shown.isEmpty());
    }

    void aCancelledPanelEndsTheDownloadQuietly_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("small file") << "/files/notes.txt";
        QTest::newRow("large file") << "/large/video.mp4";
        QTest::newRow("broken transfer") << "/broken/video.mp4";
        QTest::newRow("transfer broken while the panel is open") << "/held/video.mp4";
    }
    void aCancelledPanelEndsTheDownloadQuietly()
    {
        QFETCH(QString, path);
        QVERIFY(openPage());
        QSignalSpy cancelled(saver(), &workspace::DownloadSaver::cancelled);
        QSignalSpy failed(saver(), &workspace::DownloadSaver::failed);
        QVERIFY(download(path));
        if (path.startsWith(QLatin1String("/held/"))) {
            QVERIFY2(QTest::qWaitFor([&] { return m_origin->heldTransfers() == 1; }, patience),
                     "the transfer did not begin");
            m_origin->breakHeldTransfers();
            QVERIFY2(QTest::qWaitFor([&] { return m_origin->heldTransfers() == 0; }, patience),
                     "the connection was not closed");
        }
        m_panel.answer(0, std::nullopt);
        QVERIFY(cancelled.size() == 1 || cancelled.wait(patience));
        test::drainEvents();
        QVERIFY(m_alert.shown.isEmpty());
        QVERIFY(failed.isEmpty());
        QCOMPARE(contents(destinations()), usersOwnFiles);
        QTRY_VERIFY_WITH_TIMEOUT(stagingIsEmpty(), patience);
    }

    void aFailureShowsOneAlertAndLeavesNoPartAtTheChosenPlace_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("chosen");
        // When the connection breaks: before the user has chosen, or after.
        QTest::addColumn<bool>("breakFirst");
        QTest::addColumn<QString>("description");
        QTest::newRow("connection closed while the panel was open")
            << "/held/video.mp4"
            << "video.mp4" << true << workspace::downloadConnectionBrokenText;
        QTest::newRow("connection closed at once") << "/broken/video.mp4"
                                                   << "video.mp4" << false << workspace::downloadConnectionBrokenText;
        QTest::newRow("connection closed after the user chose")
            << "/held/video.mp4"
            << "video.mp4" << false << workspace::downloadConnectionBrokenText;
        QTest::newRow("connection closed over a file of the user's")
            << "/held/keep.txt"
            << "keep.txt" << false << workspace::downloadConnectionBrokenText;
        QTest::newRow("chosen folder missing")
            << "/files/notes.txt"
            << "missing/notes.txt" << false
            << workspace::downloadNotPlacedText + QStringLiteral(" (") + qt_error_string(ENOENT) + QLatin1Char(')');
        QTest::newRow("chosen name is a folder")
            << "/files/notes.txt"
            << "folder.txt" << false
            << workspace::downloadNotPlacedText + QStringLiteral(" (") + qt_error_string(EISDIR) + QLatin1Char(')');
    }
    void aFailureShowsOneAlertAndLeavesNoPartAtTheChosenPlace()
    {
        QFETCH(QString, path);
        QFETCH(QString, chosen);
        QFETCH(bool, breakFirst);
        QFETCH(QString, description);
        QVERIFY(QDir().mkpath(destination("folder.txt")));
        const QStringList before = contents(destinations());
        const QByteArray oldContent = test::readFile(destination(chosen));
        QVERIFY(openPage());
        QSignalSpy failed(saver(), &workspace::DownloadSaver::failed);
        QVERIFY(download(path));
        const bool held = path.startsWith(QLatin1String("/held/"));
        if (held) {
            QVERIFY2(QTest::qWaitFor([&] { return m_origin->heldTransfers() == 1; }, patience),
                     "the transfer did not begin");
        }
        if (held && breakFirst) {
            m_origin->breakHeldTransfers();
            QVERIFY2(QTest::qWaitFor([&] { return m_origin->heldTransfers() == 0; }, patience),
                     "the connection was not closed");
        }
        m_panel.answer(0, destination(chosen));
        if (held && !breakFirst)
            m_origin->breakHeldTransfers();
        QVERIFY2(failed.size() == 1 || failed.wait(patience), "no failure was reported");
        test::drainEvents();
        QCOMPARE(m_alert.shown.size(), 1);
        QCOMPARE(m_alert.shown.first().message, workspace::downloadFailedMessage);
        QCOMPARE(m_alert.shown.first().informativeText, description);
        QCOMPARE(m_alert.shown.first().window, m_view->window());
        QCOMPARE(failed.size(), 1);
        // What stood at the chosen place before stands there still, and nothing else came.
        QCOMPARE(contents(destinations()), before);
        QCOMPARE(test::readFile(destination(chosen)), oldContent);
        QTRY_VERIFY_WITH_TIMEOUT(stagingIsEmpty(), patience);
    }

    void eachDownloadHasItsOwnPanelAndItsOwnAlert()
    {
        QVERIFY(openPage());
        QSignalSpy failed(saver(), &workspace::DownloadSaver::failed);
        QSignalSpy saved(saver(), &workspace::DownloadSaver::saved);
        QVERIFY(download("/held/first.mp4", 1));
        QVERIFY(download("/held/second.mp4", 2));
        QVERIFY(download("/files/third.txt", 3));
        QVERIFY(QTest::qWaitFor([&] { return m_origin->heldTransfers() == 2; }, patience));
        // The panels end in another order than they opened.
        m_panel.answer(2, destination("third.txt"));
        m_panel.answer(1, destination("second.mp4"));
        m_panel.answer(0, destination("first.mp4"));
        m_origin->breakHeldTransfers();
        QVERIFY(QTest::qWaitFor([&] { return failed.size() == 2 && saved.size() == 1; }, patience));
        test::drainEvents();
        QCOMPARE(m_alert.shown.size(), 2);
        QCOMPARE(test::readFile(destination("third.txt")), smallBody("third.txt"));
        QVERIFY(!QFileInfo::exists(destination("first.mp4")));
        QVERIFY(!QFileInfo::exists(destination("second.mp4")));
        QTRY_VERIFY_WITH_TIMEOUT(stagingIsEmpty(), patience);
    }

    void aPanelThatEndsAfterItsPageHasGoneDoesNothing()
    {
        QVERIFY(openPage());
        QVERIFY(download("/files/notes.txt"));
        m_view.reset();
        m_panel.answer(0, destination("notes.txt"));
        test::drainEvents();
        QVERIFY(!QFileInfo::exists(destination("notes.txt")));
        QVERIFY(m_alert.shown.isEmpty());
        QVERIFY(stagingIsEmpty());
    }

    void theDesktopsSavePanelAndAlert()
    {
        const QString saved = m_folders->filePath("texts");
        QVERIFY(QDir().mkpath(saved));
        QSettings().setValue(workspace::textSaveDirectoryKey, saved);
        QVERIFY(openPage(nullptr, nullptr));
        QSignalSpy done(saver(), &workspace::DownloadSaver::saved);
        const auto findPanel = [] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                if (w->objectName() == QLatin1String("velmora.savePanel") && w->isVisible())
                    return qobject_cast<QFileDialog *>(w);
            }
            return static_cast<QFileDialog *>(nullptr);
        };
        evaluate(coordinator(), QStringLiteral("location.href = '/files/자막.srt'"));
        QFileDialog *panel = nullptr;
        QVERIFY2(QTest::qWaitFor([&] { return (panel = findPanel()) != nullptr; }, patience), "no save panel");
        QCOMPARE(panel->windowTitle(), workspace::savePanelTitle);
        QCOMPARE(panel->windowModality(), Qt::NonModal);
        QVERIFY(panel->parentWidget() == nullptr);
        QCOMPARE(panel->acceptMode(), QFileDialog::AcceptSave);
        QCOMPARE(panel->labelText(QFileDialog::Accept), workspace::savePanelPrompt);
        QCOMPARE(panel->directory().absolutePath(), saved);
        QCOMPARE(panel->selectedFiles(), QStringList{saved + "/자막.srt"});
        // The user saves it where the panel proposes.
        static_cast<QDialog *>(panel)->accept();
        QVERIFY(done.wait(patience));
        QCOMPARE(test::readFile(saved + "/자막.srt"), smallBody("자막.srt"));
        QTRY_VERIFY_WITH_TIMEOUT(findPanel() == nullptr, patience);

        // A second one breaks off after the user chose its place: the desktop's alert says so.
        evaluate(coordinator(), QStringLiteral("location.href = '/held/video.mp4'"));
        QVERIFY2(QTest::qWaitFor([&] { return (panel = findPanel()) != nullptr; }, patience), "no save panel");
        QVERIFY2(QTest::qWaitFor([&] { return m_origin->heldTransfers() == 1; }, patience), "the transfer did not begin");
        panel->selectFile(destination("video.mp4"));
        static_cast<QDialog *>(panel)->accept();
        m_origin->breakHeldTransfers();
        QMessageBox *alert = nullptr;
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         for (QWidget *w : QApplication::topLevelWidgets()) {
                             if (w->objectName() == QLatin1String("velmora.alert") && w->isVisible())
                                 alert = qobject_cast<QMessageBox *>(w);
                         }
                         return alert != nullptr;
                     },
                     patience),
                 "no alert");
        QCOMPARE(alert->text(), workspace::downloadFailedMessage);
        QCOMPARE(alert->informativeText(), workspace::downloadConnectionBrokenText);
        QCOMPARE(alert->windowModality(), Qt::ApplicationModal);
        QCOMPARE(alert->buttons().size(), 1);
        QVERIFY(alert->defaultButton() == alert->button(QMessageBox::Ok));
        QCOMPARE(alert->parentWidget(), m_view->window());
        alert->button(QMessageBox::Ok)->click();
        QVERIFY(!QFileInfo::exists(destination("video.mp4")));
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
    TestDownloads test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_downloads.moc"
