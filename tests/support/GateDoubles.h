#pragma once

// Stand-ins for the access gate's relaunch, and a gate held in each of its states.

#include "TestSupport.h"

#include "access/FullDiskAccessGate.h"
#include "platform/Relauncher.h"

#include <QSemaphore>

#include <QCoro/QCoroTask>

#include <functional>
#include <memory>

namespace velmora::test {

// Keeps the relaunch's completion until the test lets it report.
class HeldRelauncher : public platform::Relauncher
{
public:
    void relaunch(std::function<void(platform::RelaunchResult)> completion) override { held = std::move(completion); }
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
        test::waitFor(gate->check());
    }

    QSemaphore mayAnswer;
    HeldRelauncher relauncher;
    std::unique_ptr<access::FullDiskAccessGate> gate;
};

} // namespace velmora::test
