#include "platform/Async.h"

#include <QThreadPool>
#include <QTimer>

#include <QCoro/QCoroSignal>

namespace velmora::platform {
namespace {

// Fires once, either when the timer runs out or when the token is cancelled.
class Waker : public QObject
{
    Q_OBJECT
signals:
    void woke();
};

// Announces on the thread it lives in that a worker has finished.
class WorkerDone : public QObject
{
    Q_OBJECT
signals:
    void done();
};

} // namespace

WorkerStop::WorkerStop(const CancelToken &token) : WorkerStop()
{
    if (token.isCancelled())
        request();
    if (CancelState *state = token.state())
        m_connection = QObject::connect(state, &CancelState::cancelled, state, [flag = m_flag] { flag->store(true); });
}

QCoro::Task<void> runOnWorkerThread(std::function<void()> work)
{
    // Shared with the worker: whichever lets go last deletes it, on its own thread's loop.
    std::shared_ptr<WorkerDone> done(new WorkerDone, [](WorkerDone *object) { object->deleteLater(); });
    QThreadPool::globalInstance()->start([work = std::move(work), done] {
        work();
        QMetaObject::invokeMethod(
            done.get(), [done] { emit done->done(); }, Qt::QueuedConnection);
    });
    // The announcement is queued to this thread, so it cannot arrive before this wait begins.
    co_await qCoro(done.get(), &WorkerDone::done);
}

QCoro::Task<bool> sleepFor(std::chrono::milliseconds duration, CancelToken token, CancelToken wakeEarly)
{
    if (token.isCancelled())
        co_return false;
    if (wakeEarly.isCancelled())
        co_return true;

    Waker waker;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &waker, &Waker::woke);
    if (CancelState *state = token.state())
        QObject::connect(state, &CancelState::cancelled, &waker, &Waker::woke);
    if (CancelState *state = wakeEarly.state())
        QObject::connect(state, &CancelState::cancelled, &waker, &Waker::woke);
    timer.start(duration);

    co_await qCoro(&waker, &Waker::woke);
    co_return !token.isCancelled();
}

} // namespace velmora::platform

#include "Async.moc"
