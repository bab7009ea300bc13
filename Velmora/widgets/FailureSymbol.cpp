#include "widgets/FailureSymbol.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>

namespace velmora::widgets {

FailureSymbol::FailureSymbol(QWidget *parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TranslucentBackground);
}

void FailureSymbol::paintEvent(QPaintEvent *)
{
    const qreal ratio = devicePixelRatioF();
    QImage image(size() * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);

    const QColor ink = palette().color(QPalette::WindowText);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);

        // Waveform: seven bars around the horizontal middle.
        const qreal heights[] = {0.30, 0.62, 0.95, 0.55, 0.80, 0.42, 0.22};
        const qreal barWidth = 3.6;
        const qreal pitch = 6.8;
        const qreal middle = height() / 2.0 - 2;
        const qreal maxHalf = height() / 2.0 - 4;
        QPen pen(ink, barWidth, Qt::SolidLine, Qt::RoundCap);
        p.setPen(pen);
        for (int i = 0; i < 7; ++i) {
            const qreal x = 3 + barWidth / 2 + i * pitch;
            const qreal half = qMax(0.0, heights[i] * maxHalf - barWidth / 2);
            p.drawLine(QPointF(x, middle - half), QPointF(x, middle + half));
        }

        // Badge in the lower right corner, cut out of the waveform by a clear ring.
        const qreal badgeRadius = 9.5;
        const QPointF centre(width() - badgeRadius - 1, height() - badgeRadius - 1);
        p.setPen(Qt::NoPen);
        p.setCompositionMode(QPainter::CompositionMode_Clear);
        p.drawEllipse(centre, badgeRadius + 2.5, badgeRadius + 2.5);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        p.setBrush(ink);
        p.drawEllipse(centre, badgeRadius, badgeRadius);

        // The exclamation mark is punched out of the badge.
        p.setCompositionMode(QPainter::CompositionMode_Clear);
        QPainterPath mark;
        mark.addRoundedRect(QRectF(centre.x() - 1.6, centre.y() - 6.5, 3.2, 8.5), 1.6, 1.6);
        mark.addEllipse(QPointF(centre.x(), centre.y() + 5.0), 1.8, 1.8);
        p.fillPath(mark, Qt::black);
    }

    QPainter painter(this);
    painter.drawImage(QPointF(0, 0), image);
}

} // namespace velmora::widgets
