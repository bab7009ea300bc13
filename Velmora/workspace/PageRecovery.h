#pragma once

#include <chrono>
#include <optional>

namespace velmora::workspace {

// What the workspace does when the render process of its page ends.
enum class PageRecovery {
    Nothing,     // a normal end, or the application is quitting
    Reload,      // the page is loaded again by itself
    ShowFailure, // it ended again soon after the last reload: the user decides
};

// A reload that is followed by another abnormal end within this time did not help.
inline constexpr std::chrono::seconds pageRecoveryWindow{30};

// abnormal: the render process crashed, was killed or ran out of memory. lastReload: when the
// page was last loaded again after such an end (by itself or at the user's request).
PageRecovery decidePageRecovery(bool abnormal, bool quitting,
                                std::optional<std::chrono::steady_clock::time_point> lastReload,
                                std::chrono::steady_clock::time_point now,
                                std::chrono::milliseconds window = pageRecoveryWindow);

} // namespace velmora::workspace
