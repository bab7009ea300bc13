#pragma once

#include "platform/UrlOpener.h"

#include <QList>
#include <QUrl>

namespace velmora::test {

// Records what would have been opened in the default browser or application.
class RecordingUrlOpener : public platform::UrlOpener
{
public:
    bool openUrl(const QUrl &url) override
    {
        opened.append(url);
        return answer;
    }
    QList<QUrl> opened;
    // What openUrl answers: false as where no handler could be started.
    bool answer = true;
};

} // namespace velmora::test
