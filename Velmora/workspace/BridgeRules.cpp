#include "workspace/BridgeRules.h"

#include "workspace/NavigationPolicy.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace velmora::workspace {

bool gateAdmits(const QUrl &origin, const QString &name, bool fromMainFrame, const QUrl &frameUrl)
{
    if (!bridgeMessageNames.contains(name) || !fromMainFrame)
        return false;
    if (frameUrl.isEmpty() || !frameUrl.isValid())
        return false;
    return matchesOrigin(origin, frameUrl);
}

BridgeReply BridgeReply::withValue(const QVariant &value)
{
    BridgeReply reply;
    reply.m_value = value;
    return reply;
}

BridgeReply BridgeReply::noValue()
{
    return BridgeReply();
}

BridgeReply BridgeReply::failure(const QString &error)
{
    BridgeReply reply;
    reply.m_error = error;
    reply.m_failure = true;
    return reply;
}

QVariantMap BridgeReply::toMessage() const
{
    if (m_failure)
        return {{QStringLiteral("error"), m_error}};
    if (!m_value.isValid())
        return {};
    return {{QStringLiteral("value"), m_value}};
}

QJsonValue parseBody(const QString &bodyText)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bodyText.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return QJsonValue(QJsonValue::Undefined);
    const QJsonArray array = document.array();
    if (array.size() != 1)
        return QJsonValue(QJsonValue::Undefined);
    return array.first();
}

QString pathExtension(const QString &path)
{
    QStringView name(path);
    while (name.endsWith(QLatin1Char('/')))
        name.chop(1);
    name = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return {};
    return name.mid(dot + 1).toString().toLower();
}

QString revealTextFilePath(const QJsonValue &body)
{
    if (!body.isObject())
        return {};
    const QJsonValue path = body.toObject().value(QLatin1String("path"));
    if (!path.isString())
        return {};
    QString text = path.toString();
    if (!text.startsWith(QLatin1Char('/')) || !textFileExtensions.contains(pathExtension(text)))
        return {};
    return text;
}

namespace {

QString withoutTrailingSeparators(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

} // namespace

QString textSaveDirectory(const QVariant &stored, const QString &downloadsFolder, const QString &homeFolder)
{
    if (stored.typeId() == QMetaType::QString && !stored.toString().isEmpty())
        return withoutTrailingSeparators(stored.toString());
    if (!downloadsFolder.isEmpty())
        return withoutTrailingSeparators(downloadsFolder);
    return withoutTrailingSeparators(homeFolder) + QStringLiteral("/Downloads");
}

QString presentFolder(const QString &folder, bool folderExists, const QString &homeFolder)
{
    return withoutTrailingSeparators(folderExists && !folder.isEmpty() ? folder : homeFolder);
}

QVariantMap folderReply(const QString &folder)
{
    const QString path = withoutTrailingSeparators(folder);
    const QString name = path == QLatin1String("/") ? path : path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    return {{QStringLiteral("path"), path}, {QStringLiteral("name"), name}};
}

QVariantMap appInfoReply(const QVariant &version, bool canCheckForUpdates)
{
    const QString text = version.typeId() == QMetaType::QString ? version.toString() : QString();
    return {{QStringLiteral("version"), text},
            {QStringLiteral("updatesAvailable"), true},
            {QStringLiteral("canCheckForUpdates"), canCheckForUpdates}};
}

} // namespace velmora::workspace
