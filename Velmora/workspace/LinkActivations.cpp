#include "workspace/LinkActivations.h"

namespace velmora::workspace {

namespace {
const QString messagePrefix = QStringLiteral("velmora-link-activation ");
const QString tokenPlaceholder = QStringLiteral("@VELMORA_ACTIVATION_TOKEN@");
// More than any burst of clicks before their navigations are answered.
constexpr qsizetype maximumRecent = 8;
} // namespace

LinkActivations::LinkActivations(QString token, std::chrono::milliseconds lifetime)
    : m_token(std::move(token))
    , m_lifetime(lifetime)
{}

QString LinkActivations::scriptSource(const QString &scriptTemplate, const QString &token)
{
    return QString(scriptTemplate).replace(tokenPlaceholder, token);
}

bool LinkActivations::takeMessage(const QString &message, Clock::time_point now)
{
    if (!message.startsWith(messagePrefix))
        return false;
    const QStringView rest = QStringView(message).mid(messagePrefix.size());
    const qsizetype space = rest.indexOf(QLatin1Char(' '));
    if (space <= 0 || m_token.isEmpty() || rest.left(space) != m_token)
        return true;
    const QUrl url(rest.mid(space + 1).toString());
    if (url.isEmpty() || !url.isValid())
        return true;
    m_recent.append({url, now});
    if (m_recent.size() > maximumRecent)
        m_recent.removeFirst();
    return true;
}

bool LinkActivations::consume(const QUrl &url, Clock::time_point now)
{
    m_recent.removeIf([&](const Activation &a) { return now - a.at > m_lifetime; });
    for (qsizetype i = m_recent.size() - 1; i >= 0; --i) {
        if (m_recent.at(i).url == url) {
            m_recent.removeAt(i);
            return true;
        }
    }
    return false;
}

} // namespace velmora::workspace
