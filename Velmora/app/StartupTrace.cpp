#include "app/StartupTrace.h"

#include "backend/BackendController.h"

#include <QFile>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <QWebEngineView>
#include <QWidget>
#include <QWindow>

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
    explicit ExposeWatcher(QWidget &window) : QObject(&window), m_window(&window)
    {
        window.installEventFilter(this);
    }

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
    std::fprintf(stderr, "velmora-trace %s %.1f\n", event, sinceProcessStartMs());
    std::fflush(stderr);
}

void StartupTrace::watch(QWidget &window, backend::BackendController &backend)
{
    if (!enabled())
        return;
    mark("trace-installed");
    new ExposeWatcher(window);
    QObject::connect(&backend, &backend::BackendController::urlChanged, &window, [&window] {
        mark("url-set");
        // The web view is made by another handler of the same signal; look for it once every
        // handler has run.
        QTimer::singleShot(0, &window, [&window] {
            QWebEngineView *view = window.findChild<QWebEngineView *>();
            if (!view)
                return;
            QObject::connect(view, &QWebEngineView::loadFinished, &window,
                             [](bool ok) { mark(ok ? "load-finished" : "load-failed"); });
        });
    });
}

} // namespace velmora::app
