#pragma once

// The two questions the application asks its running backend before it takes the backend
// away: is it working (the window's close guard), and may the application relaunch now (an
// installed update). Both read the backend's small status endpoint; the second also asks the
// page, which may wind down first.

#include "backend/WorkspacePage.h"
#include "platform/HttpClient.h"

#include <QString>
#include <QUrl>

#include <optional>

namespace velmora::backend {

// The status endpoint, relative to the backend's base URL.
inline const QString updateStatusPath = QStringLiteral("api/update-status");

// Run in the page, as the body of an asynchronous function, before a relaunch: the page's own
// preparation, when it has one, decides.
inline const QString pagePreparationScript = QStringLiteral(
    "return typeof window.prepareForAppUpdate === 'function' && await window.prepareForAppUpdate();");

// A status answer is a few bytes; a longer one is not read as one.
inline constexpr qint64 updateStatusMaxBytes = 64 * 1024;

// The status endpoint of the backend at baseUrl.
QUrl updateStatusUrl(const QUrl &baseUrl);

// What one status answer says: the value of "busy" when the answer is HTTP 200 with a JSON
// object whose "busy" is a JSON boolean; nullopt (undetermined) for anything else.
std::optional<bool> classifyUpdateStatus(const platform::HttpResponse &response);

// The page agrees to the relaunch only with the boolean true; a failed run, no function,
// false and any value that is not a boolean (the string "true" among them) do not.
bool pageAgreesToRelaunch(const PageScriptResult &result);

} // namespace velmora::backend
