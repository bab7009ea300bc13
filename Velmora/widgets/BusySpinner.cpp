#include "widgets/BusySpinner.h"

#include <QPainter>
#include <QTimerEvent>

namespace velmora::widgets {

namespace {

SpinnerLook controlLook(int side)
{
    constexpr int spokes = 12;
    const qreal radius = side / 2.0;
    // From darkest to lightest over the twelve spokes.
    return SpinnerLook{side,     spokes, radius * 0.45, radius * 0.95, qMax(1.5, side / 11.0), 0.85, 0.6 / (spokes - 1),
                       QColor(), 80};
}

} // namespace

SpinnerLook SpinnerLook::smallControl()
{
    return controlLook(16);
}

SpinnerLook SpinnerLook::regularControl()
{
    return controlLook(32);
}

BusySpinner::BusySpinner(const SpinnerLook &look, QWidget *parent) : QWidget(parent), m_look(look)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TranslucentBackground);
}

QSize BusySpinner::sizeHint() const
{
    return {m_look.side, m_look.side};
}

void BusySpinner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);

    QColor colour = m_look.colour.isValid() ? m_look.colour : palette().color(QPalette::WindowText);
    QPen pen;
    pen.setWidthF(m_look.penWidth);
    pen.setCapStyle(Qt::RoundCap);

    for (int i = 0; i < m_look.spokes; ++i) {
        // The spoke at the current step is darkest; the ones behind it fade out.
        const int age = (m_step - i + m_look.spokes) % m_look.spokes;
        colour.setAlphaF(float(m_look.darkestAlpha - m_look.fadePerSpoke * age));
        pen.setColor(colour);
        painter.setPen(pen);
        painter.save();
        painter.rotate(i * 360.0 / m_look.spokes);
        painter.drawLine(QPointF(0, -m_look.innerRadius), QPointF(0, -m_look.outerRadius));
        painter.restore();
    }
}

void BusySpinner::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_timer.start(m_look.stepIntervalMs, Qt::CoarseTimer, this);
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
    m_step = (m_step + 1) % m_look.spokes;
    update();
}

} // namespace velmora::widgets
