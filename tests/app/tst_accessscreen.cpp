// The access screen over a real gate: its probe and relaunch are held by the test so each of
// the gate's states can be looked at while it lasts.
#include "AccessDoubles.h"
#include "TestSupport.h"

#include "access/FullDiskAccessAssistant.h"
#include "access/FullDiskAccessGate.h"
#include "access/StartupAccessView.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <QCoro/QCoroTask>

#include <memory>

using namespace velmora;
using namespace velmora::access;

Q_DECLARE_METATYPE(velmora::access::AccessScreenLook)

namespace {

using test::patience;
const QString hintText = QStringLiteral("설정 후에도 이 화면이 보이면 앱을 다시 시작하세요.");
const QString relaunchFailed = QStringLiteral("앱을 종료한 뒤 다시 실행해 주세요.");
const QString openSettingsTitle = QStringLiteral("권한 설정하기");
const QString recheckTitle = QStringLiteral("다시 확인");
const QString checkingTitle = QStringLiteral("확인 중…");
const QString restartTitle = QStringLiteral("앱 다시 시작");

QPushButton *button(QWidget &root, const QStringList &titles)
{
    for (auto *candidate : root.findChildren<QPushButton *>()) {
        if (titles.contains(candidate->text()))
            return candidate;
    }
    return nullptr;
}

// The access screen over a held gate.
struct Screen : test::HeldGate
{
    Screen()
    {
        assistant = std::make_unique<FullDiskAccessAssistant>(test::assistantDependencies(settingsOpener, windowList));
        view = std::make_unique<StartupAccessView>(
            *gate, [this] { ++rechecks; }, QUrl(), inkColour);
        view->setAssistant([this]() -> FullDiskAccessAssistant & { return *assistant; });
        view->resize(1100, 720);
        view->show();
    }

    QPushButton *openSettings() { return button(*view, {openSettingsTitle}); }
    QPushButton *recheck() { return button(*view, {recheckTitle, checkingTitle}); }
    QPushButton *restart() { return button(*view, {restartTitle}); }
    QString hint()
    {
        for (auto *label : view->findChildren<QLabel *>()) {
            if (label->text() == hintText || label->text() == relaunchFailed)
                return label->text();
        }
        return {};
    }

    const QColor inkColour = QColor::fromRgbF(0.15, 0.24, 0.19);
    test::CountingSettingsOpener settingsOpener;
    test::NoWindowList windowList;
    std::unique_ptr<FullDiskAccessAssistant> assistant;
    std::unique_ptr<StartupAccessView> view;
    int rechecks = 0;
};

} // namespace

class TestAccessScreen : public QObject
{
    Q_OBJECT
private slots:
    void looksFollowGateState_data()
    {
        QTest::addColumn<bool>("isChecking");
        QTest::addColumn<bool>("isRestarting");
        QTest::addColumn<QString>("message");
        QTest::addColumn<AccessScreenLook>("expected");

        QTest::newRow("idle after a negative check")
            << false << false << QString() << AccessScreenLook{true, recheckTitle, true, true, hintText};
        QTest::newRow("checking") << true << false << QString()
                                  << AccessScreenLook{true, checkingTitle, false, false, hintText};
        QTest::newRow("restarting") << false << true << QString()
                                    << AccessScreenLook{false, recheckTitle, false, false, hintText};
        QTest::newRow("after a failed relaunch")
            << false << false << relaunchFailed << AccessScreenLook{true, recheckTitle, true, true, relaunchFailed};
        QTest::newRow("checking after a failed relaunch")
            << true << false << relaunchFailed << AccessScreenLook{true, checkingTitle, false, false, relaunchFailed};
    }

    void looksFollowGateState()
    {
        QFETCH(bool, isChecking);
        QFETCH(bool, isRestarting);
        QFETCH(QString, message);
        QFETCH(AccessScreenLook, expected);
        const AccessScreenLook look = accessScreenLook(isChecking, isRestarting, message);
        QCOMPARE(look.openSettingsEnabled, expected.openSettingsEnabled);
        QCOMPARE(look.recheckTitle, expected.recheckTitle);
        QCOMPARE(look.recheckEnabled, expected.recheckEnabled);
        QCOMPARE(look.restartEnabled, expected.restartEnabled);
        QCOMPARE(look.hint, expected.hint);
    }

    void screenFollowsTheGateThroughItsStates()
    {
        Screen screen;
        screen.answerMissing();
        QVERIFY(screen.openSettings() && screen.recheck() && screen.restart());

        // Idle after a negative check.
        QVERIFY(screen.openSettings()->isEnabled());
        QCOMPARE(screen.recheck()->text(), recheckTitle);
        QVERIFY(screen.recheck()->isEnabled());
        QVERIFY(screen.restart()->isEnabled());
        QCOMPARE(screen.hint(), hintText);
        screen.recheck()->click();
        QCOMPARE(screen.rechecks, 1);

        // Checking: the probe is held on its worker thread.
        auto check = std::make_shared<QCoro::Task<bool>>(screen.gate->check());
        QTRY_VERIFY_WITH_TIMEOUT(screen.gate->isChecking(), patience);
        QCOMPARE(screen.recheck()->text(), checkingTitle);
        QVERIFY(!screen.recheck()->isEnabled());
        QVERIFY(!screen.restart()->isEnabled());
        QVERIFY(screen.openSettings()->isEnabled());
        screen.mayAnswer.release();
        QTRY_VERIFY_WITH_TIMEOUT(!screen.gate->isChecking(), patience);
        QCOMPARE(screen.recheck()->text(), recheckTitle);
        QVERIFY(screen.recheck()->isEnabled());

        // Restarting: the relaunch has not reported yet.
        screen.restart()->click();
        QVERIFY(screen.gate->isRestarting());
        QVERIFY(screen.relauncher.held);
        QVERIFY(!screen.openSettings()->isEnabled());
        QCOMPARE(screen.recheck()->text(), recheckTitle);
        QVERIFY(!screen.recheck()->isEnabled());
        QVERIFY(!screen.restart()->isEnabled());
        QCOMPARE(screen.hint(), hintText);

        // The relaunch failed: everything is enabled again and the hint is replaced for good.
        screen.relauncher.held(platform::RelaunchResult{0, QStringLiteral("no instance")});
        QTRY_VERIFY_WITH_TIMEOUT(!screen.gate->isRestarting(), patience);
        QVERIFY(screen.openSettings()->isEnabled());
        QVERIFY(screen.recheck()->isEnabled());
        QVERIFY(screen.restart()->isEnabled());
        QCOMPARE(screen.hint(), relaunchFailed);
        screen.answerMissing();
        QCOMPARE(screen.hint(), relaunchFailed);
    }

    void openSettingsPresentsTheAssistantWithTheRecheck()
    {
        Screen screen;
        screen.answerMissing();
        screen.view->activateWindow();
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::activeWindow(), screen.view.get(), patience);

        screen.openSettings()->click();
        QCOMPARE(screen.settingsOpener.opened, 1);
        QCOMPARE(screen.assistant->parentWindow.data(), screen.view.get());
        QVERIFY(screen.assistant->onComplete);
        QTRY_VERIFY_WITH_TIMEOUT(screen.assistant->window()->isVisible(), patience);

        // A second press presents again with a fresh completion; the panel's close runs the
        // recheck once.
        screen.openSettings()->click();
        QCOMPARE(screen.settingsOpener.opened, 2);
        QTRY_VERIFY_WITH_TIMEOUT(screen.assistant->window()->isVisible(), patience);
        QCOMPARE(screen.rechecks, 0);
        screen.assistant->close();
        QCOMPARE(screen.rechecks, 1);
        QVERIFY(!screen.assistant->onComplete);
        screen.assistant->close();
        QCOMPARE(screen.rechecks, 1);
    }

    void staysLightUnderADarkTheme()
    {
        const QPalette original = QApplication::palette();
        auto restore = qScopeGuard([&] { QApplication::setPalette(original); });
        QPalette dark = original;
        dark.setColor(QPalette::Window, QColor(30, 30, 30));
        dark.setColor(QPalette::WindowText, Qt::white);
        dark.setColor(QPalette::Button, QColor(50, 50, 50));
        dark.setColor(QPalette::ButtonText, Qt::white);
        QApplication::setPalette(dark);

        Screen screen;
        QVERIFY(QTest::qWaitForWindowExposed(screen.view.get()));
        const QImage image = screen.view->grab().toImage();
        QCOMPARE(image.pixelColor(5, 5).rgb(), StartupAccessView::backgroundColor().rgb());
        QCOMPARE(screen.view->palette().color(QPalette::Window).rgb(), StartupAccessView::backgroundColor().rgb());
        for (auto *label : screen.view->findChildren<QLabel *>())
            QVERIFY2(label->palette().color(QPalette::WindowText).lightnessF() < 0.5, qPrintable(label->text()));
    }
};

QTEST_MAIN(TestAccessScreen)
#include "tst_accessscreen.moc"
