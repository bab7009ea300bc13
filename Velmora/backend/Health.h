#pragma once

// The backend's identity probe: who, if anyone, answers on the backend port.

#include "platform/Async.h"
#include "platform/HttpClient.h"

#include <QUrl>

#include <QCoro/QCoroTask>

#include <chrono>

namespace velmora::backend {

enum class Health {
    Ours,          // a healthy Velmora backend started by this very process
    OtherInstance, // a healthy Velmora backend started by another Velmora process
    Foreign,       // something answers, but not as a healthy Velmora backend
    Unreachable,   // nothing usable answers: no response, or a body that is not JSON
};

// An address of the backend: the base URL with relativePath appended to its path.
QUrl backendEndpoint(const QUrl &baseUrl, const QString &relativePath);

// The probe address: the base URL with "healthz" appended to its path.
QUrl healthUrl(const QUrl &baseUrl);

// Judges one answer of the probe. ownProcessId is compared with "desktop_parent_pid", which
// must be a JSON string; a number is not accepted.
Health classifyHealth(const platform::HttpResponse &response, qint64 ownProcessId);

// One GET of healthUrl(baseUrl), never from a cache. A cancelled token makes it unreachable.
QCoro::Task<Health> probeHealth(platform::HttpClient &http, QUrl baseUrl, qint64 ownProcessId,
                                std::chrono::milliseconds timeout, platform::CancelToken token = {});

} // namespace velmora::backend
