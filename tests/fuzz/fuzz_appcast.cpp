// The update feed comes from a web server; the running version from the build.
//
// Input: the running version, a line feed, then the feed document.

#include "FuzzSupport.h"

#include "updates/Appcast.h"
#include "updates/Version.h"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = fuzz::bytesOf(data, size);
    const qsizetype lineEnd = input.indexOf('\n');
    const QString running = QString::fromUtf8(input.left(lineEnd < 0 ? 0 : lineEnd));
    const QByteArray document = lineEnd < 0 ? input : input.mid(lineEnd + 1);

    const updates::AppcastParseResult feed = updates::parseAppcast(document);
    fuzz::check(feed.ok() || feed.items.isEmpty(), "a feed that could not be read offers no entries");
    for (const updates::AppcastItem &item : feed.items) {
        fuzz::check(!item.versionString.isEmpty(), "every entry has a version");
        fuzz::check(!item.displayVersionString.isEmpty(), "every entry has a display version");
        fuzz::check(item.downloadURL.isValid() && item.downloadURL.scheme() == QLatin1String("https")
                        && !item.downloadURL.host().isEmpty(),
                    "every download address is https with a host");
        fuzz::check(item.contentLength >= 0, "a content length is never negative");
    }

    const std::optional<updates::AppcastItem> chosen = updates::selectUpdate(feed.items, running);
    if (!chosen)
        return 0;
    fuzz::check(updates::compareVersions(chosen->versionString, running) > 0,
                "the chosen update is newer than the running version");
    for (const updates::AppcastItem &item : feed.items)
        fuzz::check(updates::compareVersions(item.versionString, chosen->versionString) <= 0,
                    "no entry is newer than the chosen update");
    return 0;
}
