// "설치 후 다시 시작", again and again: an installed bundle whose every start (update_app) claims
// the single instance, confirms its version, finds the next one on a loopback HTTPS feed and
// installs it through the engine's window with its windows shown. Each time the old process
// must end by itself, the new one must start, find its predecessor gone, confirm itself and
// remove the backup.

#include "RunningBackend.h"
#include "TestSupport.h"
#include "TlsTestServer.h"
#include "UpdateFixtures.h"

#include "platform/Relauncher.h"
#include "updates/Appcast.h"
#include "updates/BundleInfo.h"
#include "updates/UpdateInstaller.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/prctl.h>

using namespace velmora;
using test::HttpReply;

namespace {

constexpr int rounds = 10;

// One start of the bundle as its log lines tell it.
struct Start
{
    qint64 pid = 0;
    qint64 predecessor = 0;
    QString version;
    QStringList lines; // the rest of its lines, without the pid
};

QList<Start> readStarts(const QString &log)
{
    QList<Start> starts;
    for (const QByteArray &raw : test::readFile(log).split('\n')) {
        const QStringList words = QString::fromUtf8(raw).split(QLatin1Char(' '));
        if (words.size() < 2)
            continue;
        const qint64 pid = words.at(0).toLongLong();
        if (words.at(1) == QLatin1String("start") && words.size() >= 4) {
            starts.append(Start{pid, words.at(2).toLongLong(), words.at(3), {}});
            continue;
        }
        for (Start &start : starts) {
            if (start.pid == pid)
                start.lines << words.mid(1).join(QLatin1Char(' '));
        }
    }
    return starts;
}

QString describe(const QList<Start> &starts)
{
    QString text;
    for (const Start &start : starts)
        text += QStringLiteral("\n%1 (after %2, %3): %4")
                    .arg(start.pid)
                    .arg(start.predecessor)
                    .arg(start.version, start.lines.join(QStringLiteral("; ")));
    return text;
}

QString versionOf(int round)
{
    return QStringLiteral("1.%1").arg(round);
}

} // namespace

class TestInstalledRelaunch : public QObject
{
    Q_OBJECT
private slots:
    void relaunchesEveryTime()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString bundle = dir.filePath(QStringLiteral("apps/velmora"));
        const QByteArray launcher = "#!/bin/sh\nhere=\"$(cd \"$(dirname \"$0\")/..\" && pwd -P)\"\nexec '"
                                    + test::helperProgram(QStringLiteral("update_app")).toUtf8()
                                    + "' --bundle \"$here\" \"$@\"\n";
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("apps"))));
        QVERIFY(test::writeBundle(bundle, versionOf(0), launcher));
        const QString log = dir.filePath(QStringLiteral("starts.log"));

        // The feed offers the version after the one installed, until the last round's.
        test::LoopbackHttpsServer server;
        QVERIFY2(server.listen(), qPrintable(server.errorString()));
        QMap<QString, QByteArray> archives;
        server.setHandler([&](const QByteArray &, const QString &path) {
            if (path.startsWith(QLatin1String("/archive/")))
                return HttpReply{200, archives.value(path.mid(9)), {}, false};
            const QString installed = updates::parseBundleInfo(test::readFile(bundle + QStringLiteral("/Info.json")))
                                          .version;
            const int next = installed.section(QLatin1Char('.'), 1).toInt() + 1;
            QByteArray items;
            if (next <= rounds) {
                const QString version = versionOf(next);
                if (!archives.contains(version))
                    archives.insert(version, test::makeTarGz(test::bundleEntries(version, launcher)));
                const QByteArray archive = archives.value(version);
                items = "<item><title>Velmora " + version.toUtf8() + "</title><sparkle:version>" + version.toUtf8()
                        + "</sparkle:version><enclosure url=\""
                        + server.url(QStringLiteral("/archive/") + version).toEncoded() + "\" length=\""
                        + QByteArray::number(archive.size())
                        + "\" type=\"application/gzip\" sparkle:os=\"linux\" xmlns:velmora=\""
                        + updates::velmoraFeedNamespace + "\" velmora:arch=\"" + updates::buildArchitecture().toLatin1()
                        + "\" sparkle:edSignature=\"" + updates::signData(archive, test::testKeys()).toLatin1()
                        + "\"/></item>";
            }
            return HttpReply{200,
                             "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\" "
                             "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel>"
                                 + items + "</channel></rss>",
                             {},
                             false};
        });
        const QString ca = dir.filePath(QStringLiteral("ca.pem"));
        QVERIFY(test::writeFile(ca, test::TestCertificate::localhost().certificate().toPem()));

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"config", "data", "cache", "runtime"}) {
            const QString folder = dir.filePath(QLatin1String(name));
            QVERIFY(QDir().mkpath(folder));
            QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        }
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), dir.filePath(QStringLiteral("cache")));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("runtime")));
        environment.insert(QStringLiteral("VELMORA_TEST_FEED"), server.url(QStringLiteral("/feed.xml")).toString());
        environment.insert(QStringLiteral("VELMORA_TEST_CA"), ca);
        environment.insert(QStringLiteral("VELMORA_TEST_KEY"), test::testPublicKey());
        environment.insert(QStringLiteral("VELMORA_TEST_LOG"), log);
        environment.remove(QString::fromLatin1(platform::Relauncher::relaunchedFromVariable));

        QProcess first;
        // The first start goes when the test ends early; the relaunched ones are killed below.
        first.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        first.setProcessEnvironment(environment);
        first.setProcessChannelMode(QProcess::ForwardedChannels);
        // Relaunched starts are nobody's children here: whatever runs when the test ends goes.
        auto stopAll = qScopeGuard([&] {
            for (const Start &start : readStarts(log)) {
                if (!test::processGone(start.pid))
                    ::kill(pid_t(start.pid), SIGKILL);
            }
        });
        first.start(bundle + QStringLiteral("/bin/velmora"), {});
        QVERIFY(first.waitForStarted(test::patience));

        const QString work = updates::InstallPaths::forBundle(bundle).work;
        for (int round = 1; round <= rounds; ++round) {
            QList<Start> starts;
            const bool confirmed = QTest::qWaitFor(
                [&] {
                    starts = readStarts(log);
                    return starts.size() > round
                           && starts.at(round).lines.contains(QStringLiteral("confirmed ") + versionOf(round));
                },
                test::patience);
            QVERIFY2(confirmed, qPrintable(QStringLiteral("round %1 did not get through:").arg(round) + describe(starts)));

            const Start &old = starts.at(round - 1);
            const Start &relaunched = starts.at(round);
            // The old process ended by itself, after starting its successor; the new one waited
            // for it, confirmed its version and removed the backup.
            QVERIFY2(old.lines.contains(QStringLiteral("relaunching ") + versionOf(round)), qPrintable(describe(starts)));
            QVERIFY2(old.lines.contains(QStringLiteral("ended 0")), qPrintable(describe(starts)));
            QVERIFY(test::processGone(old.pid));
            QCOMPARE(relaunched.predecessor, old.pid);
            QCOMPARE(relaunched.version, versionOf(round));
            QVERIFY2(!QFileInfo::exists(work), qPrintable(QStringLiteral("the backup stayed after round %1").arg(round)));
            QCOMPARE(updates::parseBundleInfo(test::readFile(bundle + QStringLiteral("/Info.json"))).version,
                     versionOf(round));
        }

        // The last version runs on: nothing newer is offered, nothing failed anywhere.
        const QList<Start> starts = readStarts(log);
        QCOMPARE(starts.size(), rounds + 1);
        QVERIFY(!test::processGone(starts.last().pid));
        for (const Start &start : starts) {
            for (const QString &line : start.lines)
                QVERIFY2(!line.startsWith(QLatin1String("failed")) && !line.startsWith(QLatin1String("claim-failed")),
                         qPrintable(describe(starts)));
        }
    }
};

QTEST_GUILESS_MAIN(TestInstalledRelaunch)
#include "tst_installedrelaunch.moc"
