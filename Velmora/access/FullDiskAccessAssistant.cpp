#include "access/FullDiskAccessAssistant.h"

#include "access/AccessGuidePlacement.h"
#include "access/FullDiskAccessGuide.h"
#include "access/Ink.h"
#include "platform/Bundle.h"
#include "platform/SettingsOpener.h"

#include <QApplication>
#include <QCloseEvent>
#include <QVBoxLayout>

#include <cmath>

namespace velmora::access {
namespace {

// The floating panel. Closing it (its close button, the guide's "done", or close()) only
// hides it; the assistant hears of every close.
class AssistantPanel : public QWidget
{
public:
    std::function<void()> willClose;

    AssistantPanel()
        : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                               | Qt::WindowCloseButtonHint)
    {
        setWindowTitle(QStringLiteral("Velmora"));
        // Kept for the next presentation; stays up while the settings are in front.
        setAttribute(Qt::WA_DeleteOnClose, false);
        setAttribute(Qt::WA_QuitOnClose, false);
        setAttribute(Qt::WA_MacAlwaysShowToolWindow, true);
        // Brought to the front without taking the focus from the settings window.
        setAttribute(Qt::WA_ShowWithoutActivating, true);
        setFixedSize(FullDiskAccessAssistant::panelSize);
        QPalette light;
        light.setColor(QPalette::Window, FullDiskAccessGuide::background);
        setPalette(light);
        setAutoFillBackground(true);
    }

protected:
    void closeEvent(QCloseEvent *event) override
    {
        QWidget::closeEvent(event);
        if (willClose)
            willClose();
    }
};

} // namespace

FullDiskAccessAssistant::FullDiskAccessAssistant(Dependencies dependencies, QObject *parent)
    : QObject(parent)
    , m_appURL(dependencies.appURL.isEmpty() ? platform::Bundle::main().bundleURL() : dependencies.appURL)
    , m_settingsOpener(dependencies.settingsOpener ? dependencies.settingsOpener : &platform::SettingsOpener::system())
    , m_windowList(dependencies.windowList ? dependencies.windowList : &platform::WindowList::system())
    , m_screens(dependencies.screens ? std::move(dependencies.screens)
                                     : std::function<platform::ScreenLayout()>(&platform::ScreenLayout::current))
    , m_timing(dependencies.timing)
{
    auto *panel = new AssistantPanel;
    QPointer<FullDiskAccessAssistant> self(this);
    auto *guide = new FullDiskAccessGuide(
        m_appURL,
        [self] {
            if (self)
                self->openSettingsAndPositionGuide();
        },
        [self] {
            if (self)
                self->close();
        },
        inkColor, panel);
    auto *layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(guide);
    panel->willClose = [self] {
        if (self)
            self->windowWillClose();
    };
    m_panel = panel;
}

FullDiskAccessAssistant::~FullDiskAccessAssistant()
{
    m_placementTask.cancel();
    if (m_panel) {
        static_cast<AssistantPanel *>(m_panel.data())->willClose = nullptr;
        delete m_panel.data();
    }
}

FullDiskAccessAssistant &FullDiskAccessAssistant::shared()
{
    // Never destroyed: the panel is a top-level widget, which must not outlive the application
    // object, and static destruction would come after it.
    static FullDiskAccessAssistant *assistant = new FullDiskAccessAssistant;
    return *assistant;
}

QWidget *FullDiskAccessAssistant::window() const
{
    return m_panel;
}

void FullDiskAccessAssistant::close()
{
    if (m_panel)
        m_panel->close();
}

bool FullDiskAccessAssistant::openSettingsAndPositionGuide()
{
    if (!m_panel)
        return false;
    m_placementTask.cancel();
    m_panel->hide();
    const bool opened = m_settingsOpener->openPrivacySettings();
    m_placementTask = platform::TaskHandle::make();
    platform::detach(placementLoop(m_placementTask.token()));
    return opened;
}

void FullDiskAccessAssistant::windowWillClose()
{
    m_placementTask.cancel();
    m_placementTask = {};
    std::function<void()> complete = std::exchange(onComplete, nullptr);
    if (QWidget *parent = parentWindow.data()) {
        QWidget *window = parent->window();
        window->show();
        window->raise();
        window->activateWindow();
    }
    // There is no separate "activate the application" on this platform: activating the parent
    // window above is how Velmora comes to the front.
    if (complete)
        complete();
}

std::optional<QRectF> FullDiskAccessAssistant::settingsWindowFrame() const
{
    return settingsWindowFrame(m_windowList->windows(), m_screens());
}

std::optional<QRectF> FullDiskAccessAssistant::settingsWindowFrame(
    const std::optional<QList<platform::WindowDescription>> &windows, const platform::ScreenLayout &screens)
{
    if (!windows || screens.frames.isEmpty())
        return std::nullopt;
    for (const platform::WindowDescription &window : *windows) {
        if (!platform::isDesktopSettingsProcess(window.ownerName) || !window.normal || !window.visible)
            continue;
        if (window.bounds.width() < 400 || window.bounds.height() < 300)
            continue;
        return screens.fromTopLeft(QRectF(window.bounds));
    }
    return std::nullopt;
}

QCoro::Task<> FullDiskAccessAssistant::placementLoop(platform::CancelToken token)
{
    QPointer<FullDiskAccessAssistant> self(this);
    const AssistantPlacementTiming timing = m_timing;
    ++m_runningLoops;
    // Where the panel was put last; none until the first placement. Compared as the frame's
    // top-left corner, which stays put when the window manager adds its decorations to the
    // frame on the first show (the bottom-left corner would seem to move then).
    std::optional<QPoint> placedPosition;

    for (int attempt = 0; attempt < timing.attempts; ++attempt) {
        const bool slept = co_await platform::sleepFor(timing.interval, token);
        if (!slept || !self || token.isCancelled() || !self->m_panel)
            break;
        QWidget *panel = self->m_panel;
        const platform::ScreenLayout screens = self->m_screens();
        const QRectF panelFrame = screens.fromTopLeft(QRectF(panel->frameGeometry()));

        // The user has moved the panel: leave it where it is.
        if (placedPosition) {
            const QPoint moved = panel->pos() - *placedPosition;
            if (std::hypot(moved.x(), moved.y()) > 1)
                break;
        }

        std::optional<QRectF> anchor = self->settingsWindowFrame();
        if (!anchor) {
            if (attempt != timing.fallbackAttempt)
                continue;
            if (QWidget *parent = self->parentWindow.data())
                anchor = screens.fromTopLeft(QRectF(parent->window()->frameGeometry()));
            else if (screens.mainVisibleFrame)
                anchor = *screens.mainVisibleFrame;
            else
                anchor = panelFrame;
        }

        const QRectF placed = AccessGuidePlacement::frame(panelFrame.size(), *anchor, screens.visibleFrames);
        panel->move(screens.toTopLeft(placed).topLeft().toPoint());
        placedPosition = panel->pos();
        panel->show();
        panel->raise();
    }

    if (self) {
        --self->m_runningLoops;
        emit self->placementEnded();
    }
}

} // namespace velmora::access
