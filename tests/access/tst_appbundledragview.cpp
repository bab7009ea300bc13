#include "access/AppBundleDragView.h"
#include "access/Texts.h"

#include <QAccessible>
#include <QApplication>
#include <QMouseEvent>
#include <QTest>

using velmora::access::AppBundleDragView;

namespace {

void send(QWidget &widget, QEvent::Type type, QPointF position, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, position, widget.mapToGlobal(position), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
}

void press(QWidget &w, QPointF p)
{
    send(w, QEvent::MouseButtonPress, p, Qt::LeftButton, Qt::LeftButton);
}
void drag(QWidget &w, QPointF p)
{
    send(w, QEvent::MouseMove, p, Qt::NoButton, Qt::LeftButton);
}
void release(QWidget &w, QPointF p)
{
    send(w, QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoButton);
}

} // namespace

class TestAppBundleDragView : public QObject
{
    Q_OBJECT
private slots:
    void dragStartsAtFourPointsOncePerPress_data()
    {
        QTest::addColumn<QPointF>("to");
        QTest::addColumn<bool>("starts");
        QTest::newRow("3.9 right") << QPointF(103.9, 70) << false;
        QTest::newRow("3.9 up") << QPointF(100, 66.1) << false;
        QTest::newRow("4 right") << QPointF(104, 70) << true;
        QTest::newRow("4 down") << QPointF(100, 74) << true;
        QTest::newRow("3 by 3 diagonal") << QPointF(103, 73) << true; // 4.24 away
    }

    void dragStartsAtFourPointsOncePerPress()
    {
        QFETCH(QPointF, to);
        QFETCH(bool, starts);
        AppBundleDragView view(QUrl::fromLocalFile(QStringLiteral("/opt/Velmora")));
        view.resize(308, 140);
        QList<QPointF> drags;
        view.setDragStarter([&drags](const QPointF &p) { drags.append(p); });

        press(view, QPointF(100, 70));
        QCOMPARE(view.mouseDownPoint(), std::optional<QPointF>(QPointF(100, 70)));
        drag(view, to);
        QCOMPARE(drags.size(), starts ? 1 : 0);
        if (starts) {
            QCOMPARE(drags.first(), to);
            QVERIFY(!view.mouseDownPoint());
        }
        // Going on with the same press starts nothing more.
        drag(view, QPointF(140, 100));
        drag(view, QPointF(200, 20));
        QCOMPARE(drags.size(), 1);
        release(view, QPointF(200, 20));
        QVERIFY(!view.mouseDownPoint());

        // A new press may drag again.
        press(view, QPointF(50, 50));
        drag(view, QPointF(50, 60));
        QCOMPARE(drags.size(), 2);
    }

    void clickWithoutMovingStartsNothing()
    {
        AppBundleDragView view(QUrl::fromLocalFile(QStringLiteral("/opt/Velmora")));
        view.resize(308, 140);
        int drags = 0;
        view.setDragStarter([&drags](const QPointF &) { ++drags; });
        press(view, QPointF(10, 10));
        release(view, QPointF(12, 10));
        // A move without a press under way (the button went down elsewhere) is not a drag.
        drag(view, QPointF(60, 60));
        QCOMPARE(drags, 0);
    }

    void realDragRunsAndReturns()
    {
        // Offscreen, the platform ends a drag at once: this runs the real drag set-up (file
        // URL, image, the in-application drop refusal) and its tear-down.
        AppBundleDragView view(QUrl::fromLocalFile(QStringLiteral("/opt/Velmora")));
        view.resize(308, 140);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        press(view, QPointF(100, 70));
        drag(view, QPointF(110, 70));
        QVERIFY(!view.mouseDownPoint());
        release(view, QPointF(110, 70));
    }

    void presentsItselfAsOneImageWithLabelAndTooltip()
    {
        AppBundleDragView view(QUrl::fromLocalFile(QStringLiteral("/opt/Velmora")));
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(&view);
        QVERIFY(accessible);
        QCOMPARE(accessible->role(), QAccessible::Graphic);
        QCOMPARE(accessible->text(QAccessible::Name), velmora::access::tileAccessibilityLabel);
        QCOMPARE(view.toolTip(), velmora::access::tileTooltip);
        QCOMPARE(view.cursor().shape(), Qt::OpenHandCursor);
        QVERIFY(!view.icon().isNull());
    }
};

QTEST_MAIN(TestAppBundleDragView)
#include "tst_appbundledragview.moc"
