#include "workspace/PageActivations.h"

namespace velmora::workspace {

namespace {
const QString tokenPlaceholder = QStringLiteral("@VELMORA_ACTIVATION_TOKEN@");

// More than any burst of clicks before their navigations are answered; the engine opens one
// file panel at a time, and a few more reports cover clicks it did not serve.
qsizetype reportsKept(PageActivations::Kind kind)
{
    return kind == PageActivations::Kind::LinkClick ? 8 : 4;
}
} // namespace

PageActivations::PageActivations(Kind kind, QString token, std::chrono::milliseconds lifetime)
    : m_kind(kind)
    , m_token(std::move(token))
    , m_lifetime(lifetime)
{}

QString PageActivations::messagePrefix() const
{
    switch (m_kind) {
    case Kind::LinkClick:
        return QStringLiteral("velmora-link-activation ");
    case Kind::FileInput:
        return QStringLiteral("velmora-file-input ");
    }
    return {};
}

QString PageActivations::scriptSource(const QString &scriptTemplate, const QString &token)
{
    return QString(scriptTemplate).replace(tokenPlaceholder, token);
}

bool PageActivations::takeMessage(const QString &message, Clock::time_point now)
{
    const QString prefix = messagePrefix();
    if (!message.startsWith(prefix))
        return false;
    if (m_token.isEmpty())
        return true;
    const QStringView rest = QStringView(message).mid(prefix.size());
    QUrl address;
    if (m_kind == Kind::FileInput) {
        if (rest != m_token)
            return true;
    } else {
        const qsizetype space = rest.indexOf(QLatin1Char(' '));
        if (space <= 0 || rest.left(space) != m_token)
            return true;
        address = QUrl(rest.mid(space + 1).toString());
        if (address.isEmpty() || !address.isValid())
            return true;
    }
    m_recent.append({address, now});
    if (m_recent.size() > reportsKept(m_kind))
        m_recent.removeFirst();
    return true;
}

bool PageActivations::consume(const QUrl &address, Clock::time_point now)
{
    m_recent.removeIf([&](const Report &report) { return now - report.at > m_lifetime; });
    for (qsizetype i = m_recent.size() - 1; i >= 0; --i) {
        if (m_recent.at(i).address == address) {
            m_recent.removeAt(i);
            return true;
        }
    }
    return false;
}

} // namespace velmora::workspace
