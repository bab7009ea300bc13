#include "access/AppBundleDragView.h"

#include "access/Texts.h"
#include "platform/ApplicationIcon.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QDrag>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <cmath>

namespace velmora::access {

namespace {

// The tile is one image to assistive technology, not a generic client area.
QAccessibleInterface *dragViewAccessible(const QString &, QObject *object)
{
    if (auto *view = qobject_cast<AppBundleDragView *>(object))
        return new QAccessibleWidget(view, QAccessible::Graphic);
    return nullptr;
}

QFont systemFont(int pixelSize, QFont::Weight weight)
{
    QFont font = QApplication::font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

} // namespace

AppBundleDragView::AppBundleDragView(const QUrl &appURL, QWidget *parent)
    : QWidget(parent)
    , m_appURL(appURL)
    , m_icon(platform::applicationIcon(appURL.toLocalFile()))
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(dragViewAccessible);
        return true;
    }();
    Q_UNUSED(factoryInstalled);

    setAccessibleName(tileAccessibilityLabel);
    setToolTip(tileTooltip);
    setCursor(Qt::OpenHandCursor);
    m_dragStarter = [this](const QPointF &p) { runDrag(p); };
}

QRectF AppBundleDragView::fromBottomLeft(const QRectF &rect) const
{
    return QRectF(rect.x(), height() - rect.y() - rect.height(), rect.width(), rect.height());
}

void AppBundleDragView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    // The box: 1 point inside the bounds, dashed outline on a pale green fill.
    const QRectF box = QRectF(rect()).adjusted(1, 1, -1, -1);
    QPainterPath shape;
    shape.addRoundedRect(box, 14, 14);
    painter.fillPath(shape, QColor::fromRgbF(0.92, 0.96, 0.91));
    QPen outline(QColor::fromRgbF(0.72, 0.82, 0.73), 1);
    outline.setDashPattern({5, 4}); // in units of the 1-point line width
    outline.setDashOffset(0);
    painter.strokePath(shape, outline);

    const qreal midX = width() / 2.0;
    m_icon.paint(&painter, fromBottomLeft(QRectF(midX - 30, 65, 60, 60)).toAlignedRect());

    // Each text is centred horizontally with the bottom of its line box at the given height.
    auto drawCentred = [&](const QString &text, const QFont &font, const QColor &colour, qreal bottom) {
        const QFontMetricsF metrics(font);
        const qreal width = metrics.horizontalAdvance(text);
        painter.setFont(font);
        painter.setPen(colour);
        painter.drawText(QPointF(midX - width / 2, height() - bottom - metrics.descent()), text);
    };
    drawCentred(productName, systemFont(14, QFont::DemiBold), QColor(0, 0, 0, 217), 38);
    drawCentred(tileDragHint, systemFont(11, QFont::Normal), QColor(0, 0, 0, 128), 16);
}

void AppBundleDragView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_mouseDownPoint = event->position();
}

void AppBundleDragView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_mouseDownPoint.reset();
    QWidget::mouseReleaseEvent(event);
}

void AppBundleDragView::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_mouseDownPoint || !(event->buttons() & Qt::LeftButton))
        return;
    const QPointF p = event->position();
    const QPointF travel = p - *m_mouseDownPoint;
    if (std::hypot(travel.x(), travel.y()) < dragThreshold)
        return;
    // Cleared first: at most one drag per press, however far the pointer goes on.
    m_mouseDownPoint.reset();
    m_dragStarter(p);
}

void AppBundleDragView::runDrag(const QPointF &p)
{
    Q_UNUSED(p); // the image is held at its centre, i.e. centred on the pointer
    auto *mimeData = new QMimeData;
    mimeData->setUrls({m_appURL});
    QDrag drag(this);
    drag.setMimeData(mimeData);
    const qreal ratio = devicePixelRatioF();
    QPixmap image = m_icon.pixmap(QSize(60, 60), ratio);
    drag.setPixmap(image);
    drag.setHotSpot(QPoint(30, 30));

    // Velmora's own windows must not take the bundle: refuse every drop target inside the
    // application while this drag runs; targets of other applications are offered a copy.
    qApp->installEventFilter(this);
    drag.exec(Qt::CopyAction, Qt::CopyAction);
    qApp->removeEventFilter(this);
}

bool AppBundleDragView::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        if (drop->source() == this) {
            drop->setDropAction(Qt::IgnoreAction);
            drop->ignore();
            return true;
        }
        break;
    }
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

AppBundleDragTile::AppBundleDragTile(const QUrl &appURL, QWidget *parent)
    : QWidget(parent)
    , m_view(new AppBundleDragView(appURL, this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
}

} // namespace velmora::access
