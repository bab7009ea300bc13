#include "TestSupport.h"
#include "UnprivilegedRun.h"

#include "workspace/VoiceMemoRecordings.h"

#include <QCoreApplication>
#include <QDir>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QThreadPool>

#include <unistd.h>

using namespace velmora;
using namespace velmora::workspace;

namespace {

// A home folder and a data home staged in a temporary folder.
struct StagedHome
{
    QTemporaryDir dir;
    RecordingPlaces places() const { return {dir.filePath("home"), dir.filePath("data")}; }
    QStringList folders() const { return recordingFolders(places()); }
};

} // namespace

class TestVoiceMemoRecordings : public QObject
{
    Q_OBJECT
private slots:
    void foldersInProbeOrder()
    {
        const RecordingPlaces places{"/home/u", "/home/u/.local/share"};
        QCOMPARE(recordingFolders(places),
                 (QStringList{
                     "/home/u/Library/Group Containers/group.com.apple.VoiceMemos.shared/Recordings",
                     "/home/u/Library/Containers/com.apple.VoiceMemos/Data/Library/Application Support/Recordings",
                     "/home/u/Library/Application Support/com.apple.voicememos/Recordings",
                     "/home/u/.local/share/org.gnome.SoundRecorder",
                     "/home/u/.var/app/org.gnome.SoundRecorder/data/org.gnome.SoundRecorder",
                 }));
    }

    void dataHomeFollowsTheEnvironment_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("dataHome");
        QTest::newRow("absolute") << QByteArray("/srv/data") << "/srv/data";
        QTest::newRow("relative is ignored") << QByteArray("data") << QDir::homePath() + "/.local/share";
        QTest::newRow("empty") << QByteArray("") << QDir::homePath() + "/.local/share";
    }
    void dataHomeFollowsTheEnvironment()
    {
        QFETCH(QByteArray, value);
        QFETCH(QString, dataHome);
        const QByteArray saved = qgetenv("XDG_DATA_HOME");
        const bool had = qEnvironmentVariableIsSet("XDG_DATA_HOME");
        auto restore = qScopeGuard([&] { had ? qputenv("XDG_DATA_HOME", saved) : qunsetenv("XDG_DATA_HOME"); });
        qputenv("XDG_DATA_HOME", value);
        QCOMPARE(RecordingPlaces::current().dataHome, dataHome);
        QCOMPARE(RecordingPlaces::current().home, QDir::homePath());
    }

    // Folders (by their index in the probe order) made as folders, with a recording, or as a
    // plain file where the folder should be.
    void listing_data()
    {
        QTest::addColumn<QList<int>>("emptyFolders");
        QTest::addColumn<QList<int>>("foldersWithRecordings");
        QTest::addColumn<QList<int>>("filesInPlace");
        QTest::addColumn<bool>("readable");
        QTest::newRow("recordings in the first") << QList<int>{} << QList<int>{0} << QList<int>{} << true;
        QTest::newRow("first missing, second readable") << QList<int>{1} << QList<int>{} << QList<int>{} << true;
        QTest::newRow("only the third") << QList<int>{} << QList<int>{2} << QList<int>{} << true;
        QTest::newRow("an empty folder counts") << QList<int>{0} << QList<int>{} << QList<int>{} << true;
        QTest::newRow("GNOME Sound Recorder") << QList<int>{} << QList<int>{3} << QList<int>{} << true;
        QTest::newRow("GNOME Sound Recorder as a Flatpak") << QList<int>{} << QList<int>{4} << QList<int>{} << true;
        QTest::newRow("none present") << QList<int>{} << QList<int>{} << QList<int>{} << false;
        QTest::newRow("files where the folders should be")
            << QList<int>{} << QList<int>{} << QList<int>{0, 1, 2, 3, 4} << false;
        QTest::newRow("a file first, a folder later") << QList<int>{4} << QList<int>{} << QList<int>{0} << true;
    }
    void listing()
    {
        QFETCH(QList<int>, emptyFolders);
        QFETCH(QList<int>, foldersWithRecordings);
        QFETCH(QList<int>, filesInPlace);
        QFETCH(bool, readable);
        StagedHome staged;
        const QStringList folders = staged.folders();
        for (int i : emptyFolders)
            QVERIFY(QDir().mkpath(folders.at(i)));
        for (int i : foldersWithRecordings)
            QVERIFY(test::writeFile(folders.at(i) + "/20240101 120000.m4a", "audio"));
        for (int i : filesInPlace)
            QVERIFY(test::writeFile(folders.at(i), "not a folder"));
        QCOMPARE(canListAnyFolder(folders), readable);
    }

    void whatListingFinds()
    {
        StagedHome staged;
        const QStringList folders = staged.folders();
        QVERIFY(QDir().mkpath(folders.at(0)));
        QVERIFY(test::writeFile(folders.at(1), "not a folder"));
        QCOMPARE(workspace::folderAccess(folders.at(0)), FolderAccess::Listed);
        QCOMPARE(workspace::folderAccess(folders.at(1)), FolderAccess::Missing);
        QCOMPARE(workspace::folderAccess(folders.at(2)), FolderAccess::Missing);
        if (::geteuid() != 0) {
            QVERIFY(QFile::setPermissions(folders.at(0), QFileDevice::WriteOwner | QFileDevice::ExeOwner));
            auto restore = qScopeGuard([&] {
                QFile::setPermissions(folders.at(0),
                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            });
            QCOMPARE(workspace::folderAccess(folders.at(0)), FolderAccess::Refused);
        }
    }

    void recordingsReadable_data()
    {
        using F = FolderAccess;
        QTest::addColumn<QList<FolderAccess>>("found");
        QTest::addColumn<bool>("permissionSystem");
        QTest::addColumn<bool>("readable");
        const QList<F> noneYet{F::Missing, F::Missing, F::Missing, F::Missing, F::Missing};
        const QList<F> refused{F::Missing, F::Missing, F::Missing, F::Refused, F::Missing};
        const QList<F> oneListed{F::Missing, F::Missing, F::Missing, F::Refused, F::Listed};
        QTest::newRow("Linux: no recorder folder yet") << noneYet << false << true;
        QTest::newRow("Linux: a folder that cannot be read") << refused << false << false;
        QTest::newRow("Linux: one readable folder is enough") << oneListed << false << true;
        QTest::newRow("macOS: nothing found is no access") << noneYet << true << false;
        QTest::newRow("macOS: refused") << refused << true << false;
        QTest::newRow("macOS: one readable folder") << oneListed << true << true;
    }

    void recordingsReadable()
    {
        QFETCH(QList<FolderAccess>, found);
        QFETCH(bool, permissionSystem);
        QFETCH(bool, readable);
        QCOMPARE(workspace::recordingsReadable(found, permissionSystem), readable);
    }

    void unreadableFoldersDoNotCount()
    {
        if (const std::optional<bool> passed = test::rerunUnprivilegedIfRoot()) {
            QVERIFY2(*passed, "the case run as nobody failed");
            return;
        }
        StagedHome staged;
        const QStringList folders = staged.folders();
        for (const QString &folder : folders) {
            QVERIFY(QDir().mkpath(folder));
            QVERIFY(QFile::setPermissions(folder, QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        }
        auto restore = qScopeGuard([&] {
            for (const QString &folder : folders)
                QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        });
        QVERIFY(!canListAnyFolder(folders));
    }

    void probeAnswersLaterOnTheMainThread()
    {
        StagedHome staged;
        QVERIFY(QDir().mkpath(staged.folders().at(3)));
        QObject receiver;
        std::optional<bool> answer;
        QThread *answeredOn = nullptr;
        probeVoiceMemoAccess(staged.places(), &receiver, [&](bool readable) {
            answer = readable;
            answeredOn = QThread::currentThread();
        });
        QVERIFY(!answer); // never inside the call
        QTRY_VERIFY_WITH_TIMEOUT(answer.has_value(), test::patience);
        QCOMPARE(*answer, true);
        QCOMPARE(answeredOn, QCoreApplication::instance()->thread());
    }

    void probeWhoseReceiverIsGoneAnswersNothing()
    {
        StagedHome staged;
        auto receiver = std::make_unique<QObject>();
        bool answered = false;
        probeVoiceMemoAccess(staged.places(), receiver.get(), [&](bool) { answered = true; });
        receiver.reset();
        // A later probe's answer shows that the first one has been delivered, if ever.
        QObject later;
        bool laterAnswered = false;
        probeVoiceMemoAccess(staged.places(), &later, [&](bool) { laterAnswered = true; });
        QTRY_VERIFY_WITH_TIMEOUT(laterAnswered, test::patience);
        QVERIFY(QThreadPool::globalInstance()->waitForDone(test::patience));
        test::drainEvents();
        QVERIFY(!answered);
    }
};

QTEST_GUILESS_MAIN(TestVoiceMemoRecordings)
#include "tst_voicememorecordings.moc"
