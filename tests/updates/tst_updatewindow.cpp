#include "StatusTexts.h"
#include "TestSupport.h"
#include "UpdateHarness.h"

#include "platform/BuildInfo.h"
#include "platform/Bundle.h"
#include "updates/UpdateCheckView.h"
#include "updates/UpdateController.h"
#include "updates/UpdateNotesView.h"
#include "widgets/BusySpinner.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTest>

using namespace velmora;
using namespace velmora::test;
using test::ScriptedController;
using updates::UpdateCheckView;
using updates::UpdateController;

namespace {

const QString showRelease = QString::fromUtf8("릴리스 보기");
const QString install = QString::fromUtf8("다운로드 및 설치…");
const QString checkAgain = QString::fromUtf8("다시 확인");

// The update window of a controller over the scripted engine, automatic notices off.
struct Harness : test::UpdateHarness
{
    explicit Harness(bool development = false, QVariant version = QStringLiteral("1.3.0"))
        : UpdateHarness({.projectRoot = development ? QVariant(QStringLiteral("/src/velmora")) : QVariant(),
                         .version = std::move(version),
                         .automaticChecks = false})
    {}

    UpdateCheckView *view()
    {
        controller->showUpdateWindow();
        return controller->updateWindow()->findChild<UpdateCheckView *>();
    }
    // An information check that found an update and has ended.
    void reachFoundUpdate() { UpdateHarness::reachFoundUpdate(test::updateItem()); }
};

} // namespace

class TestUpdateWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_settings.isValid()); }

    void showsEachControllerState_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("indicator");
        QTest::addColumn<bool>("notes");
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("enabled");

        QTest::newRow("development build") << "development" << developmentStatus << false << false << showRelease << true;
        QTest::newRow("updater not yet able to check")
            << "waiting" << preparingStatus << false << false << checkAgain << false;
        QTest::newRow("information check running") << "checking" << checkingStatus << true << false << checkAgain << false;
        QTest::newRow("update found") << "found" << QString::fromUtf8("v1.4.0 업데이트가 있습니다.") << false << true
                                      << install << true;
        QTest::newRow("update found, updater busy")
            << "found-busy" << QString::fromUtf8("v1.4.0 업데이트가 있습니다.") << false << true << install << false;
        QTest::newRow("no update") << "none" << upToDateStatus << false << false << checkAgain << true;
        QTest::newRow("check failed") << "failed" << failedStatus << false << false << checkAgain << true;
    }

    void showsEachControllerState()
    {
        QFETCH(QString, state);
        QFETCH(QString, status);
        QFETCH(bool, indicator);
        QFETCH(bool, notes);
        QFETCH(QString, button);
        QFETCH(bool, enabled);

        Harness h(state == QLatin1String("development"));
        UpdateCheckView *view = h.view();
        QVERIFY(view);
        if (state == QLatin1String("development")) {
            h.controller->start();
            h.controller->refreshUpdateInformation();
        } else if (state == QLatin1String("waiting")) {
            h.controller->start();
            h.controller->refreshUpdateInformation();
        } else {
            h.startAndWaitUntilReady();
            h.controller->refreshUpdateInformation();
            if (state.startsWith(QLatin1String("found")))
                h.engine->findUpdate(test::updateItem());
            if (state == QLatin1String("found-busy")) {
                h.engine->finishCycle();
                h.engine->scripted.setCanCheck(false);
                QTRY_VERIFY_WITH_TIMEOUT(!h.controller->canCheckForUpdates(), test::patience);
            } else if (state == QLatin1String("found") || state == QLatin1String("none")) {
                h.engine->finishCycle();
            } else if (state == QLatin1String("failed")) {
                h.engine->finishCycle(updates::UpdaterError{QStringLiteral("NSURLErrorDomain"), -1009, {}});
            }
        }

        QCOMPARE(view->statusLine()->text(), status);
        QCOMPARE(view->statusLine()->objectName(), QStringLiteral("update-status"));
        QCOMPARE(view->checkingIndicator()->isVisible(), indicator);
        QCOMPARE(view->notes()->isVisible(), notes);
        QCOMPARE(view->primaryButton()->text(), button);
        QCOMPARE(view->primaryButton()->isEnabled(), enabled);
        QCOMPARE(view->versionLine()->text(), QString::fromUtf8("현재 버전 v1.3.0"));
        QVERIFY(view->automaticChecks()->isEnabled());
        QCOMPARE(view->automaticChecks()->objectName(), QStringLiteral("automatic-updates"));
        QCOMPARE(view->notes()->objectName(), QStringLiteral("update-release-notes"));
        QCOMPARE(view->width(), 500);
        QCOMPARE(view->explanation()->text(),
                 state == QLatin1String("development")
                     ? QString::fromUtf8("설정은 저장되며, 자동 확인은 배포용 앱에서 적용됩니다.")
                     : QString::fromUtf8(
                         "앱을 열 때 바로 확인하고 새 버전을 알려줍니다. 다운로드·설치는 직접 선택할 때만 진행합니다."));
    }

    void versionIsShownOnlyWhenAString_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("line");
        QTest::newRow("string") << QVariant(QStringLiteral("2.1")) << QString::fromUtf8("현재 버전 v2.1");
        QTest::newRow("missing") << QVariant() << QString::fromUtf8("현재 버전 v");
        QTest::newRow("number") << QVariant(21) << QString::fromUtf8("현재 버전 v");
    }

    void versionIsShownOnlyWhenAString()
    {
        QFETCH(QVariant, value);
        QFETCH(QString, line);
        Harness h(false, value);
        QCOMPARE(h.view()->versionLine()->text(), line);
    }

    void longStatusWrapsInsteadOfBeingCut()
    {
        Harness h;
        UpdateCheckView *view = h.view();
        h.startAndWaitUntilReady();
        h.controller->refreshUpdateInformation();
        const QString version = QStringLiteral("4.0.0 ") + QString(QStringLiteral("build-with-a-long-name ")).repeated(6);
        h.engine->findUpdate(test::updateItem(version));
        QLabel *status = view->statusLine();
        QVERIFY(status->wordWrap());
        QTRY_VERIFY_WITH_TIMEOUT(status->height() >= 2 * status->fontMetrics().lineSpacing(), test::patience);
        QVERIFY(status->text().endsWith(QString::fromUtf8(" 업데이트가 있습니다.")));
        QVERIFY(status->width() <= 500 - 56);
    }

    void developmentButtonOpensTheReleasePage()
    {
        Harness h(true);
        UpdateCheckView *view = h.view();
        h.controller->start();
        view->primaryButton()->click();
        QCOMPARE(h.opener.opened, QList<QUrl>{QUrl(platform::buildSettings().releasePageUrl)});
        QCOMPARE(h.engine->scripted.informationChecks, 0);
        QCOMPARE(h.engine->installRequests, 0);
    }

    void releaseLinkOpensTheReleasePage()
    {
        Harness h;
        h.view()->releaseLink()->click();
        QCOMPARE(h.opener.opened, QList<QUrl>{QUrl(platform::buildSettings().releasePageUrl)});
    }

    void everyControlShowsTheKeyboardFocus()
    {
        Harness h;
        h.reachFoundUpdate();
        UpdateCheckView *view = h.view();
        QWidget *window = view->window();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        window->activateWindow();
        QTRY_VERIFY_WITH_TIMEOUT(window->isActiveWindow(), test::patience);
        const QList<QWidget *> controls{view->automaticChecks(), view->releaseLink(), view->primaryButton()};
        for (QWidget *control : controls) {
            QWidget *other = control == controls.first() ? controls.last() : controls.first();
            other->setFocus(Qt::TabFocusReason);
            QTRY_VERIFY_WITH_TIMEOUT(other->hasFocus(), test::patience);
            const QImage without = control->grab().toImage();
            control->setFocus(Qt::TabFocusReason);
            QTRY_VERIFY_WITH_TIMEOUT(control->hasFocus(), test::patience);
            QVERIFY2(control->grab().toImage() != without, qPrintable(control->objectName() + " shows no focus"));
        }
    }

    void checkAgainStartsAnInformationCheck()
    {
        Harness h;
        UpdateCheckView *view = h.view();
        h.startAndWaitUntilReady();
        view->primaryButton()->click();
        QCOMPARE(h.engine->scripted.informationChecks, 1);
        QCOMPARE(view->statusLine()->text(), checkingStatus);
    }

    void installHandsOverToTheEngine()
    {
        Harness h;
        UpdateCheckView *view = h.view();
        h.reachFoundUpdate();
        QVERIFY(view->primaryButton()->isEnabled());
        view->primaryButton()->click();
        QCOMPARE(h.engine->installRequests, 1);
        QVERIFY(!h.controller->updateWindow()->isVisible());
    }

    void installDoesNothingWhenTheUpdaterCannotCheck()
    {
        Harness h;
        UpdateCheckView *view = h.view();
        h.reachFoundUpdate();
        // The state changes between render and click: the engine loses its ability to check,
        // and the click arrives before the view has re-rendered.
        h.engine->scripted.setCanCheck(false);
        QTRY_VERIFY_WITH_TIMEOUT(!h.controller->canCheckForUpdates(), test::patience);
        QMetaObject::invokeMethod(view->primaryButton(), "clicked", Q_ARG(bool, false));
        QCOMPARE(h.engine->installRequests, 0);
        QCOMPARE(h.engine->scripted.informationChecks, 1);
        QVERIFY(h.controller->updateWindow()->isVisible());
    }

    void checkboxShowsWhatTheEngineHolds_data()
    {
        QTest::addColumn<bool>("refused");
        QTest::newRow("engine accepts") << false;
        QTest::newRow("engine refuses, checkbox springs back") << true;
    }

    void checkboxShowsWhatTheEngineHolds()
    {
        QFETCH(bool, refused);
        Harness h;
        h.engine->scripted.automaticChecks = true;
        UpdateCheckView *view = h.view();
        h.engine->scripted.refuseAutomaticChecksChange = refused;
        QCheckBox *box = view->automaticChecks();
        QVERIFY(box->isChecked());
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
        QCOMPARE(h.engine->scripted.automaticChecks, refused);
        QCOMPARE(h.controller->automaticallyChecksForUpdates(), refused);
        QCOMPARE(box->isChecked(), refused);
    }

    void notesBoxFollowsTheLoad()
    {
        Harness h;
        UpdateCheckView *view = h.view();
        h.startAndWaitUntilReady();
        h.controller->refreshUpdateInformation();
        updates::UpdateItem found = test::updateItem();
        found.releaseNotesURL = platform::LiteralUrl(QStringLiteral("http://velmora.invalid/notes")); // refused
        h.engine->findUpdate(found);
        QVERIFY(view->notes()->isVisible());
        QVERIFY(view->notes()->failureLine()->isVisible());
        QVERIFY(!view->notes()->loadingRow()->isVisible());
    }

private:
    test::TemporarySettings m_settings;
};

QTEST_MAIN(TestUpdateWindow)
#include "tst_updatewindow.moc"
