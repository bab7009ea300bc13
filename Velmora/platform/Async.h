#pragma once

// Cooperative cancellation for the coroutines that run on the main thread.
//
// A long-running operation keeps a TaskHandle in a field of its owner; starting the next
// operation cancels the previous handle. The coroutine receives the handle's CancelToken by
// value and checks it after every suspension: a cancelled task writes nothing. Sleeps end
// early when their token is cancelled.

#include <QObject>
#include <QPointer>

#include <QCoro/QCoroTask>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

namespace velmora::platform {

class CancelState : public QObject
{
    Q_OBJECT
public:
    bool isCancelled() const { return m_cancelled; }
    void cancel()
    {
        if (m_cancelled)
            return;
        m_cancelled = true;
        emit cancelled();
    }

signals:
    void cancelled();

private:
    bool m_cancelled = false;
};

// Copyable view of one cancellation state. A default-constructed token is never cancelled.
class CancelToken
{
public:
    CancelToken() = default;
    explicit CancelToken(std::shared_ptr<CancelState> state) : m_state(std::move(state)) {}

    bool isCancelled() const { return m_state && m_state->isCancelled(); }
    // Emits cancelled() once when the token is cancelled; null for a token that never is.
    CancelState *state() const { return m_state.get(); }

private:
    std::shared_ptr<CancelState> m_state;
};

// The handle of one running task, kept by its owner so that a later request can cancel it.
class TaskHandle
{
public:
    TaskHandle() = default;

    // A fresh handle with its own, not yet cancelled, token.
    static TaskHandle make() { return TaskHandle(std::make_shared<CancelState>()); }

    bool isValid() const { return bool(m_state); }
    CancelToken token() const { return CancelToken(m_state); }
    void cancel() const
    {
        if (m_state)
            m_state->cancel();
    }
    bool isCancelled() const { return m_state && m_state->isCancelled(); }

private:
    explicit TaskHandle(std::shared_ptr<CancelState> state) : m_state(std::move(state)) {}
    std::shared_ptr<CancelState> m_state;
};

// Sleeps on the main thread's event loop with a precise timer. Returns true when the full
// duration passed, false when the token was cancelled (before or during the sleep, which then
// ends early). Cancelling wakeEarly ends the sleep early too, without counting as a
// cancellation: the answer is then true.
QCoro::Task<bool> sleepFor(std::chrono::milliseconds duration, CancelToken token = {}, CancelToken wakeEarly = {});

// Runs work on a thread of the global pool and resumes the awaiting coroutine with its result
// on the awaiting thread's event loop. work must not touch objects of the awaiting thread; to
// stop early it can watch a flag of its own (see WorkerStop).
QCoro::Task<void> runOnWorkerThread(std::function<void()> work);

// A stop request a worker can read from its own thread while the main thread sets it.
class WorkerStop
{
public:
    WorkerStop() : m_flag(std::make_shared<std::atomic_bool>(false)) {}
    // Stops as soon as token is cancelled too.
    explicit WorkerStop(const CancelToken &token);

    void request() const { m_flag->store(true); }
    bool isRequested() const { return m_flag->load(); }

private:
    std::shared_ptr<std::atomic_bool> m_flag;
    QMetaObject::Connection m_connection;
};

// Starts a coroutine and lets it run on its own; its result is dropped.
template<typename T>
void detach(QCoro::Task<T> &&task)
{
    [](QCoro::Task<T> t) -> QCoro::Task<> { co_await t; }(std::move(task));
}

} // namespace velmora::platform
