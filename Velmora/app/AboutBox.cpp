#include "app/AboutBox.h"

#include "app/Texts.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmora::app {

namespace {
constexpr int iconSize = 64;
constexpr int nameFontSize = 17;
} // namespace

AboutBox::AboutBox(const QIcon &icon, const QString &version, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("about-box"));
    setWindowTitle(aboutTitle);
    setAccessibleName(aboutTitle);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 24, 32, 20);
    layout->setSpacing(8);

    auto *iconLabel = new QLabel(this);
    iconLabel->setPixmap(icon.pixmap(iconSize, iconSize));
    // A picture says nothing to a screen reader: it is the application's icon.
    iconLabel->setAccessibleName(productName);
    layout->addWidget(iconLabel, 0, Qt::AlignHCenter);

    m_name = new QLabel(productName, this);
    QFont nameFont = m_name->font();
    nameFont.setPixelSize(nameFontSize);
    nameFont.setWeight(QFont::Bold);
    m_name->setFont(nameFont);
    layout->addWidget(m_name, 0, Qt::AlignHCenter);

    m_version = new QLabel(versionLine.arg(version), this);
    m_version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_version, 0, Qt::AlignHCenter);

    layout->addSpacing(8);
    m_close = new QPushButton(closeAboutTitle, this);
    m_close->setDefault(true);
    connect(m_close, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(m_close, 0, Qt::AlignHCenter);

    layout->setSizeConstraint(QLayout::SetFixedSize);
}

} // namespace velmora::app
