#include "platform/TrayIcon.h"

#include <QMenu>
#include <QSystemTrayIcon>

namespace velmora::platform {

TrayIcon::TrayIcon(QIcon icon, QString toolTip, QString openTitle, QString quitTitle, QObject *parent)
    : QObject(parent)
    , m_icon(std::move(icon))
    , m_toolTip(std::move(toolTip))
    , m_openTitle(std::move(openTitle))
    , m_quitTitle(std::move(quitTitle))
{}

TrayIcon::~TrayIcon()
{
    delete m_trayIcon;
    delete m_menu;
}

bool TrayIcon::isAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIcon::setVisible(bool visible)
{
    if (visible && !m_trayIcon)
        make();
    if (m_trayIcon)
        m_trayIcon->setVisible(visible);
}

bool TrayIcon::isVisible() const
{
    return m_trayIcon && m_trayIcon->isVisible();
}

void TrayIcon::make()
{
    // A menu without a parent window: the icon lives outside every window.
    m_menu = new QMenu();
    m_menu->setTitle(m_toolTip);
    m_menu->setAccessibleName(m_toolTip);
    QAction *open = m_menu->addAction(m_openTitle);
    QAction *quit = m_menu->addAction(m_quitTitle);
    connect(open, &QAction::triggered, this, &TrayIcon::openRequested);
    connect(quit, &QAction::triggered, this, &TrayIcon::quitRequested);

    m_trayIcon = new QSystemTrayIcon(m_icon);
    m_trayIcon->setToolTip(m_toolTip);
    m_trayIcon->setContextMenu(m_menu);
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            emit openRequested();
    });
}

} // namespace velmora::platform
