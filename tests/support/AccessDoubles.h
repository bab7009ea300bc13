#pragma once

// Stand-ins for what the access screens reach but a test cannot: the desktop's settings, its
// window list, the relaunch and the screen layout; and a gate held in each of its states.

#include "access/FullDiskAccessAssistant.h"
#include "access/FullDiskAccessGate.h"
#include "platform/Relauncher.h"
#include "platform/SettingsOpener.h"
#include "platform/WindowList.h"

#include <QSemaphore>

#include <QCoro/QCoroTask>

#include <chrono>
#include <functional>
#include <memory>

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

// Keeps the relaunch's completion until the test lets it report.
class HeldRelauncher : public platform::Relauncher
{
public:
    void relaunch(std::function<void(platform::RelaunchResult)> completion) override
    {
        held = std::move(completion);
    }
    std::function<void(platform::RelaunchResult)> held;
};

// A gate whose probe answers "missing" only when let through, and whose relaunch reports only
// when the test calls relauncher.held.
struct HeldGate
{
    HeldGate()
    {
        access::FullDiskAccessGate::Dependencies deps;
        deps.relauncher = &relauncher;
        deps.terminate = [] {};
        gate = std::make_unique<access::FullDiskAccessGate>(
            [this] {
                mayAnswer.acquire();
                return false;
            },
            deps);
    }
    ~HeldGate() { mayAnswer.release(100); }
    HeldGate(const HeldGate &) = delete;
    HeldGate &operator=(const HeldGate &) = delete;

    // A finished negative check: the gate is idle and knows access is missing.
    void answerMissing()
    {
        mayAnswer.release();
        QCoro::waitFor(gate->check());
    }

    QSemaphore mayAnswer;
    HeldRelauncher relauncher;
    std::unique_ptr<access::FullDiskAccessGate> gate;
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
