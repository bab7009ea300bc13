#include "workspace/NavigationPolicy.h"

namespace velmora::workspace {

bool matchesOrigin(const QUrl &origin, const QUrl &u)
{
    // QUrl reports an absent port as -1 and keeps an explicit default port, so a URL without
    // a port never matches a page URL with one.
    return u.scheme() == origin.scheme() && u.host() == origin.host() && u.port() == origin.port();
}

NavigationDecision decideNavigation(const QUrl &origin, const NavigationAction &action)
{
    if (action.url.isEmpty())
        return {NavigationActionPolicy::Cancel, false};
    if (matchesOrigin(origin, action.url))
        return {action.shouldPerformDownload ? NavigationActionPolicy::Download : NavigationActionPolicy::Allow, false};
    const bool external = action.linkActivated && externalLinkSchemes.contains(action.url.scheme());
    return {NavigationActionPolicy::Cancel, external};
}

NavigationResponsePolicy decideResponse(const QString &contentDisposition, bool canShowMimeType)
{
    if (contentDisposition.toLower().contains(QLatin1String("attachment")))
        return NavigationResponsePolicy::Download;
    return canShowMimeType ? NavigationResponsePolicy::Allow : NavigationResponsePolicy::Download;
}

} // namespace velmora::workspace
