#include "RecordingUrlOpener.h"
#include "TestSupport.h"

#include "app/AccessCheckProgressView.h"
#include "app/StartupFailureView.h"
#include "app/StartupProgressView.h"
#include "app/Texts.h"
#include "widgets/BusySpinner.h"
#include "widgets/ElidedLabel.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

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
