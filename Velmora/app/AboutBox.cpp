#include "app/AboutBox.h"

#include "app/Texts.h"
#include "platform/BuildInfo.h"
#include "widgets/WindowKeys.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace velmora::app {

namespace {
constexpr int iconSize = 64;
constexpr int nameFontSize = 17;
constexpr int smallFontSize = 12;

QLabel *centredLine(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignHCenter);
    return label;
}

void setPixelSize(QLabel *label, int size)
{
    QFont font = label->font();
    font.setPixelSize(size);
    label->setFont(font);
}

} // namespace

AboutBox::AboutBox(const QIcon &icon, const QString &version, QWidget *parent)
    : AboutBox(icon, version, homePageOf(QUrl(platform::buildSettings().releasePageUrl)), platform::UrlOpener::system(),
               parent)
{}

AboutBox::AboutBox(const QIcon &icon, const QString &version, const QUrl &homePage, platform::UrlOpener &opener,
                   QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("about-box"));
    setWindowTitle(aboutTitle);
    setAccessibleName(aboutTitle);
    widgets::presentAsDialog(this);
    widgets::closeWithKeyboard(this);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 24, 32, 20);
    layout->setSpacing(8);

    auto *iconLabel = new QLabel(this);
    iconLabel->setPixmap(icon.pixmap(iconSize, iconSize));
    // A picture says nothing to a screen reader: it is the application's icon.
    iconLabel->setAccessibleName(productName);
    layout->addWidget(iconLabel, 0, Qt::AlignHCenter);

    m_name = centredLine(productName, this);
    QFont nameFont = m_name->font();
    nameFont.setPixelSize(nameFontSize);
    nameFont.setWeight(QFont::Bold);
    m_name->setFont(nameFont);
    layout->addWidget(m_name);

    m_version = centredLine(versionLine.arg(version), this);
    m_version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_version);

    m_description = centredLine(aboutDescription, this);
    layout->addWidget(m_description);

    layout->addSpacing(4);
    m_licence = centredLine(aboutLicence, this);
    setPixelSize(m_licence, smallFontSize);
    QPalette dimmed = m_licence->palette();
    dimmed.setColor(QPalette::WindowText, dimmed.color(QPalette::PlaceholderText));
    m_licence->setPalette(dimmed);
    layout->addWidget(m_licence);

    // A link the keyboard reaches too (Tab, then Space or Enter), opened like every other
    // address; a frame in the highlight colour shows when it has the focus.
    const QString shownAddress = homePage.host();
    m_homePage = new QPushButton(shownAddress, this);
    m_homePage->setObjectName(QStringLiteral("about-home-page"));
    m_homePage->setFlat(true);
    m_homePage->setCursor(Qt::PointingHandCursor);
    m_homePage->setAccessibleName(aboutHomePageTitle.arg(shownAddress));
    m_homePage->setStyleSheet(
        QStringLiteral("QPushButton { border: 1px solid transparent; border-radius: 3px; padding: 1px 4px;"
                       " color: palette(link); font-size: %1px; }"
                       "QPushButton:hover { text-decoration: underline; }"
                       "QPushButton:focus { border-color: palette(highlight); }")
            .arg(smallFontSize));
    connect(m_homePage, &QPushButton::clicked, this, [&opener, homePage] { opener.openUrl(homePage); });
    layout->addWidget(m_homePage, 0, Qt::AlignHCenter);

    layout->addSpacing(8);
    m_close = new QPushButton(closeAboutTitle, this);
    m_close->setDefault(true);
    connect(m_close, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(m_close, 0, Qt::AlignHCenter);

    // Neither resizable nor maximisable: the window manager sees the same minimum and maximum.
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    const QSize natural = layout->sizeHint();
    setFixedSize(std::max(natural.width(), minimumWidth), natural.height());
    m_close->setFocus();
}

QUrl AboutBox::homePageOf(const QUrl &releasePage)
{
    if (!releasePage.isValid() || releasePage.host().isEmpty())
        return {};
    QUrl site;
    site.setScheme(releasePage.scheme());
    site.setHost(releasePage.host());
    site.setPort(releasePage.port());
    site.setPath(QStringLiteral("/"));
    return site;
}

} // namespace velmora::app
