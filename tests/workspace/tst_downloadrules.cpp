#include "TestSupport.h"

#include "platform/FileSystem.h"
#include "platform/SystemError.h"
#include "workspace/DownloadRules.h"
#include "workspace/FileInputRules.h"
#include "workspace/PageActivations.h"
#include "workspace/Texts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <memory>

#include <sys/stat.h>

using namespace velmora;
using namespace std::chrono_literals;
using workspace::DownloadFailure;
using workspace::DownloadInterruptReason;
using workspace::PageActivations;

Q_DECLARE_METATYPE(DownloadFailure::Kind)
Q_DECLARE_METATYPE(DownloadInterruptReason)

namespace {

// Console messages, each at a time in milliseconds.
using Messages = QList<QPair<int, QString>>;

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

} // namespace

class TestDownloadRules : public QObject
{
    Q_OBJECT

private slots:
    void saveStartFolder_data()
    {
        QTest::addColumn<QString>("suggestedName");
        QTest::addColumn<bool>("inTextSaveDirectory");
        QTest::newRow("txt") << "transcript.txt" << true;
        QTest::newRow("SRT in capitals") << "Lecture.SRT" << true;
        QTest::newRow("vtt") << "captions.vtt" << true;
        QTest::newRow("Md mixed case") << "Summary.Md" << true;
        QTest::newRow("two dots, text last") << "meeting.2024.txt" << true;
        QTest::newRow("Korean name") << "회의록.md" << true;
        QTest::newRow("audio") << "voice.m4a" << false;
        QTest::newRow("no extension") << "README" << false;
        QTest::newRow("text extension inside") << "notes.txt.gz" << false;
        QTest::newRow("hidden file named like an extension") << ".txt" << false;
        QTest::newRow("trailing dot") << "notes.txt." << false;
        QTest::newRow("pdf") << "report.pdf" << false;
        QTest::newRow("empty") << "" << false;
    }
    void saveStartFolder()
    {
        QFETCH(QString, suggestedName);
        QFETCH(bool, inTextSaveDirectory);
        const QString folder = QStringLiteral("/home/user/Texts");
        QCOMPARE(workspace::isTextFileName(suggestedName), inTextSaveDirectory);
        QCOMPARE(workspace::saveStartFolder(suggestedName, folder), inTextSaveDirectory ? folder : QString());
    }

    void failureDescription_data()
    {
        using workspace::downloadNotPlacedText;
        QTest::addColumn<DownloadFailure::Kind>("kind");
        QTest::addColumn<DownloadInterruptReason>("reason");
        QTest::addColumn<QString>("systemText");
        QTest::addColumn<QString>("description");
        const auto none = DownloadInterruptReason::NoReason;
        QTest::newRow("connection broken")
            << DownloadFailure::Kind::ConnectionBroken << none << "" << workspace::downloadConnectionBrokenText;
        QTest::newRow("stopped by the engine")
            << DownloadFailure::Kind::Stopped << none << "" << workspace::downloadStoppedText;
        QTest::newRow("network disconnected")
            << DownloadFailure::Kind::Interrupted << DownloadInterruptReason::NetworkDisconnected << ""
            << workspace::downloadNetworkFailedText;
        QTest::newRow("network time-out") << DownloadFailure::Kind::Interrupted << DownloadInterruptReason::NetworkTimeout
                                          << "" << workspace::downloadTimedOutText;
        QTest::newRow("disk full") << DownloadFailure::Kind::Interrupted << DownloadInterruptReason::FileNoSpace << ""
                                   << workspace::downloadNoSpaceText;
        QTest::newRow("access denied") << DownloadFailure::Kind::Interrupted << DownloadInterruptReason::FileAccessDenied
                                       << "" << workspace::downloadAccessDeniedText;
        QTest::newRow("server forbids") << DownloadFailure::Kind::Interrupted << DownloadInterruptReason::ServerForbidden
                                        << "" << workspace::downloadRefusedText;
        QTest::newRow("server failed") << DownloadFailure::Kind::Interrupted << DownloadInterruptReason::ServerFailed << ""
                                       << workspace::downloadServerFailedText;
        QTest::newRow("blocked") << DownloadFailure::Kind::Interrupted << DownloadInterruptReason::FileVirusInfected << ""
                                 << workspace::downloadBlockedText;
        QTest::newRow("cancelled by the engine itself")
            << DownloadFailure::Kind::Interrupted << DownloadInterruptReason::UserCanceled << ""
            << workspace::downloadStoppedText;
        QTest::newRow("a reason the engine added later") << DownloadFailure::Kind::Interrupted << DownloadInterruptReason(99)
                                                         << "" << workspace::downloadUnknownFailureText;
        QTest::newRow("no reason") << DownloadFailure::Kind::Interrupted << none << ""
                                   << workspace::downloadUnknownFailureText;
        QTest::newRow("not placed, with the system's words")
            << DownloadFailure::Kind::NotPlaced << none << "No such file or directory"
            << downloadNotPlacedText + " (No such file or directory)";
        QTest::newRow("not placed, system text on several lines")
            << DownloadFailure::Kind::NotPlaced << none << "  Read-only\nfile system \n"
            << downloadNotPlacedText + " (Read-only file system)";
        QTest::newRow("not placed, no system text")
            << DownloadFailure::Kind::NotPlaced << none << "" << downloadNotPlacedText;
        QTest::newRow("not staged") << DownloadFailure::Kind::NotStaged << none << "Permission denied"
                                    << workspace::downloadNotStagedText + " (Permission denied)";
        QTest::newRow("a kind added later")
            << DownloadFailure::Kind(42) << none << "" << workspace::downloadUnknownFailureText;
    }
    void failureDescription()
    {
        QFETCH(DownloadFailure::Kind, kind);
        QFETCH(DownloadInterruptReason, reason);
        QFETCH(QString, systemText);
        QFETCH(QString, description);
        QCOMPARE(workspace::downloadFailureDescription({kind, reason, systemText}), description);
    }

    void mediaMimeTypes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("ancestors");
        QTest::addColumn<bool>("media");
        QTest::newRow("audio") << "audio/mpeg" << QStringList{} << true;
        QTest::newRow("video") << "video/mp4" << QStringList{"application/octet-stream"} << true;
        QTest::newRow("application inheriting from video")
            << "application/vnd.rn-realmedia" << QStringList{"video/x-generic"} << true;
        QTest::newRow("ogg container") << "application/ogg" << QStringList{"application/octet-stream"} << false;
        QTest::newRow("text") << "text/plain" << QStringList{"application/octet-stream"} << false;
        QTest::newRow("image") << "image/png" << QStringList{} << false;
        QTest::newRow("look-alike prefix") << "audiobook/x-thing" << QStringList{"videos/x"} << false;
        QTest::newRow("empty") << "" << QStringList{} << false;
    }
    void mediaMimeTypes()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, ancestors);
        QFETCH(bool, media);
        QCOMPARE(workspace::isMediaMimeType(name, ancestors), media);
    }

    void mediaNamePatternsHoldAudioAndVideoOnly()
    {
        const QStringList patterns = workspace::mediaNamePatterns();
        for (const char *pattern : {"*.m4a", "*.mp3", "*.wav", "*.flac", "*.mp4", "*.mov", "*.mkv", "*.webm"})
            QVERIFY2(patterns.contains(QLatin1String(pattern)), pattern);
        for (const char *pattern : {"*.txt", "*.png", "*.jpg", "*.pdf", "*.html", "*.srt"})
            QVERIFY2(!patterns.contains(QLatin1String(pattern)), pattern);
        QCOMPARE(patterns.size(), QSet<QString>(patterns.cbegin(), patterns.cend()).size());
    }

    void acceptedMediaFiles_data()
    {
        QTest::addColumn<QStringList>("chosen");
        QTest::addColumn<bool>("multiple");
        QTest::addColumn<QStringList>("accepted");
        const QStringList mixed{"a.m4a", "notes.txt", "b.MP4", "folder.mp4", "photo.png", "c.webm"};
        QTest::newRow("several") << mixed << true << QStringList{"a.m4a", "b.MP4", "c.webm"};
        QTest::newRow("one") << mixed << false << QStringList{"a.m4a"};
        QTest::newRow("one, media not first")
            << QStringList{"notes.txt", "folder.mp4", "c.webm", "a.m4a"} << false << QStringList{"c.webm"};
        QTest::newRow("no media") << QStringList{"notes.txt", "photo.png"} << true << QStringList{};
        QTest::newRow("nothing chosen") << QStringList{} << true << QStringList{};
    }
    void acceptedMediaFiles()
    {
        QFETCH(QStringList, chosen);
        QFETCH(bool, multiple);
        QFETCH(QStringList, accepted);
        QTemporaryDir dir;
        QVERIFY(test::writeFile(dir.filePath("a.m4a"), QByteArray("\0\0\0\x20"
                                                                  "ftypM4A ",
                                                                  12)));
        QVERIFY(test::writeFile(dir.filePath("b.MP4"), QByteArray("\0\0\0\x18"
                                                                  "ftypmp42",
                                                                  12)));
        QVERIFY(test::writeFile(dir.filePath("c.webm"), "\x1a\x45\xdf\xa3"));
        QVERIFY(test::writeFile(dir.filePath("notes.txt"), "text"));
        QVERIFY(test::writeFile(dir.filePath("photo.png"), "\x89PNG\r\n\x1a\n"));
        // A folder is no file, whatever its name says.
        QVERIFY(QDir().mkpath(dir.filePath("folder.mp4")));
        QStringList paths, expected;
        for (const QString &name : std::as_const(chosen))
            paths.append(dir.filePath(name));
        for (const QString &name : std::as_const(accepted))
            expected.append(dir.filePath(name));
        QCOMPARE(workspace::acceptedMediaFiles(paths, multiple), expected);
    }

    void fileInputReports_data()
    {
        // Messages at the given milliseconds, then consume() at the given milliseconds; what
        // each consume() answers.
        QTest::addColumn<Messages>("messages");
        QTest::addColumn<QList<int>>("consumeAt");
        QTest::addColumn<QList<bool>>("answers");
        const QString good = "velmora-file-input s3cr3t";
        QTest::newRow("a report vouches once") << Messages{{0, good}} << QList<int>{10, 20} << QList<bool>{true, false};
        QTest::newRow("two reports, two requests")
            << Messages{{0, good}, {5, good}} << QList<int>{10, 20, 30} << QList<bool>{true, true, false};
        QTest::newRow("another token") << Messages{{0, "velmora-file-input guess"}} << QList<int>{10} << QList<bool>{false};
        QTest::newRow("the token with more after it")
            << Messages{{0, good + " "}, {0, good + "x"}} << QList<int>{10} << QList<bool>{false};
        QTest::newRow("no token") << Messages{{0, "velmora-file-input "}} << QList<int>{10} << QList<bool>{false};
        QTest::newRow("a report too old") << Messages{{0, good}} << QList<int>{2001} << QList<bool>{false};
        QTest::newRow("just within the lifetime") << Messages{{0, good}} << QList<int>{2000} << QList<bool>{true};
        QTest::newRow("no more than four kept")
            << Messages{{0, good}, {1, good}, {2, good}, {3, good}, {4, good}, {5, good}} << QList<int>{10, 11, 12, 13, 14}
            << QList<bool>{true, true, true, true, false};
    }
    void fileInputReports()
    {
        QFETCH(Messages, messages);
        QFETCH(QList<int>, consumeAt);
        QFETCH(QList<bool>, answers);
        const PageActivations::Clock::time_point start{std::chrono::hours(1)};
        PageActivations activations(PageActivations::Kind::FileInput, QStringLiteral("s3cr3t"));
        for (const auto &[at, message] : std::as_const(messages))
            QVERIFY(activations.takeMessage(message, start + std::chrono::milliseconds(at)));
        QList<bool> got;
        for (int at : std::as_const(consumeAt))
            got.append(activations.consume(start + std::chrono::milliseconds(at)));
        QCOMPARE(got, answers);
    }

    void otherConsoleMessagesAreLeftAlone_data()
    {
        QTest::addColumn<QString>("message");
        QTest::newRow("ordinary") << "hello";
        QTest::newRow("prefix without its space") << "velmora-file-inputs3cr3t";
        QTest::newRow("link activation") << "velmora-link-activation s3cr3t http://x/";
        QTest::newRow("leading space") << " velmora-file-input s3cr3t";
    }
    void otherConsoleMessagesAreLeftAlone()
    {
        QFETCH(QString, message);
        const PageActivations::Clock::time_point now{std::chrono::hours(1)};
        PageActivations activations(PageActivations::Kind::FileInput, QStringLiteral("s3cr3t"));
        QVERIFY(!activations.takeMessage(message, now));
        QVERIFY(!activations.consume(now));
    }

    void anEmptyTokenVouchesForNothing()
    {
        const PageActivations::Clock::time_point now{std::chrono::hours(1)};
        PageActivations activations(PageActivations::Kind::FileInput, QString());
        QVERIFY(activations.takeMessage(QStringLiteral("velmora-file-input "), now));
        QVERIFY(!activations.consume(now));
    }

    void movingAFileIntoPlace_data()
    {
        QTest::addColumn<bool>("acrossFileSystems");
        QTest::addColumn<bool>("occupied");
        QTest::newRow("same file system") << false << false;
        QTest::newRow("same file system, over a file") << false << true;
        QTest::newRow("across file systems") << true << false;
        QTest::newRow("across file systems, over a file") << true << true;
    }
    void movingAFileIntoPlace()
    {
        QFETCH(bool, acrossFileSystems);
        QFETCH(bool, occupied);
        QTemporaryDir destinations;
        std::unique_ptr<QTemporaryDir> sources = acrossFileSystems ? otherFileSystemFolder(destinations.path())
                                                                   : std::make_unique<QTemporaryDir>();
        if (!sources)
            QSKIP("no second file system to write to");
        const QString source = sources->filePath("download");
        const QString destination = destinations.filePath("자막.srt");
        const QByteArray content = QByteArray("subtitle line\n").repeated(20000);
        QVERIFY(test::writeFile(source, content));
        QCOMPARE(::chmod(QFile::encodeName(source).constData(), 0640), 0);
        QVERIFY(test::writeFile(destinations.filePath("other.txt"), "other"));
        if (occupied)
            QVERIFY(test::writeFile(destination, "old"));

        QCOMPARE(platform::moveFileIntoPlace(source, destination), QString());
        QCOMPARE(test::readFile(destination), content);
        QVERIFY(!QFileInfo::exists(source));
        QCOMPARE(entries(destinations.path()), (QStringList{"other.txt", "자막.srt"}));
        // The file keeps its own permissions.
        struct stat placed;
        QCOMPARE(::stat(QFile::encodeName(destination).constData(), &placed), 0);
        QCOMPARE(placed.st_mode & 07777, mode_t(0640));
    }

    void aFileThatCannotBePlacedLeavesEverythingAsItWas_data()
    {
        QTest::addColumn<bool>("acrossFileSystems");
        QTest::newRow("same file system") << false;
        QTest::newRow("across file systems") << true;
    }
    void aFileThatCannotBePlacedLeavesEverythingAsItWas()
    {
        QFETCH(bool, acrossFileSystems);
        QTemporaryDir destinations;
        std::unique_ptr<QTemporaryDir> sources = acrossFileSystems ? otherFileSystemFolder(destinations.path())
                                                                   : std::make_unique<QTemporaryDir>();
        if (!sources)
            QSKIP("no second file system to write to");
        const QString source = sources->filePath("download");
        QVERIFY(test::writeFile(source, "content"));
        QVERIFY(QDir().mkpath(destinations.filePath("folder.txt/inside")));

        // Into a folder that is not there, and over a folder.
        QCOMPARE(platform::moveFileIntoPlace(source, destinations.filePath("missing/notes.txt")),
                 platform::systemErrorText(ENOENT));
        QVERIFY(!platform::moveFileIntoPlace(source, destinations.filePath("folder.txt")).isEmpty());
        QCOMPARE(test::readFile(source), "content");
        QCOMPARE(entries(destinations.path()), QStringList{"folder.txt"});
        QCOMPARE(entries(destinations.filePath("folder.txt")), QStringList{"inside"});
        QCOMPARE(entries(sources->path()), QStringList{"download"});
    }

private:
    // A temporary folder on another file system than folder: the shared memory file system,
    // when there is one.
    static std::unique_ptr<QTemporaryDir> otherFileSystemFolder(const QString &folder)
    {
        const QString shared = QStringLiteral("/dev/shm");
        struct stat here, there;
        if (::stat(QFile::encodeName(folder).constData(), &here) != 0
            || ::stat(QFile::encodeName(shared).constData(), &there) != 0 || here.st_dev == there.st_dev)
            return nullptr;
        auto dir = std::make_unique<QTemporaryDir>(shared + QStringLiteral("/velmora-test-XXXXXX"));
        return dir->isValid() ? std::move(dir) : nullptr;
    }
};

QTEST_GUILESS_MAIN(TestDownloadRules)

#include "tst_downloadrules.moc"
