#include "updates/ActivityIndicator.h"

#include <QPainter>

namespace velmora::updates {

namespace {
constexpr int spokes = 8;
}

ActivityIndicator::ActivityIndicator(QWidget *parent) : QWidget(parent)
{
    setFixedSize(16, 16);
    m_timer.setInterval(100);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % spokes;
        update();
    });
}

void ActivityIndicator::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    QPen pen(Qt::black, 1.8, Qt::SolidLine, Qt::RoundCap);
    for (int i = 0; i < spokes; ++i) {
        // The spoke at the current step is darkest; the ones behind it fade out.
        const int age = (m_step - i + spokes) % spokes;
        QColor colour(0, 0, 0);
        colour.setAlphaF(0.75f - 0.08f * float(age));
        pen.setColor(colour);
        painter.setPen(pen);
        painter.save();
        painter.rotate(360.0 * i / spokes);
        painter.drawLine(QPointF(0, -3.5), QPointF(0, -7));
        painter.restore();
    }
}

void ActivityIndicator::showEvent(QShowEvent *event)
{
    m_timer.start();
    QWidget::showEvent(event);
}

void ActivityIndicator::hideEvent(QHideEvent *event)
{
    m_timer.stop();
    QWidget::hideEvent(event);
}

} // namespace velmora::updates
