#include "access/AppBundleDragView.h"
#include "access/FullDiskAccessGuide.h"
#include "access/GuideButtonStyle.h"

#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QTest>

using namespace velmora::access;

namespace {

// The button alone on a white backdrop, as drawn.
QImage render(GuideButton &button)
{
    QWidget backdrop;
    backdrop.setPalette(QPalette(Qt::white));
    backdrop.setAutoFillBackground(true);
    button.setParent(&backdrop);
    backdrop.resize(button.sizeHint());
    button.setGeometry(QRect(QPoint(0, 0), button.sizeHint()));
    QImage image = backdrop.grab().toImage().convertToFormat(QImage::Format_RGB32);
    button.setParent(nullptr);
    return image;
}

int channelDistance(QColor a, QColor b)
{
    return std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())});
}

QColor over(QColor top, qreal opacity, QColor bottom)
{
    return QColor::fromRgbF(top.redF() * opacity + bottom.redF() * (1 - opacity),
                            top.greenF() * opacity + bottom.greenF() * (1 - opacity),
                            top.blueF() * opacity + bottom.blueF() * (1 - opacity));
}

} // namespace

class TestFullDiskAccessGuide : public QObject
{
    Q_OBJECT
private slots:
    void buttonLook_data()
    {
        QTest::addColumn<bool>("prominent");
        QTest::addColumn<bool>("pressed");
        QTest::newRow("prominent") << true << false;
        QTest::newRow("prominent pressed") << true << true;
        QTest::newRow("secondary") << false << false;
        QTest::newRow("secondary pressed") << false << true;
    }

    void buttonLook()
    {
        QFETCH(bool, prominent);
        QFETCH(bool, pressed);
        GuideButton button(QStringLiteral("완료"), prominent);
        button.setDown(pressed);
        QCOMPARE(button.sizeHint().height(), 35);
        QCOMPARE(button.sizeHint().width(), GuideButtonStyle{prominent}.sizeFor(button.text()).width());
        QVERIFY(button.sizeHint().width() > 32);

        const QImage image = render(button);
        const qreal opacity = pressed ? 0.75 : 1.0;
        const QColor fill = GuideButtonStyle{prominent}.background();
        // Inside, clear of the text and the rounded corners.
        QVERIFY2(channelDistance(image.pixelColor(6, 17), over(fill, opacity, Qt::white)) <= 2,
                 qPrintable(image.pixelColor(6, 17).name()));
        // The left edge: a thin grey border for the secondary look, none for the prominent one.
        const QColor edge = image.pixelColor(0, 17);
        if (prominent) {
            QVERIFY2(channelDistance(edge, over(fill, opacity, Qt::white)) <= 2, qPrintable(edge.name()));
        } else {
            const QColor bordered = over(over(Qt::black, 0.1, Qt::white), opacity, Qt::white);
            QVERIFY2(channelDistance(edge, bordered) <= 3, qPrintable(edge.name()));
            QVERIFY(edge.red() < 250);
        }
    }

    void buttonsStayAtBothEndsOfTheBottomRow_data()
    {
        QTest::addColumn<int>("width");
        QTest::newRow("panel width") << 356;
        QTest::newRow("wider") << 600;
    }

    void buttonsStayAtBothEndsOfTheBottomRow()
    {
        QFETCH(int, width);
        int reopened = 0, done = 0;
        FullDiskAccessGuide guide(
            QUrl::fromLocalFile(QStringLiteral("/opt/Velmora")), [&] { ++reopened; }, [&] { ++done; });
        guide.resize(width, 410);
        guide.show();
        QVERIFY(QTest::qWaitForWindowExposed(&guide));

        QCOMPARE(guide.reopenButton()->geometry().left(), 24);
        QCOMPARE(guide.doneButton()->geometry().right() + 1, width - 24);
        QCOMPARE(guide.reopenButton()->geometry().center().y(), guide.doneButton()->geometry().center().y());
        QCOMPARE(guide.tile()->geometry(), QRect(24, guide.tile()->y(), width - 48, 140));
        // Everything fits: nothing below the buttons but the margin (and spare height).
        QVERIFY(guide.doneButton()->geometry().bottom() + 1 <= 410 - 24);

        QTest::mouseClick(guide.reopenButton(), Qt::LeftButton);
        QTest::mouseClick(guide.doneButton(), Qt::LeftButton);
        QCOMPARE(reopened, 1);
        QCOMPARE(done, 1);
    }

    void longStepTextWrapsBelowATopAlignedBadge()
    {
        QWidget host;
        auto *layout = new QHBoxLayout(&host);
        const QString text = QStringLiteral("위 아이콘을 설정의 앱 목록으로 드래그").repeated(4);
        auto *row = new GuideStepRow(QStringLiteral("1"), text, inkColor, &host);
        auto *shortRow = new GuideStepRow(QStringLiteral("2"), QStringLiteral("Velmora"), inkColor, &host);
        layout->addWidget(row);
        layout->addWidget(shortRow);
        host.resize(560, 300);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));

        QCOMPARE(row->badge()->size(), QSize(19, 19));
        QCOMPARE(row->badge()->y(), 0);
        QVERIFY2(row->label()->height() > 2 * shortRow->label()->height(),
                 qPrintable(QStringLiteral("%1 vs %2").arg(row->label()->height()).arg(shortRow->label()->height())));
        QCOMPARE(row->label()->x(), 19 + 9);
    }
};

QTEST_MAIN(TestFullDiskAccessGuide)
#include "tst_fulldiskaccessguide.moc"
