// The folder, save and file panels are the desktop's own where Qt's platform theme has them
// (here GTK's, on an X server of the test's own), and Qt's own panels under the tests' setting
// Qt::AA_DontUseNativeDialogs.
#include "TestSupport.h"
#include "VirtualDisplay.h"

#include "platform/FilePanel.h"
#include "platform/FolderPanel.h"
#include "platform/SavePanel.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <optional>

using namespace velmora;
using test::patience;

namespace {

QFileDialog *shownPanel(const QString &name)
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->objectName() == name && w->isVisible())
            return qobject_cast<QFileDialog *>(w);
    }
    return nullptr;
}

} // namespace

class TestDesktopPanels : public QObject
{
    Q_OBJECT

    // Opens one kind of panel and returns its name; done is told when it answers.
    using Opening = std::function<QString(const QString &startFolder, std::function<void()> done)>;

private slots:
    void panels_data()
    {
        QTest::addColumn<bool>("testSetting");
        QTest::addColumn<QString>("kind");
        for (const bool setting : {false, true}) {
            for (const char *kind : {"folder", "save", "file"}) {
                QTest::addRow("%s panel, %s", kind, setting ? "Qt's own under the tests' setting" : "the desktop's")
                    << setting << QString::fromLatin1(kind);
            }
        }
    }

    void panels()
    {
        QFETCH(bool, testSetting);
        QFETCH(QString, kind);
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs, testSetting);
        QTemporaryDir start;
        bool answered = false;
        QString name;
        if (kind == "folder") {
            platform::FolderPanelRequest request;
            request.title = QStringLiteral("폴더 선택");
            request.message = QStringLiteral("폴더를 고르세요.");
            request.prompt = QStringLiteral("이 폴더 사용");
            request.startFolder = start.path();
            platform::FolderPanel::system().chooseFolder(request, [&](std::optional<QString>) { answered = true; });
            name = QStringLiteral("velmora.folderPanel");
        } else if (kind == "save") {
            platform::SavePanelRequest request;
            request.title = QStringLiteral("파일 저장");
            request.prompt = QStringLiteral("저장");
            request.suggestedName = QStringLiteral("회의.txt");
            request.startFolder = start.path();
            platform::SavePanel::system().chooseDestination(request, [&](std::optional<QString>) { answered = true; });
            name = QStringLiteral("velmora.savePanel");
        } else {
            platform::FilePanelRequest request;
            request.title = QStringLiteral("파일 선택");
            request.prompt = QStringLiteral("열기");
            request.filterName = QStringLiteral("오디오");
            request.namePatterns = {QStringLiteral("*.m4a")};
            platform::FilePanel::system().chooseFiles(request, [&](QStringList) { answered = true; });
            name = QStringLiteral("velmora.filePanel");
        }
        QFileDialog *panel = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((panel = shownPanel(name)) != nullptr, patience);
        QCOMPARE(platform::FolderPanel::drawnByDesktop(panel), !testSetting);
        if (kind != "file")
            QCOMPARE(QDir(panel->directory()).canonicalPath(), QDir(start.path()).canonicalPath());
        if (kind == "folder") {
            // Only Qt's own panel has a place for the message.
            auto *message = panel->findChild<QLabel *>(QStringLiteral("velmora.folderPanel.message"));
            QCOMPARE(message != nullptr, testSetting);
        }
        panel->reject();
        QTRY_VERIFY_WITH_TIMEOUT(answered, patience);
    }

    void aMissingStartFolderOpensTheHomeFolder()
    {
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs, true);
        QCOMPARE(platform::panelStartFolder(QStringLiteral("/nonexistent/Downloads")), QDir::homePath());
        QCOMPARE(platform::panelStartFolder(QString()), QDir::homePath());
        QCOMPARE(platform::panelStartFolder(QDir::tempPath()), QDir::tempPath());
    }
};

int main(int argc, char *argv[])
{
    // GTK's panels, through Qt's GTK platform theme, on a display of the test's own.
    test::VirtualDisplay display;
    if (!display.isRunning()) {
        qCritical("could not start a virtual X server");
        return 1;
    }
    qputenv("QT_QPA_PLATFORMTHEME", "gtk3");
    // GTK keeps its panel settings in memory rather than asking a settings service.
    qputenv("GSETTINGS_BACKEND", "memory");
    QApplication app(argc, argv);
    TestDesktopPanels test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desktoppanels.moc"
