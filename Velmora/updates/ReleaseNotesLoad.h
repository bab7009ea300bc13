#pragma once

// Loading one release-notes document and reading it as plain text: the update window's notes
// and the engine's window load the same way.

#include "platform/Async.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <chrono>
#include <optional>

namespace velmora::platform {
class HttpClient;
}

namespace velmora::updates {

inline constexpr std::chrono::milliseconds releaseNotesRequestTimeout{15000};
inline constexpr qint64 releaseNotesMaxBodyBytes = 262144;

// The notes at address as plain text (ReleaseNotesText::decode). nullopt when the load
// failed: no answer, a status other than 200, more than releaseNotesMaxBodyBytes, text that is
// not UTF-8, or nothing left after decoding. Redirects are followed to the allowed hosts only,
// over https. The caller checks the address itself before, and its token after: a cancelled
// load also ends with nullopt.
QCoro::Task<std::optional<QString>> fetchReleaseNotes(platform::HttpClient &http, QUrl address, QStringList hosts,
                                                      platform::CancelToken token);

} // namespace velmora::updates
