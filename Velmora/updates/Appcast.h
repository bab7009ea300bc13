#pragma once

// Reading the update feed: an RSS 2.0 document with the update namespace
// (xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle").
//
//   <rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
//     <channel>
//       <item>
//         <title>Velmora 1.2</title>
//         <sparkle:version>120</sparkle:version>
//         <sparkle:shortVersionString>1.2</sparkle:shortVersionString>
//         <sparkle:releaseNotesLink>https://velmora.app/notes/1.2.md</sparkle:releaseNotesLink>
//         <enclosure url="https://updates.velmora.app/Velmora-1.2.tar.gz" length="123"
//                    type="application/gzip" sparkle:os="linux" sparkle:edSignature="…"/>
//       </item>
//     </channel>
//   </rss>
//
// The version and the display version may also stand as attributes of the enclosure; an
// attribute wins over the element. An item may carry one enclosure per platform; the first
// whose sparkle:os names the wanted platform is taken. sparkle:edSignature (UpdateSignature.h)
// and length are what the installer checks the downloaded archive against. An enclosure without sparkle:os is the
// macOS download (the feed format's default platform). As the update framework reads a feed:
// - an enclosure with sparkle:deltaFrom, and those inside sparkle:deltas, are patches from one
//   older version, never a full update;
// - of an element given more than once, the first in Korean (xml:lang "ko", "ko-KR") counts,
//   else the first without xml:lang, else the first;
// - an item of a named channel (sparkle:channel, e.g. beta) is offered only when that channel
//   is allowed; an empty channel name, or one that is not a valid name, is the default channel;
// - the items of every <channel> element of the document are read.
//
// Velmora's own attribute, in a namespace of its own: velmora:arch on a Linux enclosure names
// the processor architecture of its archive as `uname -m` does ("x86_64", "aarch64"):
//
//   <enclosure xmlns:velmora="https://velmora.app/xml-namespaces/update" velmora:arch="x86_64"
//              url="…" length="…" type="application/gzip" sparkle:os="linux" sparkle:edSignature="…"/>
//
// When the reader is given an architecture, only enclosures naming that one are taken; an
// enclosure without the attribute is taken by no build (see UpdateEngine).

#include "updates/Updater.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace velmora::updates {

inline constexpr const char *appcastNamespace = "http://www.andymatuschak.org/xml-namespaces/sparkle";
// The platform name this build looks for in sparkle:os.
inline constexpr const char *appcastLinuxOs = "linux";
// The namespace of velmora:arch.
inline constexpr const char *velmoraFeedNamespace = "https://velmora.app/xml-namespaces/update";

// The processor architecture this build runs on, as `uname -m` names it; empty when unknown.
QString buildArchitecture();

// One feed entry for the wanted platform.
struct AppcastItem
{
    QString title;
    QString versionString;                               // sparkle:version, compared with compareVersions()
    QString displayVersionString;                        // sparkle:shortVersionString, or the version when absent
    std::optional<platform::LiteralUrl> releaseNotesURL; // as the feed wrote it
    QUrl downloadURL;                                    // the enclosure's url
    qint64 contentLength = 0;                            // the enclosure's length, 0 when absent or unreadable
    QString contentType;                                 // the enclosure's type
    QString edSignature;                                 // sparkle:edSignature of the enclosure, as written
    QString architecture;                                // velmora:arch of the enclosure, empty when absent

    UpdateItem updateItem() const
    {
        return UpdateItem{versionString, displayVersionString, releaseNotesURL, downloadURL, contentLength, edSignature};
    }
};

struct AppcastParseResult
{
    // Entries for the wanted platform, in feed order. Entries without a version, without a
    // full download or with a download address other than https are left out, and so are
    // entries of a channel not allowed.
    QList<AppcastItem> items;
    // Empty when the document was read; otherwise why it could not be (not well-formed XML,
    // not an RSS document, no channel).
    QString error;

    bool ok() const { return error.isEmpty(); }
};

// A channel name the feed reader honours: ASCII letters, digits, '.', '-' and '_', at least one.
bool isValidChannelName(const QString &name);

// Reads a feed and keeps the entries whose enclosure is for the platform os (and, when
// architecture is not empty, names that architecture) and whose channel is the default one or
// one of allowedChannels (compared letter for letter).
AppcastParseResult parseAppcast(const QByteArray &document, const QString &os = QLatin1String(appcastLinuxOs),
                                const QStringList &allowedChannels = {}, const QString &architecture = {});

// The newest of items by compareVersions() (the first of equal ones), when it is newer than
// runningVersion; nullopt when none is.
std::optional<AppcastItem> selectUpdate(const QList<AppcastItem> &items, const QString &runningVersion);

} // namespace velmora::updates
