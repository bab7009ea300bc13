#pragma once

#include <QCoro/QCoroTask>

#include <optional>

namespace velmora::backend {
class BackendController;
}

namespace velmora::app {

/// The close guard's question to the backend: true busy, false idle, nullopt undetermined.
QCoro::Task<std::optional<bool>> activeWork(backend::BackendController &backend);

} // namespace velmora::app
