#include "access/AccessProbe.h"

#include "UnprivilegedRun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

using namespace velmora::access;

namespace {

void makeRegularFile(const QString &path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("SQLite format 3");
}

} // namespace

// The per-platform rules that tell whether Velmora may read the user's files, each tried
// against a staged tree.
class TestAccessProbe : public QObject
{
    Q_OBJECT
private slots:
    void privacyDatabaseProbe_data()
    {
        QTest::addColumn<QString>("system");
        QTest::addColumn<QString>("user");
        QTest::addColumn<bool>("granted");
        // Each database is "file", "folder", "link" (to a regular file), "pipe" or "missing".
        QTest::newRow("system database opens") << "file"
                                               << "missing" << true;
        QTest::newRow("user database opens") << "missing"
                                             << "file" << true;
        QTest::newRow("system folder, user file") << "folder"
                                                  << "file" << true;
        QTest::newRow("system link, user file") << "link"
                                                << "file" << true;
        QTest::newRow("links are not followed") << "link"
                                                << "link" << false;
        QTest::newRow("folders are not files") << "folder"
                                               << "folder" << false;
        QTest::newRow("named pipe does not block") << "pipe"
                                                   << "missing" << false;
        QTest::newRow("neither exists") << "missing"
                                        << "missing" << false;
    }

    void privacyDatabaseProbe()
    {
        QFETCH(QString, system);
        QFETCH(QString, user);
        QFETCH(bool, granted);
        QTemporaryDir root;
        const QString home = root.filePath(QStringLiteral("Users/someone"));
        QDir().mkpath(home);
        const QStringList paths = privacyDatabasePaths(root.path(), home);
        QCOMPARE(paths.size(), 2);
        QCOMPARE(paths.at(0), root.filePath(QStringLiteral("Library/Application Support/com.apple.TCC/TCC.db")));
        QCOMPARE(paths.at(1), home + QStringLiteral("/Library/Application Support/com.apple.TCC/TCC.db"));

        const QString target = root.filePath(QStringLiteral("elsewhere.db"));
        makeRegularFile(target);
        const QStringList kinds{system, user};
        for (int i = 0; i < 2; ++i) {
            const QString &path = paths.at(i);
            QDir().mkpath(QFileInfo(path).path());
            if (kinds[i] == QLatin1String("file"))
                makeRegularFile(path);
            else if (kinds[i] == QLatin1String("folder"))
                QVERIFY(QDir().mkpath(path));
            else if (kinds[i] == QLatin1String("link"))
                QVERIFY(QFile::link(target, path));
            else if (kinds[i] == QLatin1String("pipe"))
                QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        }
        QCOMPARE(probeAuthorization(System::MacOS, root.path(), home), granted);
    }

    void sandboxProbe_data()
    {
        QTest::addColumn<bool>("sandboxed");
        QTest::addColumn<QByteArray>("info");
        QTest::addColumn<bool>("granted");
        const QByteArray head = "[Application]\nname=app.velmora.Velmora\n\n[Context]\nshared=network;ipc;\n";
        QTest::newRow("no sandbox") << false << QByteArray() << true;
        QTest::newRow("home") << true << head + "filesystems=xdg-download;home;\n" << true;
        QTest::newRow("home read-only") << true << head + "filesystems=home:ro;\n" << true;
        QTest::newRow("host") << true << head + "filesystems=host;\n" << true;
        QTest::newRow("home by path") << true << head + "filesystems=@HOME@;\n" << true;
        QTest::newRow("only a sub-folder") << true << head + "filesystems=xdg-music;~/Recordings;\n" << false;
        QTest::newRow("host-os only") << true << head + "filesystems=host-os;host-etc;\n" << false;
        QTest::newRow("home revoked") << true << head + "filesystems=xdg-download;!home;\n" << false;
        QTest::newRow("no file-system entry") << true << head << false;
        QTest::newRow("entry in another group") << true << QByteArray("[Instance]\nfilesystems=home;\n") << false;
    }

    void sandboxProbe()
    {
        QFETCH(bool, sandboxed);
        QFETCH(QByteArray, info);
        QFETCH(bool, granted);
        QTemporaryDir root;
        const QString home = root.filePath(QStringLiteral("home/someone"));
        QDir().mkpath(home);
        if (sandboxed) {
            QFile file(root.filePath(QStringLiteral(".flatpak-info")));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(info.replace("@HOME@", QFile::encodeName(home)));
        }
        QCOMPARE(probeAuthorization(System::Linux, root.path(), home), granted);
    }

    void unreadableSandboxInformationMeansNoAccess()
    {
        if (const std::optional<bool> passed = velmora::test::rerunUnprivilegedIfRoot()) {
            QVERIFY2(*passed, "the case run as nobody failed");
            return;
        }
        QTemporaryDir root;
        QFile file(root.filePath(QStringLiteral(".flatpak-info")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Context]\nfilesystems=home;\n");
        file.close();
        QVERIFY(file.setPermissions({}));
        QVERIFY(!probeAuthorization(System::Linux, root.path(), QDir::homePath()));
    }
};

QTEST_GUILESS_MAIN(TestAccessProbe)
#include "tst_accessprobe.moc"
