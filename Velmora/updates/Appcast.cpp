#include "updates/Appcast.h"

#include "updates/Version.h"

#include <QXmlStreamReader>

namespace velmora::updates {
namespace {

inline constexpr const char *xmlNamespace = "http://www.w3.org/XML/1998/namespace";

struct Enclosure
{
    QString url;
    QString length;
    QString type;
    QString os;
    QString version;
    QString shortVersion;
    QString edSignature;
    QString architecture;
    bool delta = false; // sparkle:deltaFrom: a patch from one older version, not a full update
};

// One occurrence of an item's element, with the language xml:lang gives it.
struct Localized
{
    QString text;
    QString language;
};

struct RawItem
{
    QList<Localized> title;
    QList<Localized> version;
    QList<Localized> shortVersion;
    QList<Localized> releaseNotesLink;
    QList<Localized> channel;
    QList<Enclosure> enclosures;
};

bool isUpdateElement(const QXmlStreamReader &reader, QLatin1String name)
{
    return reader.namespaceUri() == QLatin1String(appcastNamespace) && reader.name() == name;
}

bool isPlainElement(const QXmlStreamReader &reader, QLatin1String name)
{
    return reader.namespaceUri().isEmpty() && reader.name() == name;
}

bool isKorean(QStringView language)
{
    // "ko", "ko-KR", "ko_KR": the primary language subtag decides.
    qsizetype end = 0;
    while (end < language.size() && language[end] != u'-' && language[end] != u'_')
        ++end;
    return language.left(end).compare(u"ko", Qt::CaseInsensitive) == 0;
}

// Of the occurrences of a repeated element, the one the update framework takes for a Korean
// user: the first in Korean, else the first without a language, else the first.
QString chosen(const QList<Localized> &occurrences)
{
    for (const Localized &occurrence : occurrences) {
        if (isKorean(occurrence.language))
            return occurrence.text;
    }
    for (const Localized &occurrence : occurrences) {
        if (occurrence.language.isEmpty())
            return occurrence.text;
    }
    return occurrences.isEmpty() ? QString() : occurrences.first().text;
}

void appendElementText(QXmlStreamReader &reader, QList<Localized> &occurrences)
{
    const QString language
        = reader.attributes().value(QLatin1String(xmlNamespace), QLatin1String("lang")).toString().trimmed();
    occurrences.append(Localized{reader.readElementText(QXmlStreamReader::SkipChildElements).trimmed(), language});
}

Enclosure readEnclosure(QXmlStreamReader &reader)
{
    const QXmlStreamAttributes attributes = reader.attributes();
    const QString ns = QLatin1String(appcastNamespace);
    Enclosure enclosure{
        attributes.value(QLatin1String("url")).toString().trimmed(),
        attributes.value(QLatin1String("length")).toString().trimmed(),
        attributes.value(QLatin1String("type")).toString().trimmed(),
        attributes.value(ns, QLatin1String("os")).toString().trimmed(),
        attributes.value(ns, QLatin1String("version")).toString().trimmed(),
        attributes.value(ns, QLatin1String("shortVersionString")).toString().trimmed(),
        attributes.value(ns, QLatin1String("edSignature")).toString().trimmed(),
        attributes.value(QLatin1String(velmoraFeedNamespace), QLatin1String("arch")).toString().trimmed(),
        attributes.hasAttribute(ns, QLatin1String("deltaFrom")),
    };
    reader.skipCurrentElement();
    return enclosure;
}

RawItem readItem(QXmlStreamReader &reader)
{
    RawItem item;
    while (reader.readNextStartElement()) {
        if (isPlainElement(reader, QLatin1String("title")))
            appendElementText(reader, item.title);
        else if (isPlainElement(reader, QLatin1String("enclosure")))
            item.enclosures.append(readEnclosure(reader));
        else if (isUpdateElement(reader, QLatin1String("version")))
            appendElementText(reader, item.version);
        else if (isUpdateElement(reader, QLatin1String("shortVersionString")))
            appendElementText(reader, item.shortVersion);
        else if (isUpdateElement(reader, QLatin1String("releaseNotesLink")))
            appendElementText(reader, item.releaseNotesLink);
        else if (isUpdateElement(reader, QLatin1String("channel")))
            appendElementText(reader, item.channel);
        else // sparkle:deltas among them: its enclosures are patches, never a full update
            reader.skipCurrentElement();
    }
    return item;
}

// The entry as this platform sees it, or nullopt when it offers nothing usable here.
std::optional<AppcastItem> applicableItem(const RawItem &raw, const QString &os, const QStringList &allowedChannels,
                                          const QString &architecture)
{
    // An empty or invalid channel name is the default channel, as the update framework reads it.
    const QString channel = chosen(raw.channel);
    if (isValidChannelName(channel) && !allowedChannels.contains(channel))
        return std::nullopt;
    const auto enclosure = std::find_if(raw.enclosures.cbegin(), raw.enclosures.cend(), [&](const Enclosure &e) {
        return !e.delta && e.os.compare(os, Qt::CaseInsensitive) == 0
               && (architecture.isEmpty() || e.architecture == architecture);
    });
    if (enclosure == raw.enclosures.cend())
        return std::nullopt;

    AppcastItem item;
    item.title = chosen(raw.title);
    const QString version = chosen(raw.version);
    item.versionString = !enclosure->version.isEmpty() ? enclosure->version : version;
    if (item.versionString.isEmpty())
        return std::nullopt;
    const QString shortVersion = chosen(raw.shortVersion);
    item.displayVersionString = !enclosure->shortVersion.isEmpty() ? enclosure->shortVersion
                                : !shortVersion.isEmpty()          ? shortVersion
                                                                   : item.versionString;

    item.downloadURL = QUrl(enclosure->url, QUrl::StrictMode);
    if (!item.downloadURL.isValid() || item.downloadURL.scheme() != QLatin1String("https")
        || item.downloadURL.host().isEmpty())
        return std::nullopt;

    bool lengthOk = false;
    const qint64 length = enclosure->length.toLongLong(&lengthOk);
    item.contentLength = lengthOk && length > 0 ? length : 0;
    item.contentType = enclosure->type;
    item.edSignature = enclosure->edSignature;
    item.architecture = enclosure->architecture;

    // Kept as written: QUrl would lower-case the scheme and host the load checks.
    const platform::LiteralUrl releaseNotesLink(chosen(raw.releaseNotesLink));
    if (!releaseNotesLink.text().isEmpty() && releaseNotesLink.url().isValid())
        item.releaseNotesURL = releaseNotesLink;
    return item;
}

} // namespace

bool isValidChannelName(const QString &name)
{
    if (name.isEmpty())
        return false;
    for (const QChar c : name) {
        const bool allowed = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'.'
                             || c == u'-' || c == u'_';
        if (!allowed)
            return false;
    }
    return true;
}

QString buildArchitecture()
{
#if defined(__x86_64__)
    return QStringLiteral("x86_64");
#elif defined(__aarch64__)
    return QStringLiteral("aarch64");
#elif defined(__i386__)
    return QStringLiteral("i686");
#elif defined(__arm__)
    return QStringLiteral("armv7l");
#elif defined(__riscv) && __riscv_xlen == 64
    return QStringLiteral("riscv64");
#elif defined(__powerpc64__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    return QStringLiteral("ppc64le");
#elif defined(__s390x__)
    return QStringLiteral("s390x");
#else
    return {};
#endif
}

AppcastParseResult parseAppcast(const QByteArray &document, const QString &os, const QStringList &allowedChannels,
                                const QString &architecture)
{
    AppcastParseResult result;
    QXmlStreamReader reader(document);

    if (!reader.readNextStartElement()) {
        result.error = reader.hasError() ? reader.errorString() : QStringLiteral("The document is empty.");
        return result;
    }
    if (!isPlainElement(reader, QLatin1String("rss"))) {
        result.error = QStringLiteral("The document is not an RSS feed (root element <%1>).").arg(reader.name());
        return result;
    }

    // Every channel element counts: the items of a second one are offered like the first's.
    bool sawChannel = false;
    while (reader.readNextStartElement()) {
        if (!isPlainElement(reader, QLatin1String("channel"))) {
            reader.skipCurrentElement();
            continue;
        }
        sawChannel = true;
        while (reader.readNextStartElement()) {
            if (!isPlainElement(reader, QLatin1String("item"))) {
                reader.skipCurrentElement();
                continue;
            }
            if (auto item = applicableItem(readItem(reader), os, allowedChannels, architecture))
                result.items.append(std::move(*item));
        }
    }
    // Read to the end so that a cut-off document is an error rather than a shorter feed.
    while (!reader.atEnd())
        reader.readNext();

    if (reader.hasError()) {
        result.items.clear();
        result.error = QStringLiteral("%1 (line %2, column %3)")
                           .arg(reader.errorString())
                           .arg(reader.lineNumber())
                           .arg(reader.columnNumber());
    } else if (!sawChannel) {
        result.error = QStringLiteral("The feed has no channel.");
    }
    return result;
}

std::optional<AppcastItem> selectUpdate(const QList<AppcastItem> &items, const QString &runningVersion)
{
    const AppcastItem *best = nullptr;
    for (const AppcastItem &item : items) {
        if (!best || compareVersions(item.versionString, best->versionString) > 0)
            best = &item;
    }
    if (!best || compareVersions(best->versionString, runningVersion) <= 0)
        return std::nullopt;
    return *best;
}

} // namespace velmora::updates
