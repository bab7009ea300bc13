#include "platform/UrlOpener.h"

#include "platform/DetachedStart.h"

#include <QDesktopServices>
#include <QStandardPaths>

namespace velmora::platform {

bool UrlOpener::openUrl(const QUrl &url)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // xdg-open is what Qt itself runs on these desktops; started here so that the browser or
    // file manager it opens does not write into Velmora's terminal.
    const QString xdgOpen = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (!xdgOpen.isEmpty())
        return startDetachedQuietly(xdgOpen, {url.isLocalFile() ? url.toLocalFile() : url.toString(QUrl::FullyEncoded)});
#endif
    return QDesktopServices::openUrl(url);
}

UrlOpener &UrlOpener::system()
{
    static UrlOpener opener;
    return opener;
}

} // namespace velmora::platform
