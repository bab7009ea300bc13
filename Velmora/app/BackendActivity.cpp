#include "app/BackendActivity.h"

#include "backend/BackendController.h"

namespace velmora::app {

QCoro::Task<std::optional<bool>> activeWork(backend::BackendController &backend)
{
    co_return co_await backend.hasActiveWork();
}

} // namespace velmora::app
