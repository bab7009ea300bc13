#include "platform/UrlOpener.h"

#include <QDesktopServices>

namespace velmora::platform {

bool UrlOpener::openUrl(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

UrlOpener &UrlOpener::system()
{
    static UrlOpener opener;
    return opener;
}

} // namespace velmora::platform
