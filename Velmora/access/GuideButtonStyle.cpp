#include "access/GuideButtonStyle.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace velmora::access {

QColor GuideButtonStyle::textColour() const
{
    return prominent ? QColor(Qt::white) : QColor::fromRgbF(0.31, 0.39, 0.33);
}

QColor GuideButtonStyle::background() const
{
    return prominent ? QColor::fromRgbF(0.1, 0.5, 0.33) : QColor(Qt::white);
}

QColor GuideButtonStyle::border() const
{
    return prominent ? QColor(Qt::transparent) : QColor::fromRgbF(0, 0, 0, 0.1);
}

QFont GuideButtonStyle::font()
{
    QFont font = QApplication::font();
    font.setPixelSize(12);
    font.setWeight(QFont::DemiBold);
    return font;
}

QSize GuideButtonStyle::sizeFor(const QString &title) const
{
    const qreal textWidth = QFontMetricsF(font()).horizontalAdvance(title);
    return QSize(int(std::ceil(textWidth)) + 2 * horizontalMargin, height);
}

void GuideButtonStyle::draw(QPainter &painter, const QRectF &rect, const QString &title, bool pressed) const
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(pressed ? pressedOpacity : 1.0);

    QPainterPath shape;
    shape.addRoundedRect(rect, cornerRadius, cornerRadius);
    painter.fillPath(shape, background());

    if (border().alpha() > 0) {
        // The outline is centred on the shape's edge; half a point in keeps all of it inside
        // the widget, where it can be drawn.
        QPainterPath outline;
        outline.addRoundedRect(rect.adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius - 0.5, cornerRadius - 0.5);
        QPen pen(border(), 1, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
        pen.setMiterLimit(10);
        painter.strokePath(outline, pen);
    }

    painter.setFont(font());
    painter.setPen(textColour());
    painter.drawText(rect.adjusted(horizontalMargin, 0, -horizontalMargin, 0), Qt::AlignCenter, title);
    painter.restore();
}

GuideButton::GuideButton(const QString &title, bool prominent, QWidget *parent)
    : QPushButton(title, parent)
    , m_style{prominent}
{
    setFont(GuideButtonStyle::font());
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_Hover, false);
}

QSize GuideButton::sizeHint() const
{
    return m_style.sizeFor(text());
}

void GuideButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    m_style.draw(painter, QRectF(rect()), text(), isDown());
}

} // namespace velmora::access
