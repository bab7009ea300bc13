#include "access/StartupAccessView.h"

#include "access/FullDiskAccessAssistant.h"
#include "access/FullDiskAccessGate.h"
#include "access/GuideButtonStyle.h"
#include "access/Texts.h"
#include "platform/ApplicationIcon.h"
#include "widgets/CentredLinesLabel.h"

#include <QApplication>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmora::access {

namespace {

// The screen's texts are translation keys that fall back to themselves.
QString localized(const QString &key)
{
    return QCoreApplication::translate("StartupAccessView", key.toUtf8().constData());
}

QFont systemFont(int pixelSize, QFont::Weight weight = QFont::Normal)
{
    QFont font = QApplication::font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QColor withAlpha(QColor colour, qreal alpha)
{
    colour.setAlphaF(float(alpha));
    return colour;
}

// The light look every control of the screen uses, so a dark desktop theme does not reach it.
QPalette lightPalette()
{
    const QColor label = withAlpha(Qt::black, 0.85);
    QPalette palette;
    palette.setColor(QPalette::Window, StartupAccessView::backgroundColor());
    palette.setColor(QPalette::WindowText, label);
    palette.setColor(QPalette::Text, label);
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::AlternateBase, QColor(245, 245, 245));
    palette.setColor(QPalette::Button, Qt::white);
    palette.setColor(QPalette::ButtonText, label);
    palette.setColor(QPalette::Light, Qt::white);
    palette.setColor(QPalette::Midlight, QColor(230, 230, 230));
    palette.setColor(QPalette::Mid, QColor(200, 200, 200));
    palette.setColor(QPalette::Dark, QColor(160, 160, 160));
    palette.setColor(QPalette::Shadow, QColor(0, 0, 0, 60));
    palette.setColor(QPalette::Highlight, QColor(0, 122, 255));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, Qt::white);
    palette.setColor(QPalette::ToolTipText, label);
    palette.setColor(QPalette::PlaceholderText, withAlpha(Qt::black, 0.25));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, withAlpha(Qt::black, 0.25));
    return palette;
}

QPixmap bundleIcon(const QUrl &appURL, int side)
{
    const QIcon icon = platform::applicationIcon(appURL.toLocalFile());
    // Stretched to the frame, as the platform's icon for the bundle would be.
    return icon.pixmap(QSize(side, side)).scaled(side, side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace

AccessScreenLook accessScreenLook(bool isChecking, bool isRestarting, const QString &message)
{
    AccessScreenLook look;
    look.openSettingsEnabled = !isRestarting;
    look.recheckTitle = localized(isChecking ? checkingTitle : recheckTitle);
    look.recheckEnabled = !isChecking && !isRestarting;
    look.restartEnabled = !isChecking && !isRestarting;
    look.hint = message.isEmpty() ? restartHint : message;
    return look;
}

QColor StartupAccessView::backgroundColor()
{
    return QColor::fromRgbF(0.95, 0.97, 0.94);
}

StartupAccessView::StartupAccessView(FullDiskAccessGate &access, std::function<void()> recheck, const QUrl &appURL,
                                     const QColor &ink, QWidget *parent)
    : QWidget(parent)
    , m_access(access)
    , m_recheck(std::move(recheck))
    , m_ink(ink)
    , m_openSettingsButton(new GuideButton(localized(openSettingsTitle), true, this))
    , m_recheckButton(new GuideButton(localized(recheckTitle), false, this))
    , m_hint(new QLabel(this))
    , m_restartButton(new QPushButton(localized(restartTitle), this))
{
    setPalette(lightPalette());
    setAutoFillBackground(true);

    QPalette inkPalette = palette();
    inkPalette.setColor(QPalette::WindowText, m_ink);
    QPalette secondaryPalette = palette();
    secondaryPalette.setColor(QPalette::WindowText, withAlpha(Qt::black, 0.5));

    auto *icon = new QLabel(this);
    icon->setFixedSize(72, 72);
    icon->setScaledContents(true);
    icon->setPixmap(bundleIcon(appURL, 72));
    // A picture says nothing to a screen reader: it is the application's icon.
    icon->setAccessibleName(localized(productName));

    auto *name = new QLabel(localized(productName), this);
    name->setFont(systemFont(30, QFont::Bold));
    name->setPalette(inkPalette);

    auto *title = new QLabel(localized(accessHeading), this);
    title->setFont(systemFont(19, QFont::DemiBold));
    title->setPalette(inkPalette);

    auto *body = new widgets::CentredLinesLabel(localized(accessDescription), 5, this);
    body->setFont(systemFont(13));
    body->setPalette(secondaryPalette);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    buttons->addWidget(m_openSettingsButton, 0, Qt::AlignVCenter);
    buttons->addWidget(m_recheckButton, 0, Qt::AlignVCenter);

    m_hint->setFont(systemFont(11));
    m_hint->setPalette(secondaryPalette);
    m_hint->setTextFormat(Qt::PlainText);
    m_hint->setAlignment(Qt::AlignHCenter);

    // A plain text button: no frame, no background, only the ink-coloured title.
    m_restartButton->setFlat(true);
    m_restartButton->setFont(systemFont(12, QFont::Medium));
    m_restartButton->setCursor(Qt::PointingHandCursor);
    m_restartButton->setStyleSheet(
        QStringLiteral("QPushButton { border: none; background: transparent; padding: 0px; color: %1; }"
                       "QPushButton:disabled { color: %2; }")
            .arg(m_ink.name(QColor::HexArgb), withAlpha(m_ink, 0.35).name(QColor::HexArgb)));

    auto *footer = new QVBoxLayout;
    footer->setSpacing(8);
    footer->addWidget(m_hint, 0, Qt::AlignHCenter);
    footer->addWidget(m_restartButton, 0, Qt::AlignHCenter);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(36, 36, 36, 36);
    layout->setSpacing(22);
    layout->addStretch(1);
    layout->addWidget(icon, 0, Qt::AlignHCenter);
    layout->addWidget(name, 0, Qt::AlignHCenter);
    layout->addWidget(title, 0, Qt::AlignHCenter);
    layout->addWidget(body, 0, Qt::AlignHCenter);
    layout->addLayout(buttons);
    layout->setAlignment(buttons, Qt::AlignHCenter);
    layout->addLayout(footer);
    layout->addStretch(1);

    connect(m_openSettingsButton, &QPushButton::clicked, this, &StartupAccessView::openSettings);
    connect(m_recheckButton, &QPushButton::clicked, this, [this] {
        if (m_recheck)
            m_recheck();
    });
    connect(m_restartButton, &QPushButton::clicked, this, [this] { m_access.restart(); });

    connect(&m_access, &FullDiskAccessGate::isCheckingChanged, this, &StartupAccessView::render);
    connect(&m_access, &FullDiskAccessGate::isRestartingChanged, this, &StartupAccessView::render);
    connect(&m_access, &FullDiskAccessGate::messageChanged, this, &StartupAccessView::render);
    render();
}

void StartupAccessView::render()
{
    const AccessScreenLook look = accessScreenLook(m_access.isChecking(), m_access.isRestarting(), m_access.message());
    m_openSettingsButton->setEnabled(look.openSettingsEnabled);
    m_recheckButton->setText(look.recheckTitle);
    m_recheckButton->setEnabled(look.recheckEnabled);
    m_restartButton->setEnabled(look.restartEnabled);
    m_hint->setText(look.hint);
    m_hint->setAccessibleName(look.hint);
}

void StartupAccessView::openSettings()
{
    FullDiskAccessAssistant &assistant = m_assistant ? m_assistant() : FullDiskAccessAssistant::shared();
    // A presentation replaces the previous completion without running it.
    assistant.onComplete = m_recheck;
    assistant.parentWindow = QApplication::activeWindow();
    assistant.openSettingsAndPositionGuide();
}

} // namespace velmora::access
