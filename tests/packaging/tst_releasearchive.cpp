// scripts/make-release.sh makes the archive the updater installs: the same bytes every time,
// only plain entries inside one folder, owned by root and dated with the release, and unpacked
// it is exactly the installed bundle. The feed item it prints reads, with Velmora's own feed
// reader, as the Linux download of that archive; signed with velmora-update-sign, the update
// engine installs it over an older bundle.

#include "PackagingSupport.h"
#include "TestSupport.h"
#include "TlsTestServer.h"
#include "TreeSnapshot.h"

#include "platform/HttpClient.h"
#include "platform/PackageOwnership.h"
#include "updates/Appcast.h"
#include "updates/UpdateInstaller.h"
#include "updates/UpdateSignature.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using namespace velmora;
using test::runCommand;

namespace {

const QString version = QStringLiteral(VELMORA_PROJECT_VERSION);

struct Release
{
    test::CommandResult run;
    QString archive;
    qint64 size = -1;
    QString feedItem;
};

Release makeRelease(const QString &output, const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    Release release;
    release.run = runCommand(QStringLiteral("bash"),
                             {QStringLiteral(VELMORA_SOURCE_DIR "/scripts/make-release.sh"), version,
                              QStringLiteral("--build-dir"), QStringLiteral(VELMORA_PACKAGED_BUILD_DIR),
                              QStringLiteral("--output"), output},
                             environment);
    const QString text = QString::fromUtf8(release.run.out);
    const auto archive = QRegularExpression(QStringLiteral("^archive: (.+)$"), QRegularExpression::MultilineOption)
                             .match(text);
    const auto size = QRegularExpression(QStringLiteral("^size: (\\d+) bytes$"), QRegularExpression::MultilineOption)
                          .match(text);
    const qsizetype item = text.indexOf(QStringLiteral("feed item:\n"));
    release.archive = archive.captured(1);
    release.size = size.hasMatch() ? size.captured(1).toLongLong() : -1;
    release.feedItem = item < 0 ? QString() : text.mid(item + 11);
    return release;
}

// The release's date as the metainfo records it.
QString releaseDate()
{
    const QByteArray metainfo = test::readFile(
        QStringLiteral(VELMORA_SOURCE_DIR "/packaging/linux/app.velmora.Velmora.metainfo.xml"));
    const QRegularExpression release(
        QStringLiteral("<release version=\"%1\" date=\"([0-9-]+)\"").arg(QRegularExpression::escape(version)));
    return release.match(QString::fromUtf8(metainfo)).captured(1);
}

updates::AppcastParseResult parseItem(const QString &item)
{
    const QString feed = QStringLiteral("<rss version=\"2.0\" xmlns:sparkle=\"%1\"><channel>%2</channel></rss>")
                             .arg(QLatin1String(updates::appcastNamespace), item);
    return updates::parseAppcast(feed.toUtf8());
}

} // namespace

class TestReleaseArchive : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    Release m_release;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(QFileInfo::exists(QStringLiteral(VELMORA_PACKAGED_BUILD_DIR "/CMakeCache.txt")),
                 "no packaged build: run the test packaging/build first (it is this test's fixture)");
        QVERIFY2(!releaseDate().isEmpty(), "the metainfo has no release of the project's version");
        m_release = makeRelease(m_dir.filePath(QStringLiteral("one")));
        QVERIFY2(m_release.run.ok(), m_release.run.describe().constData());
        QVERIFY(QFileInfo(m_release.archive).isFile());
    }

    void archiveIsReproducible()
    {
        const Release again = makeRelease(m_dir.filePath(QStringLiteral("two")));
        QVERIFY2(again.run.ok(), again.run.describe().constData());
        QCOMPARE(QFileInfo(again.archive).fileName(), QFileInfo(m_release.archive).fileName());
        QVERIFY2(test::readFile(again.archive) == test::readFile(m_release.archive), "two runs made different archives");
    }

    void entriesArePlainFilesInOneFolder()
    {
        const auto list = runCommand(
            QStringLiteral("tar"),
            {QStringLiteral("--numeric-owner"), QStringLiteral("--full-time"), QStringLiteral("-tvzf"), m_release.archive});
        QVERIFY2(list.ok(), list.describe().constData());

        // mode owner size date time name [-> target]
        const QRegularExpression entry(QStringLiteral("^(\\S)\\S+ (\\S+) +\\d+ (\\S+ \\S+) (.+?)(?: -> (.+))?$"));
        QList<QStringList> names;
        for (const QString &line : QString::fromUtf8(list.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const auto match = entry.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            const QString name = match.captured(4);
            const QString type = match.captured(1);
            QVERIFY2(type == "-" || type == "d" || type == "l", qPrintable("not a file, folder or link: " + line));
            QCOMPARE(match.captured(2), QStringLiteral("0/0"));
            QCOMPARE(match.captured(3), releaseDate() + QStringLiteral(" 00:00:00"));
            QVERIFY2(!name.startsWith(QLatin1Char('/')), qPrintable(line));
            const QStringList parts = name.split(QLatin1Char('/'), Qt::SkipEmptyParts);
            QVERIFY2(!parts.contains(QStringLiteral("..")), qPrintable(line));
            QCOMPARE(parts.value(0), QStringLiteral("velmora"));
            if (type == "l") {
                const QString target = match.captured(5);
                QVERIFY2(!target.startsWith(QLatin1Char('/')) && !target.contains(QStringLiteral("..")),
                         qPrintable("a link out of its folder: " + line));
            }
            names.append(parts);
        }
        QVERIFY(names.size() > 10);
        // Sorted by name, folder by folder.
        QVERIFY(std::is_sorted(names.cbegin(), names.cend()));
    }

    void unpacksToTheInstalledBundle()
    {
        const QString unpacked = m_dir.filePath(QStringLiteral("unpacked"));
        QVERIFY(QDir().mkpath(unpacked));
        const auto untar = runCommand(QStringLiteral("tar"),
                                      {QStringLiteral("-xzf"), m_release.archive, QStringLiteral("-C"), unpacked});
        QVERIFY2(untar.ok(), untar.describe().constData());
        QCOMPARE(QDir(unpacked).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("velmora")});

        const QString installed = m_dir.filePath(QStringLiteral("installed/velmora"));
        const auto install = test::installBundle(installed);
        QVERIFY2(install.ok(), install.describe().constData());

        const auto fromArchive = test::describeTree(unpacked + QStringLiteral("/velmora"));
        const auto fromInstall = test::describeTree(installed);
        QCOMPARE(fromArchive.keys(), fromInstall.keys());
        for (auto it = fromInstall.cbegin(); it != fromInstall.cend(); ++it) {
            const test::TreeEntry &other = fromArchive.value(it.key());
            QVERIFY2(other.kind == it->kind, qPrintable(it.key()));
            QVERIFY2(other.permissions == it->permissions, qPrintable(it.key()));
            QVERIFY2(other.content == it->content, qPrintable(it.key()));
        }
    }

    void feedItemAnnouncesTheArchive()
    {
        QCOMPARE(m_release.size, QFileInfo(m_release.archive).size());
        QVERIFY2(!m_release.feedItem.contains(QStringLiteral("edSignature")), "signed without a signer");
        QVERIFY(m_release.run.err.contains("VELMORA_RELEASE_SIGNER is not set"));

        const auto feed = parseItem(m_release.feedItem);
        QVERIFY2(feed.ok(), qPrintable(feed.error));
        QCOMPARE(feed.items.size(), 1);
        const updates::AppcastItem &item = feed.items.first();
        QCOMPARE(item.versionString, version);
        QCOMPARE(item.displayVersionString, version);
        QCOMPARE(item.downloadURL.scheme(), QStringLiteral("https"));
        QCOMPARE(item.downloadURL.fileName(), QFileInfo(m_release.archive).fileName());
        QCOMPARE(item.contentLength, m_release.size);
        QCOMPARE(item.contentType, QStringLiteral("application/gzip"));
        // Named for the machine it was made on, which is the architecture this build takes.
        QCOMPARE(item.architecture, updates::buildArchitecture());
        QVERIFY(m_release.archive.endsWith(QStringLiteral("-linux-") + item.architecture + QStringLiteral(".tar.gz")));
        QVERIFY(item.releaseNotesURL && item.releaseNotesURL->scheme() == QStringLiteral("https"));
    }

    void signerAttributesGoIntoTheEnclosure()
    {
        // A stand-in signer: records the archive it was given and prints a signature attribute.
        const QString signed_ = m_dir.filePath(QStringLiteral("signed-archive"));
        const QString signer = m_dir.filePath(QStringLiteral("signer.sh"));
        QVERIFY(test::writeFile(signer,
                                "#!/bin/sh\nprintf '%s' \"$1\" > '" + signed_.toUtf8()
                                    + "'\necho 'sparkle:edSignature=\"c2lnbmF0dXJl\"'\n",
                                true));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("VELMORA_RELEASE_SIGNER"), signer);

        const Release release = makeRelease(m_dir.filePath(QStringLiteral("signed")), environment);
        QVERIFY2(release.run.ok(), release.run.describe().constData());
        QCOMPARE(QString::fromUtf8(test::readFile(signed_)), release.archive);
        QVERIFY(release.feedItem.contains(QStringLiteral(" sparkle:os=\"linux\" sparkle:edSignature=\"c2lnbmF0dXJl\"/>")));
        const auto feed = parseItem(release.feedItem);
        QVERIFY2(feed.ok(), qPrintable(feed.error));
        QCOMPARE(feed.items.size(), 1);
    }

    void signedReleaseIsInstalledOverAnOlderBundle()
    {
        // A key pair of this run (outside any working tree), and the release signed as a real
        // one is: by the signing tool, through make-release.sh.
        const QString tool = QStringLiteral(VELMORA_UPDATE_SIGN);
        const QString key = m_dir.filePath(QStringLiteral("update.key"));
        const auto generated = runCommand(tool, {QStringLiteral("generate-key"), key});
        QVERIFY2(generated.ok(), generated.describe().constData());
        const QString publicKey = QString::fromUtf8(generated.out).trimmed();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("VELMORA_RELEASE_SIGNER"), tool + QStringLiteral(" sign ") + key);
        const Release release = makeRelease(m_dir.filePath(QStringLiteral("signed-for-real")), environment);
        QVERIFY2(release.run.ok(), release.run.describe().constData());
        const auto feed = parseItem(release.feedItem);
        QVERIFY2(feed.ok() && feed.items.size() == 1, qPrintable(release.feedItem));
        updates::UpdateItem item = feed.items.first().updateItem();
        QCOMPARE(item.contentLength, release.size);
        QVERIFY(!item.edSignature.isEmpty());

        // Served over loopback HTTPS to the installed bundle of an older version.
        const QByteArray archive = test::readFile(release.archive);
        test::LoopbackHttpsServer server;
        QVERIFY2(server.listen(), qPrintable(server.errorString()));
        server.setHandler([&archive](const QByteArray &, const QString &) {
            return test::HttpReply{200, archive, {}, false};
        });
        item.downloadURL = server.url(QStringLiteral("/") + item.downloadURL.fileName());
        platform::HttpClient http;
        http.setSslConfiguration(test::TestCertificate::localhost().clientConfiguration());
        platform::PackageOwnership noPackages(m_dir.filePath(QStringLiteral("no-dpkg-info")));

        auto installed = [this](const QString &name) {
            const QString bundle = m_dir.filePath(name + QStringLiteral("/velmora"));
            const auto install = test::installBundle(bundle);
            return install.ok() ? bundle : QString();
        };
        auto configuration = [&](const QString &bundle, const QString &signingKey) {
            updates::InstallerConfiguration c;
            c.bundle = bundle;
            c.runningVersion = QStringLiteral("0.0.1");
            c.publicKeys = QStringList{signingKey};
            c.http = &http;
            c.packages = &noPackages;
            return c;
        };

        // Checked with another key, nothing is installed.
        const QString other = installed(QStringLiteral("other-key"));
        QVERIFY(!other.isEmpty());
        const auto before = test::describeTree(other);
        const QString otherKey = QString::fromUtf8(updates::generateKeyPair().publicKey.toBase64());
        updates::UpdateInstaller refusing(configuration(other, otherKey));
        const auto refused = test::waitFor(refusing.prepare(item));
        QVERIFY(refused && refused->error == updates::InstallError::BadSignature);
        QCOMPARE(test::describeTree(other), before);

        const QString bundle = installed(QStringLiteral("apps"));
        QVERIFY(!bundle.isEmpty());
        updates::UpdateInstaller installer(configuration(bundle, publicKey));
        QCOMPARE(installer.refusal(), updates::InstallRefusal::None);
        const auto failure = test::waitFor(installer.prepare(item));
        QVERIFY2(!failure, failure ? qPrintable(failure->detail) : "");
        QVERIFY(!installer.swap());
        const QString unpacked = m_dir.filePath(QStringLiteral("signed-unpacked"));
        QVERIFY(QDir().mkpath(unpacked));
        const auto untar = runCommand(QStringLiteral("tar"),
                                      {QStringLiteral("-xzf"), release.archive, QStringLiteral("-C"), unpacked});
        QVERIFY2(untar.ok(), untar.describe().constData());
        QCOMPARE(test::describeTree(bundle), test::describeTree(unpacked + QStringLiteral("/velmora")));
        QCOMPARE(test::describeTree(installer.paths().swap), before); // the backup, the installed bundle
    }
};

QTEST_GUILESS_MAIN(TestReleaseArchive)
#include "tst_releasearchive.moc"
