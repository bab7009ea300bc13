#include "updates/Appcast.h"

#include "updates/Version.h"

#include <QXmlStreamReader>

namespace velmora::updates {
namespace {

struct Enclosure
{
    QString url;
    QString length;
    QString type;
    QString os;
    QString version;
    QString shortVersion;
};

struct RawItem
{
    QString title;
    QString version;
    QString shortVersion;
    QString releaseNotesLink;
    QString channel;
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

QString elementText(QXmlStreamReader &reader)
{
    return reader.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
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
    };
    reader.skipCurrentElement();
    return enclosure;
}

RawItem readItem(QXmlStreamReader &reader)
{
    RawItem item;
    while (reader.readNextStartElement()) {
        if (isPlainElement(reader, QLatin1String("title")))
            item.title = elementText(reader);
        else if (isPlainElement(reader, QLatin1String("enclosure")))
            item.enclosures.append(readEnclosure(reader));
        else if (isUpdateElement(reader, QLatin1String("version")))
            item.version = elementText(reader);
        else if (isUpdateElement(reader, QLatin1String("shortVersionString")))
            item.shortVersion = elementText(reader);
        else if (isUpdateElement(reader, QLatin1String("releaseNotesLink")))
            item.releaseNotesLink = elementText(reader);
        else if (isUpdateElement(reader, QLatin1String("channel")))
            item.channel = elementText(reader);
        else
            reader.skipCurrentElement();
    }
    return item;
}

// The entry as this platform sees it, or nullopt when it offers nothing usable here.
std::optional<AppcastItem> applicableItem(const RawItem &raw, const QString &os)
{
    if (!raw.channel.isEmpty())
        return std::nullopt;
    const auto enclosure = std::find_if(raw.enclosures.cbegin(), raw.enclosures.cend(), [&](const Enclosure &e) {
        return e.os.compare(os, Qt::CaseInsensitive) == 0;
    });
    if (enclosure == raw.enclosures.cend())
        return std::nullopt;

    AppcastItem item;
    item.title = raw.title;
    item.versionString = !enclosure->version.isEmpty() ? enclosure->version : raw.version;
    if (item.versionString.isEmpty())
        return std::nullopt;
    item.displayVersionString = !enclosure->shortVersion.isEmpty() ? enclosure->shortVersion
                              : !raw.shortVersion.isEmpty()       ? raw.shortVersion
                                                                  : item.versionString;

    item.downloadURL = QUrl(enclosure->url, QUrl::StrictMode);
    if (!item.downloadURL.isValid() || item.downloadURL.scheme() != QLatin1String("https")
        || item.downloadURL.host().isEmpty())
        return std::nullopt;

    bool lengthOk = false;
    const qint64 length = enclosure->length.toLongLong(&lengthOk);
    item.contentLength = lengthOk && length > 0 ? length : 0;
    item.contentType = enclosure->type;

    if (!raw.releaseNotesLink.isEmpty()) {
        const QUrl notes(raw.releaseNotesLink, QUrl::StrictMode);
        if (notes.isValid())
            item.releaseNotesURL = notes;
    }
    return item;
}

} // namespace

AppcastParseResult parseAppcast(const QByteArray &document, const QString &os)
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

    bool sawChannel = false;
    while (reader.readNextStartElement()) {
        if (sawChannel || !isPlainElement(reader, QLatin1String("channel"))) {
            reader.skipCurrentElement();
            continue;
        }
        sawChannel = true;
        while (reader.readNextStartElement()) {
            if (!isPlainElement(reader, QLatin1String("item"))) {
                reader.skipCurrentElement();
                continue;
            }
            if (auto item = applicableItem(readItem(reader), os))
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
