#pragma once

// The workspace's origin-bound navigation rules as pure functions of URL components, a
// navigation kind, one header value and whether the engine can display a MIME type. The web
// page subclass only feeds them.

#include <QString>
#include <QStringList>
#include <QUrl>

namespace velmora::workspace {

// The nine script-message names of the bridge, in registration order; the same list gates
// incoming messages.
inline const QStringList bridgeMessageNames = {
    QStringLiteral("chooseModelFolder"),    QStringLiteral("getSaveLocation"),
    QStringLiteral("chooseSaveLocation"),   QStringLiteral("revealTextFile"),
    QStringLiteral("getAppInfo"),           QStringLiteral("checkForUpdates"),
    QStringLiteral("openVoiceMemos"),       QStringLiteral("requestVoiceMemosAccess"),
    QStringLiteral("openVoiceMemoPrivacy"),
};

// Schemes of clicked links that may leave the view for the default browser.
inline const QStringList externalLinkSchemes = {QStringLiteral("http"), QStringLiteral("https")};

// True when scheme, host and port of u equal those of origin. An absent component equals
// only an absent one; path, query, fragment and user information play no part.
bool matchesOrigin(const QUrl &origin, const QUrl &u);

enum class NavigationActionPolicy { Cancel, Allow, Download };

struct NavigationAction
{
    QUrl url;
    // The user activated a link (a real click or key press on an anchor), as opposed to a
    // script, a form, history or a reload.
    bool linkActivated = false;
    // The action asks to be performed as a download (a link with a download attribute).
    bool shouldPerformDownload = false;
};

struct NavigationDecision
{
    NavigationActionPolicy policy = NavigationActionPolicy::Cancel;
    // Open the URL with the system's default handler before cancelling.
    bool openExternally = false;

    bool operator==(const NavigationDecision &) const = default;
};

// Same origin stays in the view (or downloads when asked to); everything else is cancelled,
// and a clicked http/https link to another origin goes to the default browser.
NavigationDecision decideNavigation(const QUrl &origin, const NavigationAction &action);

enum class NavigationResponsePolicy { Allow, Download };

// contentDisposition is the response's header value, empty when the response is not HTTP or
// has none. Responses are never cancelled.
NavigationResponsePolicy decideResponse(const QString &contentDisposition, bool canShowMimeType);

} // namespace velmora::workspace
