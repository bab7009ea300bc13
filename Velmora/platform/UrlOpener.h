#pragma once

#include <QUrl>

namespace velmora::platform {

// The workspace's "open with the default handler" service: the default browser for web
// addresses, the default application for files.
class UrlOpener
{
public:
    virtual ~UrlOpener() = default;
    // True when something could be opened.
    virtual bool openUrl(const QUrl &url);

    static UrlOpener &system();
};

} // namespace velmora::platform
