#include "RecordingUrlOpener.h"
#include "TestSupport.h"

#include "platform/FileRevealer.h"
#include "platform/UrlOpener.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QGuiApplication>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

using namespace velmora;
using test::patience;

namespace {

// A file manager on the test's own session bus that shows nothing, only records.
class FakeFileManager
    : public QObject
    , protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QList<QStringList> shown;
    bool failing = false;

public slots:
    Q_SCRIPTABLE void ShowItems(const QStringList &uris, const QString &startupId)
    {
        Q_UNUSED(startupId);
        shown.append(uris);
        if (failing)
            sendErrorReply(QDBusError::Failed, QStringLiteral("cannot show"));
    }
};

} // namespace

class TestFileRevealer : public QObject
{
    Q_OBJECT

    QTemporaryDir m_files;
    test::RecordingUrlOpener m_opener;

    QString file() const { return m_files.filePath("자막/talk.srt"); }
    QUrl folder() const { return QUrl::fromLocalFile(m_files.filePath("자막")); }

private slots:
    void initTestCase()
    {
        QVERIFY(QDBusConnection::sessionBus().isConnected());
        QVERIFY(test::writeFile(file(), "1\n"));
    }

    void init()
    {
        m_opener.opened.clear();
        m_opener.answer = true;
    }

    void withoutAFileManagerTheFolderOpens_data()
    {
        QTest::addColumn<bool>("openerStarts");
        QTest::newRow("folder opener starts") << true;
        QTest::newRow("nothing can open the folder") << false;
    }

    void withoutAFileManagerTheFolderOpens()
    {
        QFETCH(bool, openerStarts);
        m_opener.answer = openerStarts;
        platform::FileRevealer revealer(m_opener);
        std::optional<bool> shown;
        revealer.reveal(file(), [&shown](bool started) { shown = started; });
        QTRY_VERIFY_WITH_TIMEOUT(shown.has_value(), patience);
        QCOMPARE(*shown, openerStarts);
        QCOMPARE(m_opener.opened, QList<QUrl>{folder()});
    }

    void theSystemOpenerStartsXdgOpenWithoutATerminal_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::newRow("xdg-open installed") << true;
        QTest::newRow("no opener at all") << false;
    }

    // The real opener, with a PATH that holds only a stand-in xdg-open (or nothing): the
    // reveal answers whether it really started something, and what it started writes nowhere.
    void theSystemOpenerStartsXdgOpenWithoutATerminal()
    {
        QFETCH(bool, installed);
        QTemporaryDir bin;
        if (installed)
            QVERIFY(QFile::link(test::helperProgram("record_streams"), bin.filePath("xdg-open")));
        const QString streams = bin.filePath("streams");
        const QByteArray savedPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin.path()));
        qputenv("VELMORA_STREAMS_FILE", QFile::encodeName(streams));
        auto restore = qScopeGuard([&] {
            qputenv("PATH", savedPath);
            qunsetenv("VELMORA_STREAMS_FILE");
        });
        platform::UrlOpener opener;
        platform::FileRevealer revealer(opener);
        std::optional<bool> shown;
        revealer.reveal(file(), [&shown](bool started) { shown = started; });
        QTRY_VERIFY_WITH_TIMEOUT(shown.has_value(), patience);
        QCOMPARE(*shown, installed);
        if (installed) {
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(streams), patience);
            QCOMPARE(QString::fromUtf8(test::readFile(streams)).split('\n', Qt::SkipEmptyParts),
                     QStringList({"/dev/null", "/dev/null", "/dev/null", folder().toLocalFile()}));
        }
    }

    void aFileManagerShowsTheFileSelected()
    {
        FakeFileManager manager;
        QDBusConnection bus = QDBusConnection::connectToBus(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), "manager");
        auto done = qScopeGuard([&] {
            bus.unregisterService("org.freedesktop.FileManager1");
            bus.unregisterObject("/org/freedesktop/FileManager1");
            QDBusConnection::disconnectFromBus("manager");
        });
        QVERIFY(bus.registerObject("/org/freedesktop/FileManager1", &manager, QDBusConnection::ExportScriptableSlots));
        QVERIFY(bus.registerService("org.freedesktop.FileManager1"));

        platform::FileRevealer revealer(m_opener);
        m_opener.answer = false; // only the file manager can answer true here
        std::optional<bool> shown;
        revealer.reveal(file(), [&shown](bool started) { shown = started; });
        QTRY_COMPARE_WITH_TIMEOUT(manager.shown.size(), 1, patience);
        QTRY_COMPARE_WITH_TIMEOUT(shown, std::optional(true), patience);
        QCOMPARE(manager.shown.first(), QStringList{QUrl::fromLocalFile(file()).toString()});
        test::drainEvents();
        QVERIFY(m_opener.opened.isEmpty());

        // A file manager that answers with an error: the folder opens instead.
        manager.failing = true;
        revealer.reveal(file());
        QTRY_COMPARE_WITH_TIMEOUT(m_opener.opened, QList<QUrl>{folder()}, patience);
        QCOMPARE(manager.shown.size(), 2);
    }
};

// The session bus of the test's own: a private bus daemon without service activation, so no
// file manager of the machine answers.
int main(int argc, char *argv[])
{
    QTemporaryDir busDir;
    const QString config = busDir.filePath("session.conf");
    test::writeFile(config, "<busconfig><type>session</type><listen>unix:dir=" + QFile::encodeName(busDir.path())
                                + "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                                  "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                                  "<allow own=\"*\"/></policy></busconfig>");
    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"), QStringLiteral("--print-address")});
    if (!daemon.waitForStarted(patience) || !daemon.waitForReadyRead(patience)) {
        qCritical("could not start a session bus: %s", qPrintable(daemon.errorString()));
        return 1;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", daemon.readLine().trimmed());
    int result;
    {
        QGuiApplication app(argc, argv);
        TestFileRevealer test;
        result = QTest::qExec(&test, argc, argv);
    }
    daemon.terminate();
    daemon.waitForFinished(patience);
    return result;
}

#include "tst_filerevealer.moc"
