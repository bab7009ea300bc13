#include "app/StartupTrace.h"

#include "backend/BackendController.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <QWebEngineView>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace velmora::app {

namespace {

// Milliseconds since boot at which this process was created, from the kernel's own record
// (field 22 of /proc/self/stat, in clock ticks), so that the time spent loading libraries
// before main counts too. Falls back to the first call when the record cannot be read.
double processStartMs()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray text = stat.readAll();
        // The command name in field 2 may hold spaces; the fields after it follow its ')'.
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        bool ok = false;
        const qulonglong ticks = fields.size() > 19 ? fields.at(19).toULongLong(&ok) : 0;
        const long hz = sysconf(_SC_CLK_TCK);
        if (ok && hz > 0)
            return double(ticks) * 1000.0 / double(hz);
    }
    return -1;
}

double bootTimeMs()
{
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
}

double sinceProcessStartMs()
{
    static const double start = [] {
        const double fromKernel = processStartMs();
        return fromKernel >= 0 ? fromKernel : bootTimeMs();
    }();
    return bootTimeMs() - start;
}

// Reports the first expose of the native window behind a top-level widget; the native window
// exists only once the widget is shown.
class ExposeWatcher : public QObject
{
public:
    explicit ExposeWatcher(QWidget &window) : QObject(&window), m_window(&window) { window.installEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_window && event->type() == QEvent::Show) {
            StartupTrace::mark("window-shown");
            if (QWindow *handle = m_window->windowHandle(); handle && !m_handle) {
                m_handle = handle;
                handle->installEventFilter(this);
            }
        } else if (watched == m_handle && event->type() == QEvent::Expose && m_handle->isExposed()) {
            StartupTrace::mark("window-exposed");
            m_handle->removeEventFilter(this);
        }
        return false;
    }

private:
    QPointer<QWidget> m_window;
    QPointer<QWindow> m_handle;
};

// Ticks every few milliseconds and remembers the longest gap between two ticks: the longest time
// the main thread spent away from its event loop during the current phase.
class PauseMeter : public QObject
{
public:
    explicit PauseMeter(QObject *parent) : QObject(parent)
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(tickMs);
        QObject::connect(&m_timer, &QTimer::timeout, this,
                         [this] { m_longest = std::max(m_longest, m_sinceTick.restart()); });
        m_sinceTick.start();
        m_timer.start();
    }

    // Prints the longest gap of the phase that ends now and starts the next one. The gap in
    // progress (the work that ends the phase and what follows it) counts for the next phase.
    void endPhase(const char *phase)
    {
        std::fprintf(stderr, "velmora-trace-pause %s %lld\n", phase, m_longest);
        std::fflush(stderr);
        m_longest = 0;
    }

private:
    static constexpr int tickMs = 5;
    QTimer m_timer;
    QElapsedTimer m_sinceTick;
    qint64 m_longest = 0;
};

} // namespace

bool StartupTrace::enabled()
{
    static const bool on = qEnvironmentVariable("VELMORA_TRACE_STARTUP") == QLatin1String("1");
    return on;
}

void StartupTrace::mark(const char *event)
{
    if (!enabled())
        return;
    static QSet<QByteArray> marked;
    if (marked.contains(event))
        return;
    marked.insert(event);
    // Once, before the first mark: the same moment on the system's monotonic clock, so that a
    // benchmark can place every mark on its own clock (exact to the millisecond, where the
    // process's start time is kept in 10 ms ticks).
    static const bool clockPrinted = [] {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const double since = sinceProcessStartMs();
        std::fprintf(stderr, "velmora-trace-clock %.1f %.6f\n", since, double(now.tv_sec) + double(now.tv_nsec) / 1e9);
        return true;
    }();
    Q_UNUSED(clockPrinted);
    std::fprintf(stderr, "velmora-trace %s %.1f\n", event, sinceProcessStartMs());
    std::fflush(stderr);
}

void StartupTrace::watch(QWidget &window, backend::BackendController &backend)
{
    if (!enabled())
        return;
    mark("trace-installed");
    new ExposeWatcher(window);
    QPointer<PauseMeter> pauses = new PauseMeter(&window);
    // Marked already when the backend was launched before the window.
    QObject::connect(&backend, &backend::BackendController::launched, &window, [] { mark("backend-launched"); });
    QObject::connect(&backend, &backend::BackendController::urlChanged, &window, [&window, pauses] {
        mark("url-set");
        if (pauses)
            pauses->endPhase("until-url");
        // The web view is made by another handler of the same signal; look for it once every
        // handler has run.
        QTimer::singleShot(0, &window, [&window, pauses] {
            QWebEngineView *view = window.findChild<QWebEngineView *>();
            if (!view)
                return;
            mark("view-created");
            QObject::connect(view, &QWebEngineView::loadFinished, &window, [pauses](bool ok) {
                mark(ok ? "load-finished" : "load-failed");
                if (pauses) {
                    pauses->endPhase("url-to-load");
                    delete pauses.data(); // once: later loads are not start-up
                }
            });
        });
    });
}

} // namespace velmora::app
