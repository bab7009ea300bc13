#include "app/AccessCheckProgressView.h"

#include "app/Texts.h"
#include "widgets/BusySpinner.h"

#include <QLabel>
#include <QVBoxLayout>

namespace velmora::app {

AccessCheckProgressView::AccessCheckProgressView(QWidget *parent) : QWidget(parent)
{
    auto *spinner = new widgets::BusySpinner(widgets::SpinnerLook::regularControl(), this);
    auto *text = new QLabel(accessCheckLabel, this);
    QFont font = text->font();
    font.setPixelSize(13);
    text->setFont(font);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addStretch(1);
    layout->addWidget(spinner, 0, Qt::AlignHCenter);
    layout->addWidget(text, 0, Qt::AlignHCenter);
    layout->addStretch(1);
}

} // namespace velmora::app
