// scripts/make-release.sh makes the archive the updater installs: the same bytes every time,
// only plain entries inside one folder, owned by root and dated with the release, and unpacked
// it is exactly the installed bundle. The feed item it prints reads, with Velmora's own feed
// reader, as the Linux download of that archive.

#include "PackagingSupport.h"
#include "TestSupport.h"

#include "updates/Appcast.h"

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

Release makeRelease(const QString &output,
                    const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    Release release;
    release.run = runCommand(QStringLiteral("bash"),
                             {QStringLiteral(VELMORA_SOURCE_DIR "/scripts/make-release.sh"), version,
                              QStringLiteral("--build-dir"), QStringLiteral(VELMORA_PACKAGED_BUILD_DIR),
                              QStringLiteral("--output"), output},
                             environment);
    const QString text = QString::fromUtf8(release.run.out);
    const auto archive = QRegularExpression(QStringLiteral("^archive: (.+)$"), QRegularExpression::MultilineOption).match(text);
    const auto size = QRegularExpression(QStringLiteral("^size: (\\d+) bytes$"), QRegularExpression::MultilineOption).match(text);
    const qsizetype item = text.indexOf(QStringLiteral("feed item:\n"));
    release.archive = archive.captured(1);
    release.size = size.hasMatch() ? size.captured(1).toLongLong() : -1;
    release.feedItem = item < 0 ? QString() : text.mid(item + 11);
    return release;
}

// The release's date as the metainfo records it.
QString releaseDate()
{
    const QByteArray metainfo = test::readFile(QStringLiteral(VELMORA_SOURCE_DIR "/packaging/linux/app.velmora.Velmora.metainfo.xml"));
    const QRegularExpression release(QStringLiteral("<release version=\"%1\" date=\"([0-9-]+)\"")
                                         .arg(QRegularExpression::escape(version)));
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
        const auto list = runCommand(QStringLiteral("tar"), {QStringLiteral("--numeric-owner"), QStringLiteral("--full-time"),
                                                            QStringLiteral("-tvzf"), m_release.archive});
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
        const auto untar = runCommand(QStringLiteral("tar"), {QStringLiteral("-xzf"), m_release.archive,
                                                             QStringLiteral("-C"), unpacked});
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
        QVERIFY(item.releaseNotesURL && item.releaseNotesURL->scheme() == QStringLiteral("https"));
    }

    void signerAttributesGoIntoTheEnclosure()
    {
        // A stand-in signer: records the archive it was given and prints a signature attribute.
        const QString signed_ = m_dir.filePath(QStringLiteral("signed-archive"));
        const QString signer = m_dir.filePath(QStringLiteral("signer.sh"));
        QVERIFY(test::writeFile(signer, "#!/bin/sh\nprintf '%s' \"$1\" > '" + signed_.toUtf8()
                                            + "'\necho 'sparkle:edSignature=\"c2lnbmF0dXJl\"'\n", true));
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
};

QTEST_GUILESS_MAIN(TestReleaseArchive)
#include "tst_releasearchive.moc"
