#pragma once

// Start-up milestones for the benchmarks in bench/. With VELMORA_TRACE_STARTUP=1 in the
// environment each milestone prints one line
//     velmora-trace <event> <milliseconds since the process started>
// to stderr, the first time it happens; without it nothing is watched or printed.

class QWidget;

namespace velmora::backend {
class BackendController;
}

namespace velmora::app {

class StartupTrace
{
public:
    /// True when VELMORA_TRACE_STARTUP is 1.
    static bool enabled();
    /// Prints event once (later marks of the same event are dropped). No-op when disabled.
    static void mark(const char *event);
    /// Marks "trace-installed" now, then "window-shown" and "window-exposed" for window,
    /// "url-set" when backend publishes its address, and "load-finished" (or "load-failed") for
    /// the first load of the web view that then appears inside window. Call before showing it.
    static void watch(QWidget &window, backend::BackendController &backend);
};

} // namespace velmora::app
