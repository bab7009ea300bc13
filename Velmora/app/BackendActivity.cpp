#include "app/BackendActivity.h"

#include "backend/BackendController.h"

namespace velmora::app {

QCoro::Task<std::optional<bool>> activeWork(backend::BackendController &backend)
{
    // Until the controller can ask its backend: with a backend there is no telling, and the
    // safe answer keeps it alive (the window only hides); without one there is nothing to keep.
    if (backend.url().isEmpty())
        co_return false;
    co_return std::nullopt;
}

} // namespace velmora::app
