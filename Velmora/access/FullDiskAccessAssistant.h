#pragma once

#include "platform/Async.h"
#include "platform/ScreenLayout.h"
#include "platform/WindowList.h"

#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QUrl>
#include <QWidget>

#include <QCoro/QCoroTask>

#include <chrono>
#include <functional>
#include <optional>

namespace velmora::platform {
class SettingsOpener;
} // namespace velmora::platform

namespace velmora::access {

class FullDiskAccessGuide;

// How the placement loop paces itself; tests pass shorter values.
struct AssistantPlacementTiming
{
    std::chrono::milliseconds interval{150};
    int attempts = 24;
    // The attempt on which the panel goes beside the parent window (or onto the main screen)
    // when the settings window has not been found.
    int fallbackAttempt = 15;
};

// The platform services the assistant uses; nullptr or empty means the real one.
struct FullDiskAccessAssistantDependencies
{
    QUrl appURL; // empty = the application's own bundle
    platform::SettingsOpener *settingsOpener = nullptr;
    platform::WindowList *windowList = nullptr;
    std::function<platform::ScreenLayout()> screens;
    AssistantPlacementTiming timing;
};

// The small floating panel that guides the user through granting access: it opens the
// desktop's permission settings, places itself beside the settings window without covering
// it and follows that window for a few seconds, and when it closes, gives the focus back to
// the window that asked for it and reports completion once.
class FullDiskAccessAssistant : public QObject
{
    Q_OBJECT
public:
    using Dependencies = FullDiskAccessAssistantDependencies;

    explicit FullDiskAccessAssistant(Dependencies dependencies = {}, QObject *parent = nullptr);
    ~FullDiskAccessAssistant() override;

    // The one assistant of the run, made on first use and never destroyed.
    static FullDiskAccessAssistant &shared();

    // Runs once, the next time the panel closes; cleared before it runs. Callers set it
    // before presenting, replacing (without running) an earlier one.
    std::function<void()> onComplete;
    // The window brought back to the front when the panel closes.
    QPointer<QWidget> parentWindow;

    // Hides the panel, opens the permission settings and starts placing the panel beside
    // them. Answers whether the settings could be opened; the panel is placed either way.
    // False, doing nothing, when the panel is gone.
    bool openSettingsAndPositionGuide();

    // The panel; nullptr once it has been destroyed.
    QWidget *window() const;
    // Closes the panel, which ends the presentation.
    void close();

    // Whether a placement loop is running.
    bool isPlacing() const { return m_placementTask.isValid() && !m_placementTask.isCancelled() && m_runningLoops > 0; }

    // The settings application's main window in bottom-left coordinates, or none.
    std::optional<QRectF> settingsWindowFrame() const;
    // The rule behind it: the first (front-most) visible, normal window of at least 400 × 300
    // owned by the desktop's settings application.
    static std::optional<QRectF> settingsWindowFrame(const std::optional<QList<platform::WindowDescription>> &windows,
                                                     const platform::ScreenLayout &screens);

    // The panel's content size.
    static constexpr QSize panelSize{356, 410};

signals:
    // A placement loop has ended, for whatever reason.
    void placementEnded();

private:
    void windowWillClose();
    QCoro::Task<> placementLoop(platform::CancelToken token);

    QUrl m_appURL;
    platform::SettingsOpener *m_settingsOpener;
    platform::WindowList *m_windowList;
    std::function<platform::ScreenLayout()> m_screens;
    AssistantPlacementTiming m_timing;

    QPointer<QWidget> m_panel;
    platform::TaskHandle m_placementTask;
    int m_runningLoops = 0;
};

} // namespace velmora::access
