// The rules of installing an update: which archive entries may be unpacked, how signatures and
// keys are read, how the journal reads back and what a start does about it, which versions
// are installed or offered, and when installing is refused.

#include "updates/ArchiveEntryChecker.h"
#include "updates/BundleInfo.h"
#include "updates/FirstStartWatch.h"
#include "updates/InstallJournal.h"
#include "updates/InstallPhase.h"
#include "updates/InstallRefusal.h"
#include "updates/UpdateSignature.h"

#include "UpdateFixtures.h"

#include <QTest>

#include <csignal>

using namespace velmora;
using namespace velmora::updates;

Q_DECLARE_METATYPE(velmora::updates::ArchiveEntry)
Q_DECLARE_METATYPE(velmora::updates::InstallJournal)
Q_DECLARE_METATYPE(velmora::updates::FolderIdentity)
Q_DECLARE_METATYPE(velmora::updates::InstallFacts)
Q_DECLARE_METATYPE(velmora::updates::InstallPhase)

Q_DECLARE_METATYPE(velmora::updates::EntryProblem)
Q_DECLARE_METATYPE(velmora::updates::SignatureCheck)
Q_DECLARE_METATYPE(velmora::updates::RecoveryAction)
Q_DECLARE_METATYPE(velmora::updates::JournalStep)
Q_DECLARE_METATYPE(velmora::updates::BundleVersionCheck)
Q_DECLARE_METATYPE(velmora::updates::InstallRefusal)
Q_DECLARE_METATYPE(velmora::updates::RollbackReason)
Q_DECLARE_METATYPE(velmora::updates::FirstStartVerdict)
Q_DECLARE_METATYPE(velmora::platform::ChildEnd)

namespace {

ArchiveEntry folder(const QByteArray &path, int mode = 0755)
{
    return ArchiveEntry{path, ArchiveEntryType::Directory, 0, {}, mode};
}
ArchiveEntry file(const QByteArray &path, qint64 size = 10, int mode = 0644)
{
    return ArchiveEntry{path, ArchiveEntryType::File, size, {}, mode};
}
ArchiveEntry symlinkEntry(const QByteArray &path, const QByteArray &target)
{
    return ArchiveEntry{path, ArchiveEntryType::Symlink, 0, target, 0777};
}

using Entries = QList<ArchiveEntry>;

const FolderIdentity oldId{2049, 100};
const FolderIdentity newId{2049, 200};
const FolderIdentity otherId{2049, 300};

InstallJournal journalAt(JournalStep step, int starts = 0, RollbackReason reason = RollbackReason::NotConfirmed)
{
    InstallJournal journal;
    journal.step = step;
    journal.bundle = QStringLiteral("/home/user/Apps/velmora");
    journal.fromVersion = QStringLiteral("1.0");
    journal.toVersion = QStringLiteral("1.1");
    journal.oldBundle = oldId;
    journal.newBundle = newId;
    journal.starts = starts;
    journal.reason = reason;
    return journal;
}

} // namespace

class TestUpdateRules : public QObject
{
    Q_OBJECT
private slots:
    void archiveEntries_data();
    void archiveEntries();
    void archiveLimits();
    void entryModes_data();
    void entryModes();

    void base64Decoding_data();
    void base64Decoding();
    void publicKeys_data();
    void publicKeys();
    void signatures_data();
    void signatures();
    void privateKeyForms();

    void journalRoundTrip_data();
    void journalRoundTrip();
    void journalRefused_data();
    void journalRefused();
    void recoveryPlan_data();
    void recoveryPlan();
    void firstStartVerdict_data();
    void firstStartVerdict();

    void bundleInfo_data();
    void bundleInfo();
    void bundleVersion_data();
    void bundleVersion();
    void offered_data();
    void offered();

    void installRefusal_data();
    void installRefusal();

    void installPhases_data();
    void installPhases();
};

void TestUpdateRules::archiveEntries_data()
{
    QTest::addColumn<Entries>("entries"); // the verdict of the last one counts
    QTest::addColumn<EntryProblem>("problem");
    QTest::addColumn<QString>("relativePath");

    const ArchiveEntry top = folder("velmora/");
    QTest::newRow("the bundle folder") << Entries{top} << EntryProblem::None << "";
    QTest::newRow("a file inside") << Entries{top, file("velmora/bin/velmora")} << EntryProblem::None << "bin/velmora";
    QTest::newRow("dot and double slashes fold away")
        << Entries{top, file("./velmora//Resources/./a.txt")} << EntryProblem::None << "Resources/a.txt";
    QTest::newRow("a folder implied, then named")
        << Entries{top, file("velmora/a/b"), folder("velmora/a/")} << EntryProblem::None << "a";
    QTest::newRow("a link within its folder")
        << Entries{top, symlinkEntry("velmora/bin/python3", "python3.11")} << EntryProblem::None << "bin/python3";
    QTest::newRow("a link up to the bundle and down")
        << Entries{top, symlinkEntry("velmora/bin/python3", "../Resources/python/bin/python3")} << EntryProblem::None
        << "bin/python3";

    QTest::newRow("absolute path") << Entries{file("/etc/passwd")} << EntryProblem::AbsolutePath << "";
    QTest::newRow("absolute path under the bundle name")
        << Entries{top, file("/velmora/bin/velmora")} << EntryProblem::AbsolutePath << "";
    QTest::newRow("parent reference") << Entries{top, file("velmora/../../.bashrc")} << EntryProblem::ParentReference << "";
    QTest::newRow("parent reference that stays inside")
        << Entries{top, file("velmora/bin/../Info.json")} << EntryProblem::ParentReference << "";
    QTest::newRow("another top folder") << Entries{top, file("other/bin/velmora")} << EntryProblem::OutsideTopFolder << "";
    QTest::newRow("a file beside the folder") << Entries{file("README")} << EntryProblem::OutsideTopFolder << "";
    QTest::newRow("the bundle as a file") << Entries{file("velmora")} << EntryProblem::TopFolderNotDirectory << "";
    QTest::newRow("the bundle as a link") << Entries{symlinkEntry("velmora", "/tmp")} << EntryProblem::TopFolderNotDirectory
                                          << "";
    QTest::newRow("empty name") << Entries{file("")} << EntryProblem::EmptyPath << "";
    QTest::newRow("only dots") << Entries{file("./.")} << EntryProblem::EmptyPath << "";
    QTest::newRow("not UTF-8") << Entries{top, file("velmora/\xff\xfe")} << EntryProblem::EmptyPath << "";

    QTest::newRow("absolute link") << Entries{top, symlinkEntry("velmora/bin/sh", "/bin/sh")} << EntryProblem::AbsoluteLink
                                   << "";
    QTest::newRow("link out of the bundle")
        << Entries{top, symlinkEntry("velmora/bin/x", "../../etc")} << EntryProblem::EscapingLink << "";
    QTest::newRow("link at the top out of the bundle")
        << Entries{top, symlinkEntry("velmora/x", "..")} << EntryProblem::EscapingLink << "";
    QTest::newRow("link climbing after a name")
        << Entries{top, symlinkEntry("velmora/x", "bin/../..")} << EntryProblem::EscapingLink << "";
    QTest::newRow("link climbing through another link")
        << Entries{top, symlinkEntry("velmora/here", "."), symlinkEntry("velmora/x", "here/..")}
        << EntryProblem::EscapingLink << "";
    QTest::newRow("empty link") << Entries{top, symlinkEntry("velmora/x", "")} << EntryProblem::EscapingLink << "";
    QTest::newRow("path through a link") << Entries{top, symlinkEntry("velmora/lib", "bin"), file("velmora/lib/evil")}
                                         << EntryProblem::ThroughLink << "";
    QTest::newRow("link over an earlier folder")
        << Entries{top, file("velmora/lib/a"), symlinkEntry("velmora/lib", "bin")} << EntryProblem::Duplicate << "";
    QTest::newRow("file twice") << Entries{top, file("velmora/a"), file("velmora/a")} << EntryProblem::Duplicate << "";
    QTest::newRow("file then a path through it")
        << Entries{top, file("velmora/a"), file("velmora/a/b")} << EntryProblem::Duplicate << "";
    QTest::newRow("hard link") << Entries{top, ArchiveEntry{"velmora/b", ArchiveEntryType::HardLink, 0, "velmora/a", 0644}}
                               << EntryProblem::HardLink << "";
    QTest::newRow("device or pipe") << Entries{top, ArchiveEntry{"velmora/dev", ArchiveEntryType::Other, 0, {}, 0600}}
                                    << EntryProblem::SpecialFile << "";
}

void TestUpdateRules::archiveEntries()
{
    QFETCH(Entries, entries);
    QFETCH(EntryProblem, problem);
    QFETCH(QString, relativePath);

    ArchiveEntryChecker checker;
    EntryVerdict verdict;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        verdict = checker.check(entries[i]);
        if (i + 1 < entries.size())
            QVERIFY2(verdict.ok(), qPrintable(QStringLiteral("entry %1 refused: %2").arg(i).arg(describe(verdict.problem))));
    }
    QCOMPARE(verdict.problem, problem);
    if (problem == EntryProblem::None)
        QCOMPARE(verdict.relativePath, relativePath);
}

void TestUpdateRules::archiveLimits()
{
    ArchiveLimits limits;
    limits.maxTotalBytes = 100;
    limits.maxEntries = 4;
    limits.maxPathBytes = 40;
    limits.maxDepth = 4;

    ArchiveEntryChecker size(QStringLiteral("velmora"), limits);
    QVERIFY(size.check(folder("velmora/")).ok());
    QVERIFY(size.check(file("velmora/a", 60)).ok());
    QVERIFY(size.check(file("velmora/b", 40)).ok()); // exactly the limit
    QCOMPARE(size.check(file("velmora/c", 1)).problem, EntryProblem::TooLarge);
    QCOMPARE(size.totalBytes(), 100);

    ArchiveEntryChecker count(QStringLiteral("velmora"), limits);
    for (const char *path : {"velmora/", "velmora/a/", "velmora/b/", "velmora/c/"})
        QVERIFY(count.check(folder(path)).ok());
    QCOMPARE(count.check(folder("velmora/d/")).problem, EntryProblem::TooManyEntries);

    ArchiveEntryChecker length(QStringLiteral("velmora"), limits);
    QCOMPARE(length.check(file("velmora/" + QByteArray(40, 'a'))).problem, EntryProblem::TooLong);
    QCOMPARE(length.check(file("velmora/a/b/c/d")).problem, EntryProblem::TooLong); // five levels
    QCOMPARE(length.check(file("velmora/a", -1)).problem, EntryProblem::TooLarge);
}

void TestUpdateRules::entryModes_data()
{
    QTest::addColumn<ArchiveEntry>("entry");
    QTest::addColumn<int>("mode");

    QTest::newRow("executable file keeps its bits") << file("velmora/bin/velmora", 1, 0755) << 0755;
    QTest::newRow("set-id and sticky bits dropped") << file("velmora/bin/velmora", 1, 06755) << 0755;
    QTest::newRow("read-only file stays removable") << file("velmora/a", 1, 0444) << 0644;
    QTest::newRow("locked folder stays searchable") << folder("velmora/a/", 0500) << 0700;
    QTest::newRow("sticky folder loses the others' write") << folder("velmora/a/", 01777) << 0755;
    QTest::newRow("group-writable file") << file("velmora/a", 1, 0664) << 0644;
    QTest::newRow("world-writable executable") << file("velmora/bin/velmora", 1, 0777) << 0755;
    QTest::newRow("group-writable folder") << folder("velmora/a/", 0775) << 0755;
}

void TestUpdateRules::entryModes()
{
    QFETCH(ArchiveEntry, entry);
    QFETCH(int, mode);
    ArchiveEntryChecker checker;
    QVERIFY(checker.check(folder("velmora/")).ok());
    const EntryVerdict verdict = checker.check(entry);
    QVERIFY(verdict.ok());
    QCOMPARE(verdict.mode, mode);
}

void TestUpdateRules::base64Decoding_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("accepted");

    const QString key = QString::fromLatin1(QByteArray(32, '\x01').toBase64());
    QTest::newRow("32 bytes") << key << 32 << true;
    QTest::newRow("wrong size asked") << key << 64 << false;
    QTest::newRow("pad missing") << key.chopped(1) << 32 << false;
    QTest::newRow("white space inside") << key.left(10) + " " + key.mid(11) << 32 << false;
    QTest::newRow("URL alphabet") << QString(key).replace(QLatin1Char('B'), QLatin1Char('-')) << 32 << false;
    QTest::newRow("unused bits set") << key.chopped(2) + "R=" << 32 << false; // "AQ=" spelled with bits after the byte
    QTest::newRow("empty") << QString() << 32 << false;
    QTest::newRow("pad inside") << key.left(20) + "=" + key.mid(21) << 32 << false;
}

void TestUpdateRules::base64Decoding()
{
    QFETCH(QString, text);
    QFETCH(int, size);
    QFETCH(bool, accepted);
    const auto decoded = decodeBase64Exactly(text, size);
    QCOMPARE(decoded.has_value(), accepted);
    if (accepted)
        QCOMPARE(decoded->size(), size);
}

void TestUpdateRules::publicKeys_data()
{
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<int>("count"); // -1: an error
    const QString one = QString::fromLatin1(QByteArray(32, 'a').toBase64());
    const QString two = QString::fromLatin1(QByteArray(32, 'b').toBase64());

    QTest::newRow("none") << QStringList{} << 0;
    QTest::newRow("one") << QStringList{one} << 1;
    QTest::newRow("two while rotating") << QStringList{one, two} << 2;
    QTest::newRow("three") << QStringList{one, two, one} << -1;
    QTest::newRow("a 64-byte private key by mistake")
        << QStringList{QString::fromLatin1(QByteArray(64, 'c').toBase64())} << -1;
    QTest::newRow("one good, one not") << QStringList{one, QStringLiteral("not a key")} << -1;
}

void TestUpdateRules::publicKeys()
{
    QFETCH(QStringList, keys);
    QFETCH(int, count);
    const PublicKeys decoded = decodePublicKeys(keys);
    QCOMPARE(decoded.ok(), count >= 0);
    QCOMPARE(decoded.keys.size(), qMax(count, 0));
}

void TestUpdateRules::signatures_data()
{
    QTest::addColumn<QByteArray>("signedData");
    QTest::addColumn<QByteArray>("checkedData");
    QTest::addColumn<QString>("signature"); // "sign": made with the test key
    QTest::addColumn<int>("keys");          // 0 none, 1 the test key, 2 another key first, 3 only another key
    QTest::addColumn<SignatureCheck>("expected");

    const QByteArray archive = test::makeTarGz(test::bundleEntries(QStringLiteral("1.1"), "#!/bin/sh\n"));
    QByteArray tampered = archive;
    tampered[tampered.size() / 2] = char(tampered[tampered.size() / 2] ^ 0x01);
    const QString sign = QStringLiteral("sign");

    QTest::newRow("valid") << archive << archive << sign << 1 << SignatureCheck::Valid;
    QTest::newRow("valid with the second key of two") << archive << archive << sign << 2 << SignatureCheck::Valid;
    QTest::newRow("one byte changed") << archive << tampered << sign << 1 << SignatureCheck::Invalid;
    QTest::newRow("cut short") << archive << archive.chopped(1) << sign << 1 << SignatureCheck::Invalid;
    QTest::newRow("one byte more") << archive << archive + '\0' << sign << 1 << SignatureCheck::Invalid;
    QTest::newRow("another key") << archive << archive << sign << 3 << SignatureCheck::Invalid;
    QTest::newRow("missing") << archive << archive << QString() << 1 << SignatureCheck::Missing;
    QTest::newRow("not base64") << archive << archive << QStringLiteral("not a signature") << 1 << SignatureCheck::Malformed;
    QTest::newRow("32 bytes only") << archive << archive << QString::fromLatin1(QByteArray(32, 'x').toBase64()) << 1
                                   << SignatureCheck::Malformed;
    QTest::newRow("no keys in the build") << archive << archive << sign << 0 << SignatureCheck::NoKeys;
}

void TestUpdateRules::signatures()
{
    QFETCH(QByteArray, signedData);
    QFETCH(QByteArray, checkedData);
    QFETCH(QString, signature);
    QFETCH(int, keys);
    QFETCH(SignatureCheck, expected);

    const KeyPair other = generateKeyPair();
    if (signature == QLatin1String("sign"))
        signature = signData(signedData, test::testKeys());
    QList<QByteArray> keyList;
    if (keys == 1)
        keyList = {test::testKeys().publicKey};
    else if (keys == 2)
        keyList = {other.publicKey, test::testKeys().publicKey};
    else if (keys == 3)
        keyList = {other.publicKey};
    QCOMPARE(verifySignature(checkedData, signature, keyList), expected);
}

void TestUpdateRules::privateKeyForms()
{
    const KeyPair pair = generateKeyPair();
    QCOMPARE(pair.seed.size(), 32);
    QCOMPARE(pair.publicKey.size(), 32);
    // The seed and libsodium's 64-byte form (seed, then the public key) give the same pair.
    QCOMPARE(keyPairFromPrivateKey(pair.seed)->publicKey, pair.publicKey);
    QCOMPARE(keyPairFromPrivateKey(pair.seed + pair.publicKey)->publicKey, pair.publicKey);
    QVERIFY(!keyPairFromPrivateKey(pair.seed + generateKeyPair().publicKey)); // halves that do not belong together
    QVERIFY(!keyPairFromPrivateKey(pair.seed.left(31)));
    // Ed25519 is deterministic: the same key signs the same bytes the same way.
    QCOMPARE(signData("archive", pair), signData("archive", *keyPairFromPrivateKey(pair.seed)));
}

void TestUpdateRules::journalRoundTrip_data()
{
    QTest::addColumn<JournalStep>("step");
    QTest::addColumn<RollbackReason>("reason");
    for (JournalStep step : {JournalStep::Downloading, JournalStep::Downloaded, JournalStep::Unpacking, JournalStep::Ready,
                             JournalStep::Swapping, JournalStep::Swapped, JournalStep::Confirmed, JournalStep::RollingBack,
                             JournalStep::RolledBack})
        QTest::newRow(qPrintable(stepName(step))) << step << RollbackReason::RelaunchFailed;
    for (RollbackReason reason : {RollbackReason::NotConfirmed, RollbackReason::FirstStartFailed})
        QTest::addRow("rolled back, reason %d", int(reason)) << JournalStep::RolledBack << reason;
}

void TestUpdateRules::journalRoundTrip()
{
    QFETCH(JournalStep, step);
    QFETCH(RollbackReason, reason);
    InstallJournal journal = journalAt(step, 2, reason);
    journal.oldBundle = FolderIdentity{std::numeric_limits<quint64>::max(), 1};
    const auto read = parseJournal(serializeJournal(journal));
    QVERIFY(read);
    QCOMPARE(*read, journal);
}

void TestUpdateRules::journalRefused_data()
{
    QTest::addColumn<QByteArray>("document");
    const QByteArray good = serializeJournal(journalAt(JournalStep::Swapped));
    auto with = [&good](const char *from, const char *to) { return QByteArray(good).replace(from, to); };

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("cut short") << good.left(good.size() / 2);
    QTest::newRow("array") << QByteArray("[]");
    QTest::newRow("other format") << with("\"format\": 1", "\"format\": 2");
    QTest::newRow("unknown step") << with("\"swapped\"", "\"installed\"");
    QTest::newRow("step not a string") << with("\"step\": \"swapped\"", "\"step\": 5");
    QTest::newRow("bundle not a string") << with("\"bundle\": \"/home/user/Apps/velmora\"", "\"bundle\": null");
    QTest::newRow("empty bundle") << with("\"bundle\": \"/home/user/Apps/velmora\"", "\"bundle\": \"\"");
    QTest::newRow("negative starts") << with("\"starts\": 0", "\"starts\": -1");
    QTest::newRow("fractional starts") << with("\"starts\": 0", "\"starts\": 1.5");
    QTest::newRow("huge starts") << with("\"starts\": 0", "\"starts\": 1e300");
    QTest::newRow("identity with a sign") << with("\"2049:100\"", "\"+2049:100\"");
    QTest::newRow("identity without inode") << with("\"2049:100\"", "\"2049:\"");
    QTest::newRow("identity too large") << with("\"2049:100\"", "\"2049:184467440737095516160\"");
    QTest::newRow("swapped without identities") << with("\"2049:100\"", "\"0:0\"");
    QTest::newRow("both identities the same") << with("\"2049:200\"", "\"2049:100\"");
    QTest::newRow("unknown reason") << with("\"notConfirmed\"", "\"tired\"");
    QTest::newRow("over the size limit") << good + QByteArray(maxJournalBytes, ' ');
}

void TestUpdateRules::journalRefused()
{
    QFETCH(QByteArray, document);
    QVERIFY(!parseJournal(document));
}

void TestUpdateRules::recoveryPlan_data()
{
    QTest::addColumn<int>("journalState"); // 0 absent, 1 unreadable, 2 read
    QTest::addColumn<InstallJournal>("journal");
    QTest::addColumn<bool>("workFolder");
    QTest::addColumn<bool>("heldByAnother");
    QTest::addColumn<FolderIdentity>("atBundle");
    QTest::addColumn<FolderIdentity>("atSwap");
    QTest::addColumn<RecoveryAction>("action");
    QTest::addColumn<JournalStep>("stepAfter");
    QTest::addColumn<int>("startsAfter");

    const FolderIdentity none;
    QTest::newRow("nothing at all") << 0 << InstallJournal() << false << false << oldId << none << RecoveryAction::Nothing
                                    << JournalStep::Downloading << 0;
    QTest::newRow("work folder without journal") << 0 << InstallJournal() << true << false << oldId << none
                                                 << RecoveryAction::DiscardWork << JournalStep::Downloading << 0;
    QTest::newRow("unreadable journal") << 1 << InstallJournal() << true << false << oldId << newId
                                        << RecoveryAction::DiscardWork << JournalStep::Downloading << 0;
    QTest::newRow("another Velmora installs") << 2 << journalAt(JournalStep::Ready) << true << true << oldId << newId
                                              << RecoveryAction::LeaveAlone << JournalStep::Ready << 0;
    for (JournalStep step : {JournalStep::Downloading, JournalStep::Downloaded, JournalStep::Unpacking, JournalStep::Ready})
        QTest::newRow(qPrintable(QStringLiteral("stopped while %1").arg(stepName(step))))
            << 2 << journalAt(step) << true << false << oldId << newId << RecoveryAction::DiscardWork << step << 0;
    QTest::newRow("swapping, not yet exchanged") << 2 << journalAt(JournalStep::Swapping) << true << false << oldId << newId
                                                 << RecoveryAction::DiscardWork << JournalStep::Swapping << 0;
    QTest::newRow("swapping, exchanged: first start") << 2 << journalAt(JournalStep::Swapping) << true << false << newId
                                                      << oldId << RecoveryAction::CountStart << JournalStep::Swapped << 1;
    QTest::newRow("swapped: first start") << 2 << journalAt(JournalStep::Swapped, 0) << true << false << newId << oldId
                                          << RecoveryAction::CountStart << JournalStep::Swapped << 1;
    QTest::newRow("swapped: second start") << 2 << journalAt(JournalStep::Swapped, 1) << true << false << newId << oldId
                                           << RecoveryAction::CountStart << JournalStep::Swapped << 2;
    QTest::newRow("swapped: third start rolls back") << 2 << journalAt(JournalStep::Swapped, 2) << true << false << newId
                                                     << oldId << RecoveryAction::RollBack << JournalStep::RollingBack << 2;
    QTest::newRow("swapped: no backup to go back to") << 2 << journalAt(JournalStep::Swapped, 2) << true << false << newId
                                                      << none << RecoveryAction::DiscardWork << JournalStep::Swapped << 2;
    QTest::newRow("swapped, but another bundle there") << 2 << journalAt(JournalStep::Swapped, 1) << true << false << otherId
                                                       << oldId << RecoveryAction::DiscardWork << JournalStep::Swapped << 1;
    QTest::newRow("confirmed, backup not yet removed")
        << 2 << journalAt(JournalStep::Confirmed, 1) << true << false << newId << oldId << RecoveryAction::FinishConfirmation
        << JournalStep::Confirmed << 1;
    QTest::newRow("rolling back, not yet exchanged") << 2 << journalAt(JournalStep::RollingBack, 2) << true << false << newId
                                                     << oldId << RecoveryAction::RollBack << JournalStep::RollingBack << 2;
    QTest::newRow("rolling back, exchanged") << 2 << journalAt(JournalStep::RollingBack, 2) << true << false << oldId
                                             << newId << RecoveryAction::ReportRolledBack << JournalStep::RolledBack << 2;
    QTest::newRow("rolled back") << 2 << journalAt(JournalStep::RolledBack, 2) << true << false << oldId << newId
                                 << RecoveryAction::ReportRolledBack << JournalStep::RolledBack << 2;
    QTest::newRow("rolled back, but the new one there")
        << 2 << journalAt(JournalStep::RolledBack, 2) << true << false << newId << oldId << RecoveryAction::DiscardWork
        << JournalStep::RolledBack << 2;
}

void TestUpdateRules::recoveryPlan()
{
    QFETCH(int, journalState);
    QFETCH(InstallJournal, journal);
    QFETCH(bool, workFolder);
    QFETCH(bool, heldByAnother);
    QFETCH(FolderIdentity, atBundle);
    QFETCH(FolderIdentity, atSwap);
    QFETCH(RecoveryAction, action);
    QFETCH(JournalStep, stepAfter);
    QFETCH(int, startsAfter);

    RecoveryFacts facts;
    facts.journalState = RecoveryFacts::Journal(journalState);
    facts.journal = journal;
    facts.workFolderExists = workFolder;
    facts.heldByAnother = heldByAnother;
    facts.atBundle = atBundle;
    facts.atSwap = atSwap;
    const RecoveryPlan plan = planRecovery(facts);
    QCOMPARE(plan.action, action);
    if (journalState == 2) {
        QCOMPARE(plan.journal.step, stepAfter);
        QCOMPARE(plan.journal.starts, startsAfter);
        // What a plan writes reads back.
        QVERIFY(parseJournal(serializeJournal(plan.journal)));
    }
}

void TestUpdateRules::firstStartVerdict_data()
{
    using platform::ChildEnd;
    QTest::addColumn<bool>("awaiting"); // the journal still waits for the new version to confirm itself
    QTest::addColumn<ChildEnd>("end");
    QTest::addColumn<bool>("boundPassed");
    QTest::addColumn<FirstStartVerdict>("verdict");

    const ChildEnd running;
    auto exited = [](int code) { return ChildEnd{ChildEnd::State::Exited, code}; };
    auto signalled = [](int number) { return ChildEnd{ChildEnd::State::Signalled, number}; };

    QTest::newRow("starting") << true << running << false << FirstStartVerdict::Wait;
    QTest::newRow("not up within the bound") << true << running << true << FirstStartVerdict::Stop;
    QTest::newRow("confirmed, running") << false << running << false << FirstStartVerdict::Done;
    QTest::newRow("confirmed, running past the bound") << false << running << true << FirstStartVerdict::Done;
    QTest::newRow("confirmed, then crashed") << false << signalled(SIGSEGV) << false << FirstStartVerdict::Done;
    // Ended by a failure before it was up.
    QTest::newRow("exit status 1") << true << exited(1) << false << FirstStartVerdict::RollBack;
    QTest::newRow("exit status 127") << true << exited(127) << false << FirstStartVerdict::RollBack;
    QTest::newRow("SIGSEGV") << true << signalled(SIGSEGV) << false << FirstStartVerdict::RollBack;
    QTest::newRow("SIGABRT") << true << signalled(SIGABRT) << false << FirstStartVerdict::RollBack;
    QTest::newRow("SIGKILL") << true << signalled(SIGKILL) << false << FirstStartVerdict::RollBack;
    QTest::newRow("failed after the bound") << true << exited(1) << true << FirstStartVerdict::RollBack;
    // Ended on purpose: the user quit, or asked it to end; the next start is watched again.
    QTest::newRow("exit status 0") << true << exited(0) << false << FirstStartVerdict::Done;
    QTest::newRow("SIGTERM") << true << signalled(SIGTERM) << false << FirstStartVerdict::Done;
    QTest::newRow("SIGINT") << true << signalled(SIGINT) << false << FirstStartVerdict::Done;
    QTest::newRow("SIGHUP") << true << signalled(SIGHUP) << false << FirstStartVerdict::Done;
}

void TestUpdateRules::firstStartVerdict()
{
    QFETCH(bool, awaiting);
    QFETCH(platform::ChildEnd, end);
    QFETCH(bool, boundPassed);
    QFETCH(FirstStartVerdict, verdict);
    QCOMPARE(judgeFirstStart(FirstStartFacts{awaiting, end, boundPassed}), verdict);
}

void TestUpdateRules::bundleInfo_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("version"); // empty: refused

    QTest::newRow("installed Info.json") << QByteArray("{\"CFBundleIdentifier\": \"app.velmora.Velmora\", "
                                                       "\"CFBundleShortVersionString\": \"1.2.0\", "
                                                       "\"VelmoraUpdatePublicKeys\": []}")
                                         << "1.2.0";
    QTest::newRow("no version") << QByteArray("{\"CFBundleIdentifier\": \"x\"}") << "";
    QTest::newRow("number version") << QByteArray("{\"CFBundleShortVersionString\": 1.2}") << "";
    QTest::newRow("blank version") << QByteArray("{\"CFBundleShortVersionString\": \"  \"}") << "";
    QTest::newRow("array") << QByteArray("[\"1.2\"]") << "";
    QTest::newRow("not JSON") << QByteArray("CFBundleShortVersionString=1.2") << "";
    QTest::newRow("over the size limit") << "{\"CFBundleShortVersionString\": \"1.2\", \"x\": \""
                                                + QByteArray(maxBundleInfoBytes, 'a') + "\"}"
                                         << "";
}

void TestUpdateRules::bundleInfo()
{
    QFETCH(QByteArray, document);
    QFETCH(QString, version);
    const BundleInfo info = parseBundleInfo(document);
    QCOMPARE(info.ok(), !version.isEmpty());
    QCOMPARE(info.version, version);
}

void TestUpdateRules::bundleVersion_data()
{
    QTest::addColumn<QString>("bundle");
    QTest::addColumn<QString>("feed");
    QTest::addColumn<QString>("running");
    QTest::addColumn<BundleVersionCheck>("expected");

    QTest::newRow("newer, as announced") << "1.1"
                                         << "1.1"
                                         << "1.0" << BundleVersionCheck::Accepted;
    QTest::newRow("announced in another spelling") << "1.1.0"
                                                   << "1.1"
                                                   << "1.0" << BundleVersionCheck::Accepted;
    QTest::newRow("not what the feed announced") << "1.2"
                                                 << "1.1"
                                                 << "1.0" << BundleVersionCheck::NotTheFeedsVersion;
    QTest::newRow("older than announced") << "0.9"
                                          << "1.1"
                                          << "1.0" << BundleVersionCheck::NotTheFeedsVersion;
    QTest::newRow("downgrade announced as such") << "0.9"
                                                 << "0.9"
                                                 << "1.0" << BundleVersionCheck::NotNewer;
    QTest::newRow("the same version") << "1.0"
                                      << "1.0"
                                      << "1.0" << BundleVersionCheck::NotNewer;
    QTest::newRow("pre-release of the running one") << "1.0b2"
                                                    << "1.0b2"
                                                    << "1.0" << BundleVersionCheck::NotNewer;
    QTest::newRow("no version") << ""
                                << "1.1"
                                << "1.0" << BundleVersionCheck::NotTheFeedsVersion;
}

void TestUpdateRules::bundleVersion()
{
    QFETCH(QString, bundle);
    QFETCH(QString, feed);
    QFETCH(QString, running);
    QFETCH(BundleVersionCheck, expected);
    QCOMPARE(checkBundleVersion(bundle, feed, running), expected);
}

void TestUpdateRules::offered_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("skipped");
    QTest::addColumn<bool>("userInitiated");
    QTest::addColumn<bool>("offered");

    QTest::newRow("nothing skipped") << "1.1"
                                     << "" << false << true;
    QTest::newRow("the skipped version, background") << "1.1"
                                                     << "1.1" << false << false;
    QTest::newRow("an older one than skipped, background") << "1.0.5"
                                                           << "1.1" << false << false;
    QTest::newRow("a newer one appears") << "1.2"
                                         << "1.1" << false << true;
    QTest::newRow("the skipped version, asked for") << "1.1"
                                                    << "1.1" << true << true;
}

void TestUpdateRules::offered()
{
    QFETCH(QString, version);
    QFETCH(QString, skipped);
    QFETCH(bool, userInitiated);
    QFETCH(bool, offered);
    QCOMPARE(isOffered(version, skipped, userInitiated), offered);
}

void TestUpdateRules::installRefusal_data()
{
    QTest::addColumn<InstallFacts>("facts");
    QTest::addColumn<InstallRefusal>("expected");

    const InstallFacts fine{true, false, true, true, false, true, true};
    auto with = [&fine](auto change) {
        InstallFacts facts = fine;
        change(facts);
        return facts;
    };
    QTest::newRow("own bundle in a user folder") << fine << InstallRefusal::None;
    QTest::newRow("not a bundle") << with([](InstallFacts &f) { f.isBundle = false; }) << InstallRefusal::NotABundle;
    QTest::newRow("Debian package") << with([](InstallFacts &f) { f.ownedByPackage = true; })
                                    << InstallRefusal::PackageManaged;
    QTest::newRow("Debian package, read-only as it is") << with([](InstallFacts &f) {
        f.ownedByPackage = true;
        f.bundleWritable = false;
        f.parentWritable = false;
    }) << InstallRefusal::PackageManaged;
    QTest::newRow("bundle read-only") << with([](InstallFacts &f) { f.bundleWritable = false; })
                                      << InstallRefusal::NotWritable;
    QTest::newRow("folder around it read-only")
        << with([](InstallFacts &f) { f.parentWritable = false; }) << InstallRefusal::NotWritable;
    QTest::newRow("others may write the folder around it")
        << with([](InstallFacts &f) { f.parentWritableByOthers = true; }) << InstallRefusal::SharedParent;
    QTest::newRow("read-only and shared: the user's own lack comes first") << with([](InstallFacts &f) {
        f.parentWritable = false;
        f.parentWritableByOthers = true;
    }) << InstallRefusal::NotWritable;
    QTest::newRow("mount point") << with([](InstallFacts &f) { f.sameFileSystemAsParent = false; })
                                 << InstallRefusal::SeparateFileSystem;
    QTest::newRow("no signing key") << with([](InstallFacts &f) { f.hasPublicKeys = false; })
                                    << InstallRefusal::NoPublicKeys;
}

void TestUpdateRules::installRefusal()
{
    QFETCH(InstallFacts, facts);
    QFETCH(InstallRefusal, expected);
    QCOMPARE(decideInstallRefusal(facts), expected);
}

void TestUpdateRules::installPhases_data()
{
    QTest::addColumn<InstallPhase>("phase");
    QTest::addColumn<bool>("installing");
    QTest::addColumn<bool>("underWay");
    QTest::addColumn<bool>("cancellable");
    QTest::addColumn<bool>("outcome");
    QTest::addColumn<bool>("later");

    // phase: installing, under way (a new request shows it), cancellable, outcome, can wait
    QTest::newRow("idle") << InstallPhase::Idle << false << false << false << false << false;
    QTest::newRow("checking") << InstallPhase::Checking << false << true << true << false << false;
    QTest::newRow("found") << InstallPhase::Found << false << true << false << false << true;
    QTest::newRow("no update") << InstallPhase::NoUpdate << false << false << false << true << false;
    QTest::newRow("check failed") << InstallPhase::CheckFailed << false << false << false << true << false;
    QTest::newRow("downloading") << InstallPhase::Downloading << true << true << true << false << false;
    QTest::newRow("preparing") << InstallPhase::Preparing << true << true << true << false << false;
    QTest::newRow("ready") << InstallPhase::Ready << false << true << false << false << true;
    QTest::newRow("waiting for the backend") << InstallPhase::Waiting << true << true << false << false << true;
    QTest::newRow("installing") << InstallPhase::Installing << true << true << false << false << false;
    QTest::newRow("failed") << InstallPhase::Failed << false << false << false << true << false;
    QTest::newRow("refused") << InstallPhase::Refused << false << false << false << true << false;
}

void TestUpdateRules::installPhases()
{
    QFETCH(InstallPhase, phase);
    QFETCH(bool, installing);
    QFETCH(bool, underWay);
    QFETCH(bool, cancellable);
    QFETCH(bool, outcome);
    QFETCH(bool, later);

    QCOMPARE(isInstalling(phase), installing);
    QCOMPARE(isUnderWay(phase), underWay);
    QCOMPARE(isCancellable(phase), cancellable);
    QCOMPARE(isOutcome(phase), outcome);
    QCOMPARE(canWaitForLater(phase), later);
    // Whatever can be cancelled or wait is under way; an outcome never is.
    QVERIFY(!(isCancellable(phase) || canWaitForLater(phase) || isInstalling(phase)) || isUnderWay(phase));
    QVERIFY(!(isOutcome(phase) && isUnderWay(phase)));
}

QTEST_GUILESS_MAIN(TestUpdateRules)
#include "tst_updaterules.moc"
