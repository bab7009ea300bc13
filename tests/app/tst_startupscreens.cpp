#include "RecordingUrlOpener.h"
#include "TestSupport.h"

#include "app/AccessCheckProgressView.h"
#include "app/StartupFailureView.h"
#include "app/StartupProgressView.h"
#include "app/Texts.h"
#include "widgets/BusySpinner.h"
#include "widgets/ElidedLabel.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

using namespace velmora;
using namespace velmora::app;
using widgets::BusySpinner;

namespace {

QPushButton *buttonTitled(QWidget &root, const QString &title)
{
    for (auto *button : root.findChildren<QPushButton *>()) {
        if (button->text() == title)
            return button;
    }
    return nullptr;
}

} // namespace

class TestStartupScreens : public QObject
{
    Q_OBJECT
private slots:
    void failureShowsLogButtonOnlyWithLog_data()
    {
        QTest::addColumn<QUrl>("logURL");
        QTest::newRow("failure before any log") << QUrl();
        QTest::newRow("failure with a log") << QUrl::fromLocalFile(QStringLiteral("/tmp/runtime/logs/desktop.log"));
    }

    void failureShowsLogButtonOnlyWithLog()
    {
        QFETCH(QUrl, logURL);
        test::RecordingUrlOpener opener;
        StartupFailureView view(opener);
        view.resize(1480, 900);
        view.setError(QStringLiteral("백엔드를 시작하지 못했습니다."));
        view.setLogURL(logURL);
        view.show();

        QPushButton *retry = buttonTitled(view, app::retryTitle);
        QPushButton *openLog = buttonTitled(view, app::openLogTitle);
        QVERIFY(retry && openLog);
        QVERIFY(retry->isVisible());
        QCOMPARE(openLog->isVisible(), !logURL.isEmpty());

        QSignalSpy retries(&view, &StartupFailureView::retryRequested);
        retry->click();
        QCOMPARE(retries.count(), 1);
        QVERIFY(opener.opened.isEmpty());

        if (!logURL.isEmpty()) {
            openLog->click();
            QCOMPARE(opener.opened, QList<QUrl>{logURL});
        }
    }

    // The screen replaces another one in a shown window, as the root view does: "다시 시도" has
    // the focus, and Enter (either key) presses it.
    void theKeyboardRetries()
    {
        test::RecordingUrlOpener opener;
        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        auto *before = new QLabel(app::openingStatus, &window);
        layout->addWidget(before);
        window.resize(1100, 720);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        auto *view = new StartupFailureView(opener, &window);
        view->setError(QStringLiteral("백엔드를 시작하지 못했습니다."));
        view->setLogURL(QUrl::fromLocalFile(QStringLiteral("/tmp/desktop.log")));
        delete before;
        layout->addWidget(view);
        view->show();
        QPushButton *retry = buttonTitled(*view, app::retryTitle);
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::focusWidget(), retry, test::patience);
        QSignalSpy retries(view, &StartupFailureView::retryRequested);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(retries.count(), 2);
        QVERIFY(opener.opened.isEmpty());
        // Tab reaches the log button; it shows that it has the focus.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QPushButton *openLog = buttonTitled(*view, app::openLogTitle);
        QCOMPARE(QApplication::focusWidget(), openLog);
        const QImage focused = openLog->grab().toImage();
        retry->setFocus();
        QCOMPARE(QApplication::focusWidget(), retry);
        QVERIFY2(openLog->grab().toImage() != focused, "the focus does not show on the button");
    }

    void logButtonFollowsLaterLogURL()
    {
        // The log appears during a later attempt while the failure screen may still show.
        test::RecordingUrlOpener opener;
        StartupFailureView view(opener);
        view.show();
        QPushButton *openLog = buttonTitled(view, app::openLogTitle);
        QVERIFY(!openLog->isVisible());
        const QUrl log = QUrl::fromLocalFile(QStringLiteral("/tmp/desktop.log"));
        QSignalSpy changes(&view, &StartupFailureView::logURLChanged);
        view.setLogURL(log);
        view.setLogURL(log);
        QCOMPARE(changes.count(), 1);
        QVERIFY(openLog->isVisible());
        view.setLogURL({});
        QVERIFY(!openLog->isVisible());
    }

    void longErrorWrapsCentredAndSelectable()
    {
        StartupFailureView view;
        view.resize(1100, 720);
        const QString error = QStringLiteral("백엔드 실행 파일을 찾을 수 없습니다. ").repeated(12);
        view.setError(error);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));

        QLabel *label = nullptr;
        for (auto *candidate : view.findChildren<QLabel *>()) {
            if (candidate->text() == error)
                label = candidate;
        }
        QVERIFY(label);
        QVERIFY(label->wordWrap());
        QVERIFY(label->alignment() & Qt::AlignHCenter);
        QVERIFY(label->textInteractionFlags() & Qt::TextSelectableByMouse);
        QVERIFY(label->height() > 2 * label->fontMetrics().height());
        QVERIFY(label->geometry().right() <= view.width() - 40);
    }

    void progressShowsStatusOnOneLine()
    {
        StartupProgressView view(QStringLiteral("Velmora"));
        view.resize(400, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        auto *status = view.findChild<widgets::ElidedLabel *>(QStringLiteral("startup-status"));
        QVERIFY(status);
        QCOMPARE(status->accessibleName(), QStringLiteral("Velmora"));
        QCOMPARE(status->displayedText(), QStringLiteral("Velmora"));
        QCOMPARE(status->font().pixelSize(), 14);
        QVERIFY(view.findChild<BusySpinner *>()->isAnimating());

        const QString longStatus = QStringLiteral("아주 긴 상태 문장 ").repeated(20);
        QSignalSpy changes(&view, &StartupProgressView::statusChanged);
        view.setStatus(longStatus);
        QCOMPARE(changes.count(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(status->width() <= view.width() - 80, test::patience);
        QCOMPARE(status->height(), status->fontMetrics().height());
        QVERIFY(status->displayedText().endsWith(QChar(0x2026)));
        QCOMPARE(status->accessibleName(), longStatus);
    }

    void accessCheckProgressShowsItsLabel()
    {
        AccessCheckProgressView view;
        view.show();
        bool found = false;
        for (auto *label : view.findChildren<QLabel *>())
            found = found || label->text() == app::accessCheckLabel;
        QVERIFY(found);
        QVERIFY(view.findChild<BusySpinner *>());
    }
};

QTEST_MAIN(TestStartupScreens)
#include "tst_startupscreens.moc"
