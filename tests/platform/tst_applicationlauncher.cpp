#include "TestSupport.h"

#include "platform/ApplicationLauncher.h"
#include "platform/DesktopEntry.h"

#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

using namespace velmora;
using platform::DesktopEntry;

Q_DECLARE_METATYPE(std::optional<QStringList>)

namespace {

// XDG_DATA_HOME and XDG_DATA_DIRS pointed at two empty folders of a temporary folder for as
// long as it lives, so only the entries a test stages there are found.
struct StagedApplications
{
    QTemporaryDir dir;
    QByteArray savedHome = qgetenv("XDG_DATA_HOME");
    QByteArray savedDirs = qgetenv("XDG_DATA_DIRS");

    StagedApplications()
    {
        QDir().mkpath(dir.filePath("home/applications"));
        QDir().mkpath(dir.filePath("system/applications"));
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath("home")));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(dir.filePath("system")));
    }
    ~StagedApplications()
    {
        savedHome.isNull() ? qunsetenv("XDG_DATA_HOME") : qputenv("XDG_DATA_HOME", savedHome);
        savedDirs.isNull() ? qunsetenv("XDG_DATA_DIRS") : qputenv("XDG_DATA_DIRS", savedDirs);
    }

    // An entry under folder ("home" or "system") whose program records how it was started
    // into the file marker.
    bool stage(const QString &folder, const QString &id, const QByteArray &extraLines = {},
               const QByteArray &arguments = "%U") const
    {
        const QByteArray entry = "[Desktop Entry]\nType=Application\nName=Recorder\n"
                                 "Exec=\""
                                 + QFile::encodeName(test::helperProgram("record_arguments")) + "\" \""
                                 + QFile::encodeName(marker()) + "\" " + arguments + "\n" + extraLines;
        return test::writeFile(dir.filePath(folder + "/applications/" + id + ".desktop"), entry);
    }
    QString marker() const { return dir.filePath("started"); }
};

} // namespace

class TestApplicationLauncher : public QObject
{
    Q_OBJECT
private slots:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QString>("exec");
        QTest::addColumn<bool>("hidden");
        QTest::newRow("plain entry") << QByteArray("[Desktop Entry]\nType=Application\nExec=recorder %U\n") << true
                                     << "recorder %U" << false;
        QTest::newRow("comments, blank lines, spaces round the equals sign")
            << QByteArray("# made by hand\n\n[Desktop Entry]\r\nExec = recorder\r\n") << true << "recorder" << false;
        QTest::newRow("localised keys are ignored")
            << QByteArray("[Desktop Entry]\nExec[ko]=녹음기\nExec=recorder\n") << true << "recorder" << false;
        QTest::newRow("the first of repeated keys wins")
            << QByteArray("[Desktop Entry]\nExec=first\nExec=second\n") << true << "first" << false;
        QTest::newRow("other groups are not read")
            << QByteArray("[Desktop Action New]\nExec=action\n[Desktop Entry]\nExec=main\n") << true << "main" << false;
        QTest::newRow("a repeated group is not read again")
            << QByteArray("[Desktop Entry]\nExec=main\n[Desktop Entry]\nHidden=true\n") << true << "main" << false;
        QTest::newRow("value escapes") << QByteArray("[Desktop Entry]\nExec=a\\sb\\\\c\\t\n") << true << "a b\\c\t" << false;
        QTest::newRow("hidden") << QByteArray("[Desktop Entry]\nExec=x\nHidden=true\n") << true << "x" << true;
        QTest::newRow("no entry group") << QByteArray("[Something]\nExec=x\n") << false << "" << false;
        QTest::newRow("empty") << QByteArray() << false << "" << false;
        QTest::newRow("not text") << QByteArray("\xff\xfe\x00[Desktop", 10) << false << "" << false;
    }
    void parse()
    {
        QFETCH(QByteArray, data);
        QFETCH(bool, found);
        QFETCH(QString, exec);
        QFETCH(bool, hidden);
        const std::optional<DesktopEntry> entry = platform::parseDesktopEntry(data);
        QCOMPARE(entry.has_value(), found);
        if (entry) {
            QCOMPARE(entry->exec, exec);
            QCOMPARE(entry->hidden, hidden);
        }
    }

    void arguments_data()
    {
        QTest::addColumn<QString>("exec");
        QTest::addColumn<std::optional<QStringList>>("arguments");
        QTest::newRow("program alone") << "gnome-sound-recorder" << std::optional(QStringList{"gnome-sound-recorder"});
        QTest::newRow("file and URL codes dropped")
            << "recorder %f %F %u %U --new" << std::optional(QStringList{"recorder", "--new"});
        QTest::newRow("icon") << "recorder %i" << std::optional(QStringList{"recorder", "--icon", "audio-input"});
        QTest::newRow("name and entry file")
            << "recorder --title %c %k" << std::optional(QStringList{"recorder", "--title", "녹음기", "/apps/r.desktop"});
        QTest::newRow("percent sign") << "recorder 100%%" << std::optional(QStringList{"recorder", "100%"});
        QTest::newRow("deprecated codes") << "recorder %d %D %n %N %v %m" << std::optional(QStringList{"recorder"});
        QTest::newRow("quoted program with a space")
            << "\"/opt/My Recorder/bin/rec\" --x" << std::optional(QStringList{"/opt/My Recorder/bin/rec", "--x"});
        QTest::newRow("escapes inside quotes") << "sh -c \"echo \\\"\\$HOME\\\" \\\\ done\""
                                               << std::optional(QStringList{"sh", "-c", "echo \"$HOME\" \\ done"});
        QTest::newRow("empty quoted argument") << "recorder \"\"" << std::optional(QStringList{"recorder", ""});
        QTest::newRow("several spaces") << "  recorder   --x  " << std::optional(QStringList{"recorder", "--x"});
        QTest::newRow("flatpak run")
            << "/usr/bin/flatpak run --branch=stable --command=gnome-sound-recorder org.gnome.SoundRecorder"
            << std::optional(QStringList{"/usr/bin/flatpak", "run", "--branch=stable", "--command=gnome-sound-recorder",
                                         "org.gnome.SoundRecorder"});
        QTest::newRow("unterminated quote") << "recorder \"--x" << std::optional<QStringList>();
        QTest::newRow("backslash at the end") << "recorder \\" << std::optional<QStringList>();
        QTest::newRow("empty") << "" << std::optional<QStringList>();
        QTest::newRow("only a field code") << "%U" << std::optional<QStringList>();
    }
    void arguments()
    {
        QFETCH(QString, exec);
        QFETCH(std::optional<QStringList>, arguments);
        DesktopEntry entry;
        entry.exec = exec;
        entry.name = QStringLiteral("녹음기");
        entry.icon = QStringLiteral("audio-input");
        QCOMPARE(platform::execArguments(entry, QStringLiteral("/apps/r.desktop")), arguments);
    }

    void startsTheEntrysProgramDetached_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QByteArray>("extraLines");
        QTest::newRow("in the data dirs") << "system" << QByteArray();
        QTest::newRow("in the data home") << "home" << QByteArray();
        QTest::newRow("with a working folder") << "system" << QByteArray("Path=/\n");
    }
    void startsTheEntrysProgramDetached()
    {
        QFETCH(QString, folder);
        QFETCH(QByteArray, extraLines);
        StagedApplications apps;
        QVERIFY(apps.stage(folder, "org.gnome.SoundRecorder", extraLines, "%U --gapplication-service"));
        QVERIFY(platform::ApplicationLauncher::system().openApplication("org.gnome.SoundRecorder"));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(apps.marker()), test::patience);
        const QStringList lines = QString::fromUtf8(test::readFile(apps.marker())).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.mid(1), QStringList{"--gapplication-service"});
        if (extraLines.startsWith("Path="))
            QCOMPARE(lines.value(0), QStringLiteral("/"));
    }

    void dataHomeComesBeforeTheDataDirs()
    {
        StagedApplications apps;
        QVERIFY(apps.stage("system", "org.gnome.SoundRecorder", {}, "system"));
        QVERIFY(apps.stage("home", "org.gnome.SoundRecorder", {}, "home"));
        QCOMPARE(platform::ApplicationLauncher::desktopEntryFile("org.gnome.SoundRecorder"),
                 apps.dir.filePath("home/applications/org.gnome.SoundRecorder.desktop"));
        QVERIFY(platform::ApplicationLauncher::system().openApplication("org.gnome.SoundRecorder"));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(apps.marker()), test::patience);
        QVERIFY(test::readFile(apps.marker()).endsWith("\nhome\n"));
    }

    void startedProgramWritesToNoTerminal()
    {
        // Whatever the recorder prints is its own: it never reaches the terminal Velmora runs in.
        StagedApplications apps;
        QVERIFY(test::writeFile(apps.dir.filePath("home/applications/org.gnome.SoundRecorder.desktop"),
                                "[Desktop Entry]\nType=Application\nName=Recorder\nExec=\""
                                    + QFile::encodeName(test::helperProgram("record_streams")) + "\"\n"));
        const QString streams = apps.dir.filePath("streams");
        qputenv("VELMORA_STREAMS_FILE", QFile::encodeName(streams));
        auto restore = qScopeGuard([] { qunsetenv("VELMORA_STREAMS_FILE"); });
        QVERIFY(platform::ApplicationLauncher::system().openApplication("org.gnome.SoundRecorder"));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(streams), test::patience);
        QCOMPARE(QString::fromUtf8(test::readFile(streams)).split('\n', Qt::SkipEmptyParts),
                 QStringList({"/dev/null", "/dev/null", "/dev/null"}));
    }

    void entriesThatDoNotCount_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QByteArray>("entry");
        const QByteArray program = QFile::encodeName(test::helperProgram("record_arguments"));
        QTest::newRow("not installed") << "org.gnome.SoundRecorder" << QByteArray();
        QTest::newRow("hidden") << "org.gnome.SoundRecorder"
                                << "[Desktop Entry]\nType=Application\nExec=" + program + "\nHidden=true\n";
        QTest::newRow("a link, not an application")
            << "org.gnome.SoundRecorder" << QByteArray("[Desktop Entry]\nType=Link\nURL=https://example.org\n");
        QTest::newRow("TryExec program missing")
            << "org.gnome.SoundRecorder"
            << "[Desktop Entry]\nType=Application\nTryExec=/nonexistent/recorder\nExec=" + program + "\n";
        QTest::newRow("program missing") << "org.gnome.SoundRecorder"
                                         << QByteArray("[Desktop Entry]\nType=Application\nExec=/nonexistent/recorder\n");
        QTest::newRow("no Exec") << "org.gnome.SoundRecorder" << QByteArray("[Desktop Entry]\nType=Application\n");
        QTest::newRow("an id that is a path") << "../applications/org.gnome.SoundRecorder"
                                              << "[Desktop Entry]\nType=Application\nExec=" + program + "\n";
    }
    void entriesThatDoNotCount()
    {
        QFETCH(QString, id);
        QFETCH(QByteArray, entry);
        StagedApplications apps;
        if (!entry.isEmpty())
            QVERIFY(test::writeFile(apps.dir.filePath("system/applications/org.gnome.SoundRecorder.desktop"), entry));
        QVERIFY(!platform::ApplicationLauncher::system().openApplication(id));
    }
};

QTEST_GUILESS_MAIN(TestApplicationLauncher)
#include "tst_applicationlauncher.moc"
