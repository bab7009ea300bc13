#pragma once

// A scripted update engine: the update controller's state machine runs against it exactly as
// against the real engine, while the test decides when the engine can check, what a check
// finds and how a cycle ends. The real engine needs an update server, which tests cannot reach.

#include "updates/Updater.h"

#include <QMetaMethod>
#include <QTimer>

#include <memory>

namespace velmora::test {

class ScriptedUpdater : public updates::Updater
{
public:
    bool canCheck = false;
    bool automaticChecks = true;
    bool automaticDownloads = true;
    bool session = false;
    // When set, writes of the automatic-check setting are ignored (an engine that refuses).
    bool refuseAutomaticChecksChange = false;
    int backgroundChecks = 0;
    int informationChecks = 0;
    // The kind of the cycle that is running, if any.
    updates::UpdateCheckKind runningKind = updates::UpdateCheckKind::UpdatesInBackground;

    bool canCheckForUpdates() const override { return canCheck; }
    bool automaticallyChecksForUpdates() const override { return automaticChecks; }
    void setAutomaticallyChecksForUpdates(bool on) override
    {
        if (refuseAutomaticChecksChange || automaticChecks == on)
            return;
        automaticChecks = on;
        announceLater([this, on] { emit automaticallyChecksForUpdatesChanged(on); });
    }
    bool automaticallyDownloadsUpdates() const override { return automaticDownloads; }
    void setAutomaticallyDownloadsUpdates(bool on) override { automaticDownloads = on; }
    bool sessionInProgress() const override { return session; }

    void checkForUpdatesInBackground() override
    {
        ++backgroundChecks;
        session = true;
        runningKind = updates::UpdateCheckKind::UpdatesInBackground;
    }
    void checkForUpdateInformation() override
    {
        ++informationChecks;
        session = true;
        runningKind = updates::UpdateCheckKind::UpdateInformation;
    }

    // Someone still listens to the announcements of the two properties.
    bool isObserved() const
    {
        return isSignalConnected(QMetaMethod::fromSignal(&updates::Updater::canCheckForUpdatesChanged))
               || isSignalConnected(QMetaMethod::fromSignal(&updates::Updater::automaticallyChecksForUpdatesChanged));
    }

    // Changes canCheckForUpdates and announces it later, as the engine does.
    void setCanCheck(bool value)
    {
        if (canCheck == value)
            return;
        canCheck = value;
        announceLater([this, value] { emit canCheckForUpdatesChanged(value); });
    }

private:
    template<typename F>
    void announceLater(F f)
    {
        QTimer::singleShot(0, this, f);
    }
};

class ScriptedController : public updates::StandardUpdaterController
{
public:
    ScriptedController(updates::UpdaterDelegate &updaterDelegate, updates::UserDriverDelegate &driverDelegate)
        : m_updaterDelegate(updaterDelegate)
        , m_driverDelegate(driverDelegate)
    {}

    ScriptedUpdater scripted;
    // When cleared, startUpdater() leaves the engine unable to check (still setting itself up).
    bool ableOnStart = true;
    int startCount = 0;
    int installRequests = 0;
    // Whether the engine would show its own window for the last update it found in a cycle
    // it started itself (answered by the user-driver delegate).
    std::optional<bool> engineShowsWindow;

    updates::Updater &updater() override { return scripted; }
    void startUpdater() override
    {
        ++startCount;
        if (ableOnStart)
            scripted.setCanCheck(true);
    }
    void checkForUpdates() override
    {
        ++installRequests;
        scripted.session = true;
        scripted.runningKind = updates::UpdateCheckKind::Updates;
    }

    // The running cycle finds item, reported the way the engine reports it.
    void findUpdate(const updates::UpdateItem &item)
    {
        m_updaterDelegate.didFindValidUpdate(scripted, item);
        if (scripted.runningKind == updates::UpdateCheckKind::UpdatesInBackground) {
            const bool handle = m_driverDelegate.shouldHandleShowingScheduledUpdate(item, false);
            engineShowsWindow = handle;
            m_driverDelegate.willHandleShowingUpdate(handle, item);
        }
    }

    // The running cycle ends.
    void finishCycle(std::optional<updates::UpdaterError> error = std::nullopt)
    {
        scripted.session = false;
        m_updaterDelegate.didFinishUpdateCycle(scripted, scripted.runningKind, error);
    }

    bool postponeRelaunch(updates::RelaunchContinuation continuation)
    {
        return m_updaterDelegate.shouldPostponeRelaunch(scripted, updates::UpdateItem{}, std::move(continuation));
    }

    // The user chose "later" while the relaunch was held.
    void withdrawRelaunch() { m_updaterDelegate.relaunchWithdrawn(scripted); }

    // A factory that makes this controller; made points at the one it made.
    static updates::StandardUpdaterControllerFactory factory(ScriptedController **made = nullptr)
    {
        return [made](updates::UpdaterDelegate &u, updates::UserDriverDelegate &d) {
            auto controller = std::make_unique<ScriptedController>(u, d);
            if (made)
                *made = controller.get();
            return controller;
        };
    }

private:
    updates::UpdaterDelegate &m_updaterDelegate;
    updates::UserDriverDelegate &m_driverDelegate;
};

inline updates::UpdaterError noUpdateError()
{
    return updates::UpdaterError{QString::fromLatin1(updates::updaterErrorDomain), updates::noUpdateErrorCode, {}};
}

} // namespace velmora::test
