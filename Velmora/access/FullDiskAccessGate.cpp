#include "access/FullDiskAccessGate.h"

#include "access/AccessProbe.h"
#include "access/Texts.h"
#include "platform/ProcessInfo.h"
#include "platform/Relauncher.h"

#include <QCoreApplication>
#include <QThreadPool>

#include <QCoro/QCoroSignal>

namespace velmora::access {

// One run of the probe on a worker thread, its answer delivered on the main thread. The gate
// and every check waiting for the answer share ownership, so the object stays alive for as
// long as anyone awaits its signal; the worker holds it only weakly.
class AccessProbeRun : public QObject
{
    Q_OBJECT
public:
    static std::shared_ptr<AccessProbeRun> start(FullDiskAccessGate::Probe probe)
    {
        // deleteLater: the last owner may let go while the run is still delivering its signal.
        std::shared_ptr<AccessProbeRun> run(new AccessProbeRun, [](AccessProbeRun *r) { r->deleteLater(); });
        std::weak_ptr<AccessProbeRun> weakRun = run;
        QObject *mainThreadContext = QCoreApplication::instance();
        QThreadPool::globalInstance()->start([probe = std::move(probe), weakRun, mainThreadContext] {
            bool granted = false;
            try {
                granted = probe();
            } catch (...) {
                // Any failure of the test means that access is missing.
                granted = false;
            }
            QMetaObject::invokeMethod(
                mainThreadContext,
                [weakRun, granted] {
                    if (auto run = weakRun.lock())
                        run->finish(granted);
                },
                Qt::QueuedConnection);
        });
        return run;
    }

    QCoro::Task<bool> answer()
    {
        if (m_finished)
            co_return m_granted;
        const bool granted = co_await qCoro(this, &AccessProbeRun::finished);
        co_return granted;
    }

signals:
    void finished(bool granted);

private:
    void finish(bool granted)
    {
        m_finished = true;
        m_granted = granted;
        emit finished(granted);
    }

    bool m_finished = false;
    bool m_granted = false;
};

FullDiskAccessGate::FullDiskAccessGate(Probe probe, Dependencies dependencies, QObject *parent)
    : QObject(parent)
    , m_probe(probe ? std::move(probe) : Probe([] { return access::probeAuthorization(); }))
    , m_relauncher(dependencies.relauncher ? dependencies.relauncher : &platform::Relauncher::system())
    , m_processInfo(dependencies.processInfo ? dependencies.processInfo : &platform::ProcessInfo::current())
    , m_terminate(dependencies.terminate ? std::move(dependencies.terminate)
                                         : std::function<void()>([] { QCoreApplication::quit(); }))
{}

FullDiskAccessGate::~FullDiskAccessGate() = default;

QCoro::Task<bool> FullDiskAccessGate::check()
{
    if (m_isRestarting)
        co_return false;
    if (m_isReady)
        co_return true;

    // Held by this frame until the answer arrives, whatever happens to the gate meanwhile.
    std::shared_ptr<AccessProbeRun> run = m_pending;
    if (!run) {
        // No suspension between looking at m_pending and storing the new run: overlapping
        // checks cannot start a second probe. isChecking is announced only once m_pending is
        // stored, because an observer may check again while it hears of it.
        m_isChecking = true;
        run = AccessProbeRun::start(m_probe);
        m_pending = run;
        // A direct connection: the state is applied once, before any waiting check resumes
        // (their resumption is queued), even if the check that started the probe is gone.
        connect(run.get(), &AccessProbeRun::finished, this, &FullDiskAccessGate::applyProbeResult);
        emit isCheckingChanged();
    }
    const bool granted = co_await run->answer();
    co_return granted;
}

void FullDiskAccessGate::applyProbeResult(bool granted)
{
    setIsReady(granted);
    setHasChecked(true);
    // isChecking and m_pending end together: whoever hears that the check is over and checks
    // again must get a new probe, not the answer of the one that just ended.
    m_isChecking = false;
    m_pending.reset();
    emit isCheckingChanged();
}

void FullDiskAccessGate::restart()
{
    if (m_isReady || m_isChecking || m_isRestarting)
        return;
    setIsRestarting(true);

    QPointer<FullDiskAccessGate> self(this);
    const qint64 ownProcessId = m_processInfo->processId();
    std::function<void()> terminate = m_terminate;
    m_relauncher->relaunch([self, ownProcessId, terminate](platform::RelaunchResult result) {
        // May run on any thread: only hand the outcome to the main thread from here.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, ownProcessId, terminate, result] {
                if (result.started() && result.processId != ownProcessId) {
                    // The new instance checks access for itself.
                    terminate();
                    return;
                }
                if (self) {
                    self->setIsRestarting(false);
                    self->setMessage(relaunchFailedMessage);
                }
            },
            Qt::QueuedConnection);
    });
}

void FullDiskAccessGate::setIsReady(bool value)
{
    if (m_isReady == value)
        return;
    m_isReady = value;
    emit isReadyChanged();
}

void FullDiskAccessGate::setHasChecked(bool value)
{
    if (m_hasChecked == value)
        return;
    m_hasChecked = value;
    emit hasCheckedChanged();
}

void FullDiskAccessGate::setIsRestarting(bool value)
{
    if (m_isRestarting == value)
        return;
    m_isRestarting = value;
    emit isRestartingChanged();
}

void FullDiskAccessGate::setMessage(const QString &value)
{
    if (m_message == value)
        return;
    m_message = value;
    emit messageChanged();
}

} // namespace velmora::access

#include "FullDiskAccessGate.moc"
