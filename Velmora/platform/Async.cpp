#include "platform/Async.h"

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

} // namespace

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
