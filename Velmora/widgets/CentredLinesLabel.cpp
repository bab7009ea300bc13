#include "widgets/CentredLinesLabel.h"

#include <QEvent>
#include <QPainter>

namespace velmora::widgets {

CentredLinesLabel::CentredLinesLabel(const QString &text, int lineSpacing, QWidget *parent)
    : QWidget(parent)
    , m_text(text)
    , m_lines(text.split(QLatin1Char('\n')))
    , m_lineSpacing(lineSpacing)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setAccessibleName(text);
}

QSize CentredLinesLabel::sizeHint() const
{
    const QFontMetrics metrics = fontMetrics();
    int width = 0;
    for (const QString &line : m_lines)
        width = qMax(width, metrics.horizontalAdvance(line));
    const int lines = int(m_lines.size());
    return {width + 1, lines * metrics.height() + (lines - 1) * m_lineSpacing};
}

void CentredLinesLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const int lineHeight = fontMetrics().height();
    int y = 0;
    for (const QString &line : m_lines) {
        painter.drawText(QRect(0, y, width(), lineHeight), Qt::AlignHCenter | Qt::AlignVCenter, line);
        y += lineHeight + m_lineSpacing;
    }
}

void CentredLinesLabel::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        updateGeometry();
    QWidget::changeEvent(event);
}

} // namespace velmora::widgets
