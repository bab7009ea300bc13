#pragma once

#include "platform/Async.h"

#include <QString>

#include <QCoro/QCoroTask>

#include <chrono>

namespace velmora::platform {

/// Tries a TCP connection to host:port every interval until one is accepted, and closes it
/// at once without sending anything. Answers true as soon as something accepts, false when
/// nothing did within period or when token was cancelled. Meant for a loopback server being
/// started: it tells the moment it starts listening without asking it anything.
QCoro::Task<bool> whenAccepting(QString host, quint16 port, std::chrono::milliseconds interval,
                                std::chrono::milliseconds period, CancelToken token = {});

} // namespace velmora::platform
