// What a start of Velmora does with an installation an earlier run left, on real folders: a
// rollback is told once, over the window, and the version that was rolled back is marked so
// that checks the user did not ask for pass it by; other outcomes mark nothing.

#include "TestSupport.h"
#include "TreeSnapshot.h"
#include "UpdateFixtures.h"

#include "app/InstalledUpdate.h"
#include "platform/InstallFiles.h"
#include "updates/InstallJournal.h"
#include "updates/SettingsKeys.h"
#include "updates/Texts.h"
#include "updates/UpdateInstaller.h"

#include <QApplication>
#include <QMessageBox>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace velmora;
using updates::JournalStep;
using updates::RollbackReason;

Q_DECLARE_METATYPE(velmora::updates::JournalStep)
Q_DECLARE_METATYPE(velmora::updates::RollbackReason)

namespace {

const QString oldVersion = QStringLiteral("1.0");
const QString newVersion = QStringLiteral("1.1");

} // namespace

class TestInstalledUpdate : public QObject
{
    Q_OBJECT
private slots:
    void recoveryMarksOnlyARollback_data()
    {
        QTest::addColumn<JournalStep>("step");
        QTest::addColumn<RollbackReason>("reason");
        QTest::addColumn<bool>("newAtBundle"); // else the old version stands at the bundle's path
        QTest::addColumn<QString>("message");  // shown, and the version marked, when not empty
        QTest::addColumn<bool>("workLeft");

        QTest::newRow("rolled back after its first start")
            << JournalStep::RolledBack << RollbackReason::FirstStartFailed << false
            << updates::rolledBackFirstStartText.arg(newVersion, oldVersion) << false;
        QTest::newRow("rolled back after unconfirmed starts")
            << JournalStep::RolledBack << RollbackReason::NotConfirmed << false
            << updates::rolledBackNotConfirmedText.arg(newVersion, oldVersion) << false;
        QTest::newRow("exchanged back, the journal behind")
            << JournalStep::RollingBack << RollbackReason::FirstStartFailed << false
            << updates::rolledBackFirstStartText.arg(newVersion, oldVersion) << false;
        QTest::newRow("new version's start counted")
            << JournalStep::Swapped << RollbackReason::NotConfirmed << true << QString() << true;
        QTest::newRow("confirmed") << JournalStep::Confirmed << RollbackReason::NotConfirmed << true << QString() << false;
        QTest::newRow("never exchanged") << JournalStep::Ready << RollbackReason::NotConfirmed << false << QString()
                                         << false;
    }

    void recoveryMarksOnlyARollback()
    {
        QFETCH(JournalStep, step);
        QFETCH(RollbackReason, reason);
        QFETCH(bool, newAtBundle);
        QFETCH(QString, message);
        QFETCH(bool, workLeft);
        const test::TemporarySettings settings;
        QVERIFY(settings.isValid());
        QTemporaryDir dir;
        QVERIFY(dir.isValid());

        // The bundle and, in the work folder, the other version, as an installation leaves them.
        const QString bundle = dir.filePath(QStringLiteral("Apps/velmora"));
        const updates::InstallPaths paths = updates::InstallPaths::forBundle(bundle);
        QVERIFY(QDir().mkpath(paths.work));
        const QString newFolder = newAtBundle ? bundle : paths.swap;
        const QString oldFolder = newAtBundle ? paths.swap : bundle;
        QVERIFY(test::writeBundle(newFolder, newVersion, "#!/bin/sh\n"));
        QVERIFY(test::writeBundle(oldFolder, oldVersion, "#!/bin/sh\n"));
        const auto atBundle = test::describeTree(bundle);
        updates::InstallJournal journal;
        journal.step = step;
        journal.bundle = bundle;
        journal.fromVersion = oldVersion;
        journal.toVersion = newVersion;
        journal.oldBundle = *platform::identityOf(oldFolder);
        journal.newBundle = *platform::identityOf(newFolder);
        journal.reason = reason;
        QVERIFY(test::writeFile(paths.journal, updates::serializeJournal(journal)));

        bool letGo = false;
        QCOMPARE(app::recoverInstalledUpdate([&letGo] { letGo = true; }, bundle), message);
        QVERIFY(!letGo); // only a start that gives way to the restored version lets go
        QCOMPARE(QSettings().value(updates::rolledBackVersionKey).toString(), message.isEmpty() ? QString() : newVersion);
        QCOMPARE(QFileInfo::exists(paths.work), workLeft);
        QCOMPARE(test::describeTree(bundle), atBundle);

        // Told once: the next start has nothing to say, and the mark stays.
        if (!workLeft) {
            QCOMPARE(app::recoverInstalledUpdate({}, bundle), QString());
            QCOMPARE(QSettings().value(updates::rolledBackVersionKey).toString(),
                     message.isEmpty() ? QString() : newVersion);
        }
    }

    void aLaterRollbackReplacesTheMark()
    {
        const test::TemporarySettings settings;
        QSettings().setValue(updates::rolledBackVersionKey, QStringLiteral("0.9"));
        QTemporaryDir dir;
        const QString bundle = dir.filePath(QStringLiteral("velmora"));
        const updates::InstallPaths paths = updates::InstallPaths::forBundle(bundle);
        QVERIFY(test::writeBundle(bundle, oldVersion, "#!/bin/sh\n"));
        QVERIFY(test::writeBundle(paths.swap, newVersion, "#!/bin/sh\n"));
        updates::InstallJournal journal;
        journal.step = JournalStep::RolledBack;
        journal.bundle = bundle;
        journal.fromVersion = oldVersion;
        journal.toVersion = newVersion;
        journal.oldBundle = *platform::identityOf(bundle);
        journal.newBundle = *platform::identityOf(paths.swap);
        QVERIFY(test::writeFile(paths.journal, updates::serializeJournal(journal)));

        QVERIFY(!app::recoverInstalledUpdate({}, bundle).isEmpty());
        QCOMPARE(QSettings().value(updates::rolledBackVersionKey).toString(), newVersion);
        // An ordinary start keeps the mark: only the engine's own offer of that version clears it.
        QVERIFY(app::recoverInstalledUpdate({}, bundle).isEmpty());
        QCOMPARE(QSettings().value(updates::rolledBackVersionKey).toString(), newVersion);
    }

    void messageShownOverTheWindow()
    {
        QWidget window;
        window.resize(400, 300);
        window.show();
        app::showInstalledUpdateMessage(window, QString());
        QVERIFY(window.findChildren<QMessageBox *>().isEmpty());

        // The versions came with the update: shown as they are, never as markup.
        const QString message = updates::rolledBackFirstStartText.arg(QStringLiteral("<b>1.1</b>"), oldVersion);
        app::showInstalledUpdateMessage(window, message);
        const QList<QMessageBox *> boxes = window.findChildren<QMessageBox *>();
        QCOMPARE(boxes.size(), 1);
        QMessageBox *box = boxes.first();
        QCOMPARE(box->objectName(), QStringLiteral("velmora.rolledBackUpdate"));
        QCOMPARE(box->windowTitle(), updates::rolledBackTitle);
        QCOMPARE(box->text(), message);
        QCOMPARE(box->textFormat(), Qt::PlainText);
        QTRY_VERIFY_WITH_TIMEOUT(box->isVisible(), test::patience);
        box->close();
    }
};

QTEST_MAIN(TestInstalledUpdate)
#include "tst_installedupdate.moc"
