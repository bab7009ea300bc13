#include "app/MainWindow.h"

#include "app/SettingsKeys.h"
#include "app/Texts.h"
#include "window/WindowLifecycleView.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QShortcut>
#include <QVBoxLayout>

namespace velmora::app {

namespace {
constexpr int saveDelayMs = 500;
} // namespace

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(app::windowTitle);
    setAccessibleName(app::windowTitle);

    QMenuBar *bar = menuBar();
    bar->setAccessibleName(applicationMenuTitle);
    // Alt+V opens it through its mnemonic, F10 as on the desktops' other programs.
    m_applicationMenu = bar->addMenu(QStringLiteral("&") + applicationMenuTitle);
    m_applicationMenu->setAccessibleName(applicationMenuTitle);
    auto *openMenu = new QShortcut(QKeySequence(Qt::Key_F10), this);
    openMenu->setContext(Qt::WindowShortcut);
    connect(openMenu, &QShortcut::activated, this, [this] { menuBar()->setActiveAction(m_applicationMenu->menuAction()); });
    m_about = m_applicationMenu->addAction(aboutTitle);
    m_about->setMenuRole(QAction::AboutRole);
    // Right after the About item, as the application's own command.
    m_checkForUpdates = m_applicationMenu->addAction(checkForUpdatesTitle);
    m_checkForUpdates->setMenuRole(QAction::ApplicationSpecificRole);
    m_applicationMenu->addSeparator();
    m_quit = m_applicationMenu->addAction(quitTitle);
    m_quit->setMenuRole(QAction::QuitRole);
    m_quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    m_quit->setShortcutContext(Qt::ApplicationShortcut);

    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(saveDelayMs);
    connect(&m_saveTimer, &QTimer::timeout, this, &MainWindow::savePlacement);

    resize(defaultSize);
}

MainWindow::~MainWindow() = default;

void MainWindow::setContent(QWidget *content, window::WindowLifecycleView *lifecycle)
{
    if (m_content)
        return;
    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    // Behind the content and outside the layout: it takes no room and no clicks.
    lifecycle->setParent(central);
    lifecycle->lower();
    layout->addWidget(content);
    setCentralWidget(central);
    m_content = content;
    m_lifecycle = lifecycle;
}

void MainWindow::restorePlacement(bool keepFromNowOn)
{
    const QByteArray saved = QSettings().value(windowGeometryKey).toByteArray();
    if (saved.isEmpty() || !restoreGeometry(saved))
        resize(defaultSize);
    m_keepsPlacement = keepFromNowOn;
}

void MainWindow::savePlacement() const
{
    if (!m_keepsPlacement)
        return;
    QSettings().setValue(windowGeometryKey, saveGeometry());
}

void MainWindow::moveEvent(QMoveEvent *event)
{
    QMainWindow::moveEvent(event);
    placementChanged();
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    placementChanged();
}

void MainWindow::placementChanged()
{
    if (m_keepsPlacement)
        m_saveTimer.start();
}

} // namespace velmora::app
