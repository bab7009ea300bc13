#include "backend/Health.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace velmora::backend {

QUrl backendEndpoint(const QUrl &baseUrl, const QString &relativePath)
{
    QUrl url = baseUrl;
    QString path = url.path();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    url.setPath(path + relativePath);
    return url;
}

QUrl healthUrl(const QUrl &baseUrl)
{
    return backendEndpoint(baseUrl, QStringLiteral("healthz"));
}

Health classifyHealth(const platform::HttpResponse &response, qint64 ownProcessId)
{
    if (!response.received)
        return Health::Unreachable;
    if (response.status != 200)
        return Health::Foreign;

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(response.body, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return Health::Unreachable;
    if (!document.isObject())
        return Health::Foreign;

    const QJsonObject object = document.object();
    const QJsonValue app = object.value(QLatin1String("app"));
    if (!app.isString() || app.toString() != QLatin1String("Velmora"))
        return Health::Foreign;
    const QJsonValue ok = object.value(QLatin1String("ok"));
    if (!ok.isBool() || !ok.toBool())
        return Health::Foreign;
    const QJsonValue parent = object.value(QLatin1String("desktop_parent_pid"));
    if (!parent.isString())
        return Health::Foreign;
    return parent.toString() == QString::number(ownProcessId) ? Health::Ours : Health::OtherInstance;
}

QCoro::Task<Health> probeHealth(platform::HttpClient &http, QUrl baseUrl, qint64 ownProcessId,
                                std::chrono::milliseconds timeout, platform::CancelToken token)
{
    // The backend answers on the loopback interface itself: a redirect is no answer of its own.
    // (Arguments named first: g++ 12 destroys some temporaries of a co_await expression twice.)
    const QUrl url = healthUrl(baseUrl);
    const platform::RedirectPolicy noRedirects = platform::RedirectPolicy::none();
    const platform::HttpResponse response = co_await http.get(url, noRedirects, timeout, token);
    co_return classifyHealth(response, ownProcessId);
}

} // namespace velmora::backend
