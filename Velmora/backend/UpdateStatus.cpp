#include "backend/UpdateStatus.h"

#include "backend/Health.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace velmora::backend {

QUrl updateStatusUrl(const QUrl &baseUrl)
{
    return backendEndpoint(baseUrl, updateStatusPath);
}

std::optional<bool> classifyUpdateStatus(const platform::HttpResponse &response)
{
    if (!response.received || response.status != 200 || response.bodyTooLarge)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(response.body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonValue busy = document.object().value(QLatin1String("busy"));
    if (!busy.isBool())
        return std::nullopt;
    return busy.toBool();
}

bool pageAgreesToRelaunch(const PageScriptResult &result)
{
    return result.ok && result.value.typeId() == QMetaType::Bool && result.value.toBool();
}

} // namespace velmora::backend
