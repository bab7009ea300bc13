#pragma once

// Start-up milestones for the benchmarks in bench/. With VELMORA_TRACE_STARTUP=1 in the
// environment each milestone prints one line
//     velmora-trace <event> <milliseconds since the process started>
// to stderr, the first time it happens; without it nothing is watched or printed. watch() also
// reports how long the main thread was at most kept from its event loop in each start-up phase:
//     velmora-trace-pause <phase> <longest gap between 5 ms timer ticks, in milliseconds>
// and, once before the first milestone, the moment of that line on CLOCK_MONOTONIC:
//     velmora-trace-clock <milliseconds since the process started> <monotonic seconds>

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
    /// Marks "trace-installed" now, "backend-launched" when backend launches its process (unless
    /// the early start marked it already), then "window-shown" and "window-exposed" for window,
    /// "url-set" when backend publishes its address, "view-created" once the web view that then
    /// appears inside window has been made, and "load-finished" (or "load-failed") for
    /// its first load. Call before showing
    /// window and before anything else connects to backend's urlChanged, so that "url-set" is
    /// marked before the web view is made.
    /// Pauses are reported for "until-url" (window shown while the backend starts) and
    /// "url-to-load" (web view made and page loaded).
    static void watch(QWidget &window, backend::BackendController &backend);
};

} // namespace velmora::app
