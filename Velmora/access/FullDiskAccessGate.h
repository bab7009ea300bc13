#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <QCoro/QCoroTask>

#include <functional>
#include <memory>

namespace velmora::platform {
class ProcessInfo;
class Relauncher;
} // namespace velmora::platform

namespace velmora::access {

class AccessProbeRun;

// The platform services the gate uses; nullptr or empty means the real one.
struct FullDiskAccessGateDependencies
{
    platform::Relauncher *relauncher = nullptr;   // nullptr = start the own executable again
    platform::ProcessInfo *processInfo = nullptr; // nullptr = this process
    // Ends this instance after a successful relaunch; empty = QCoreApplication::quit().
    std::function<void()> terminate;
};

// Knows whether Velmora holds full disk access. It probes only when asked (check), keeps a
// positive answer for the rest of the run, lets overlapping questions share one probe, and can
// relaunch the application so that a freshly granted access takes effect. It has no user
// interface: the access screen and the startup sequence observe it.
class FullDiskAccessGate : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isReady READ isReady NOTIFY isReadyChanged)
    Q_PROPERTY(bool isChecking READ isChecking NOTIFY isCheckingChanged)
    Q_PROPERTY(bool hasChecked READ hasChecked NOTIFY hasCheckedChanged)
    Q_PROPERTY(bool isRestarting READ isRestarting NOTIFY isRestartingChanged)
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)

public:
    // The access test. It runs on a worker thread and must not touch the gate.
    using Probe = std::function<bool()>;

    using Dependencies = FullDiskAccessGateDependencies;

    // An empty probe means the platform's own, access::probeAuthorization().
    explicit FullDiskAccessGate(Probe probe = {}, Dependencies dependencies = {}, QObject *parent = nullptr);
    ~FullDiskAccessGate() override;

    // A probe has found access; once true it stays true for the rest of the run.
    bool isReady() const { return m_isReady; }
    // A probe is in flight.
    bool isChecking() const { return m_isChecking; }
    // At least one probe has finished, with either answer.
    bool hasChecked() const { return m_hasChecked; }
    // A relaunch was requested and has not been reported as failed.
    bool isRestarting() const { return m_isRestarting; }
    // Shown instead of the restart hint after a failed relaunch; empty until then, never cleared.
    QString message() const { return m_message; }

    // Whether access is present. Never blocks the main thread: the probe runs on a worker
    // thread, and every call made while it runs waits for that same probe.
    QCoro::Task<bool> check();

    // Starts a new instance of the application unless a check is running, access was already
    // found or a relaunch is under way. A confirmed relaunch ends this instance.
    void restart();

signals:
    void isReadyChanged();
    void isCheckingChanged();
    void hasCheckedChanged();
    void isRestartingChanged();
    void messageChanged();

private:
    void setIsReady(bool value);
    void setHasChecked(bool value);
    void setIsRestarting(bool value);
    void setMessage(const QString &value);
    void applyProbeResult(bool granted);

    Probe m_probe;
    platform::Relauncher *m_relauncher;
    platform::ProcessInfo *m_processInfo;
    std::function<void()> m_terminate;

    bool m_isReady = false;
    bool m_isChecking = false;
    bool m_hasChecked = false;
    bool m_isRestarting = false;
    QString m_message;
    // The probe in flight; set exactly while isChecking is true. Every waiting check holds
    // it too, so it outlives the gate for as long as anyone awaits its answer.
    std::shared_ptr<AccessProbeRun> m_pending;
};

} // namespace velmora::access
