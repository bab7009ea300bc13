#include "app/StartupProgressView.h"

#include "widgets/BusySpinner.h"
#include "widgets/ElidedLabel.h"

#include <QEvent>
#include <QVBoxLayout>

namespace velmora::app {

StartupProgressView::StartupProgressView(const QString &status, QWidget *parent)
    : QWidget(parent)
    , m_spinner(new widgets::BusySpinner(widgets::SpinnerLook::smallControl(), this))
    , m_status(new widgets::ElidedLabel(this))
{
    m_status->setObjectName(QStringLiteral("startup-status"));
    QFont font = m_status->font();
    font.setPixelSize(14);
    m_status->setFont(font);
    m_status->setText(status);
    connect(m_status, &widgets::ElidedLabel::textChanged, this, &StartupProgressView::statusChanged);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 40, 40, 40);
    layout->setSpacing(18);
    layout->addStretch(1);
    layout->addWidget(m_spinner, 0, Qt::AlignHCenter);
    layout->addWidget(m_status, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    applyColours();
}

QString StartupProgressView::status() const
{
    return m_status->text();
}

void StartupProgressView::setStatus(const QString &status)
{
    m_status->setText(status);
}

void StartupProgressView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange)
        applyColours();
    QWidget::changeEvent(event);
}

void StartupProgressView::applyColours()
{
    // The dimmed secondary text colour: the window's text colour at half strength, so it
    // follows a light or dark desktop theme.
    QColor secondary = palette().color(QPalette::WindowText);
    secondary.setAlphaF(0.5);
    QPalette statusPalette = m_status->palette();
    statusPalette.setColor(QPalette::WindowText, secondary);
    m_status->setPalette(statusPalette);
}

} // namespace velmora::app
