#include "platform/ApplicationIcon.h"

#include "platform/BuildInfo.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>

namespace velmora::platform {
namespace {

// Velmora's mark for builds that ship no icon file: a green rounded square with a white V.
QIcon drawnIcon()
{
    QIcon icon;
    for (int size : {32, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const qreal inset = size * 0.08;
        const QRectF box(inset, inset, size - 2 * inset, size - 2 * inset);
        QLinearGradient fill(box.topLeft(), box.bottomLeft());
        fill.setColorAt(0, QColor::fromRgbF(0.16, 0.62, 0.42));
        fill.setColorAt(1, QColor::fromRgbF(0.1, 0.5, 0.33));
        QPainterPath shape;
        shape.addRoundedRect(box, box.width() * 0.22, box.width() * 0.22);
        painter.fillPath(shape, fill);

        QPen pen(Qt::white, box.width() * 0.11, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        painter.setPen(pen);
        const QPointF left(box.left() + box.width() * 0.3, box.top() + box.height() * 0.3);
        const QPointF bottom(box.center().x(), box.top() + box.height() * 0.72);
        const QPointF right(box.left() + box.width() * 0.7, box.top() + box.height() * 0.3);
        painter.drawPolyline(QList<QPointF>{left, bottom, right});
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

QIcon applicationIcon(const QString &bundlePath)
{
    if (!bundlePath.isEmpty()) {
        const QDir resources(QDir(bundlePath).filePath(QStringLiteral("Resources")));
        const QPixmap file(resources.filePath(QStringLiteral("velmora.png")));
        if (!file.isNull())
            return QIcon(file);
    }
    QIcon windowIcon = QGuiApplication::windowIcon();
    if (!windowIcon.isNull())
        return windowIcon;
    QIcon themed = QIcon::fromTheme(applicationId);
    if (!themed.isNull())
        return themed;
    static const QIcon drawn = drawnIcon();
    return drawn;
}

} // namespace velmora::platform
