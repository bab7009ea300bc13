#pragma once

// Stand-ins for what the access screens reach but a test cannot: the desktop's settings, its
// window list and the screen layout (GateDoubles.h: the relaunch, and a gate held in each of
// its states).

#include "GateDoubles.h"

#include "access/FullDiskAccessAssistant.h"
#include "platform/SettingsOpener.h"
#include "platform/WindowList.h"

#include <chrono>

namespace velmora::test {

// The desktop's settings cannot be opened from a test: count the requests instead.
class CountingSettingsOpener : public platform::SettingsOpener
{
public:
    bool openPrivacySettings() override
    {
        ++opened;
        return answer;
    }
    // What each request reports.
    bool answer = true;
    int opened = 0;
};

// A desktop without a window list (as on Wayland).
class NoWindowList : public platform::WindowList
{
public:
    std::optional<QList<platform::WindowDescription>> windows() override { return std::nullopt; }
};

// An assistant over the given stand-ins on one 1440 x 900 screen, placing its panel at once.
inline access::FullDiskAccessAssistant::Dependencies assistantDependencies(platform::SettingsOpener &settingsOpener,
                                                                           platform::WindowList &windowList)
{
    access::FullDiskAccessAssistant::Dependencies deps;
    deps.settingsOpener = &settingsOpener;
    deps.windowList = &windowList;
    deps.screens = [] {
        platform::ScreenLayout layout;
        layout.frames = layout.visibleFrames = {QRectF(0, 0, 1440, 900)};
        layout.mainVisibleFrame = QRectF(0, 0, 1440, 900);
        layout.mirrorLine = 900;
        return layout;
    };
    deps.timing.interval = std::chrono::milliseconds(1);
    deps.timing.fallbackAttempt = 0;
    return deps;
}

} // namespace velmora::test
