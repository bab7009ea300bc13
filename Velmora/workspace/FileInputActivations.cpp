#include "workspace/FileInputActivations.h"

namespace velmora::workspace {

namespace {
const QString messagePrefix = QStringLiteral("velmora-file-input ");
// The engine opens one file panel at a time; a few more cover clicks it did not serve.
constexpr qsizetype maximumReports = 4;
} // namespace

FileInputActivations::FileInputActivations(QString token, std::chrono::milliseconds lifetime)
    : m_token(std::move(token))
    , m_lifetime(lifetime)
{}

bool FileInputActivations::takeMessage(const QString &message, Clock::time_point now)
{
    if (!message.startsWith(messagePrefix))
        return false;
    if (m_token.isEmpty() || QStringView(message).mid(messagePrefix.size()) != m_token)
        return true;
    m_reports.append(now);
    if (m_reports.size() > maximumReports)
        m_reports.removeFirst();
    return true;
}

bool FileInputActivations::consume(Clock::time_point now)
{
    m_reports.removeIf([&](Clock::time_point at) { return now - at > m_lifetime; });
    if (m_reports.isEmpty())
        return false;
    m_reports.removeFirst();
    return true;
}

} // namespace velmora::workspace
