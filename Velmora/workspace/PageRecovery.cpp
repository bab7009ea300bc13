#include "workspace/PageRecovery.h"

namespace velmora::workspace {

PageRecovery decidePageRecovery(bool abnormal, bool quitting,
                                std::optional<std::chrono::steady_clock::time_point> lastReload,
                                std::chrono::steady_clock::time_point now, std::chrono::milliseconds window)
{
    if (!abnormal || quitting)
        return PageRecovery::Nothing;
    if (lastReload && now - *lastReload < window)
        return PageRecovery::ShowFailure;
    return PageRecovery::Reload;
}

} // namespace velmora::workspace
