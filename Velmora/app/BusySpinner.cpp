#include "app/BusySpinner.h"

#include <QPainter>
#include <QTimerEvent>

namespace velmora::app {

namespace {
constexpr int spokeCount = 12;
constexpr int stepIntervalMs = 80;
} // namespace

BusySpinner::BusySpinner(Size size, QWidget *parent)
    : QWidget(parent)
    , m_side(size == Size::Small ? 16 : 32)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TranslucentBackground);
}

QSize BusySpinner::sizeHint() const
{
    return {m_side, m_side};
}

void BusySpinner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);

    const qreal radius = m_side / 2.0;
    const qreal inner = radius * 0.45;
    const qreal outer = radius * 0.95;
    QColor colour = palette().color(QPalette::WindowText);
    QPen pen;
    pen.setWidthF(qMax(1.5, m_side / 11.0));
    pen.setCapStyle(Qt::RoundCap);

    for (int i = 0; i < spokeCount; ++i) {
        // The spoke at the current step is darkest; the ones behind it fade out.
        const int age = (m_step - i + spokeCount) % spokeCount;
        colour.setAlphaF(0.85 - 0.6 * age / (spokeCount - 1));
        pen.setColor(colour);
        painter.setPen(pen);
        painter.save();
        painter.rotate(i * 360.0 / spokeCount);
        painter.drawLine(QPointF(0, -inner), QPointF(0, -outer));
        painter.restore();
    }
}

void BusySpinner::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_timer.start(stepIntervalMs, Qt::CoarseTimer, this);
}

void BusySpinner::hideEvent(QHideEvent *event)
{
    m_timer.stop();
    QWidget::hideEvent(event);
}

void BusySpinner::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timer.timerId()) {
        QWidget::timerEvent(event);
        return;
    }
    m_step = (m_step + 1) % spokeCount;
    update();
}

} // namespace velmora::app
