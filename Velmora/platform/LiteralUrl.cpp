#include "platform/LiteralUrl.h"

namespace velmora::platform {
namespace {

bool isAsciiLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

} // namespace

QString LiteralUrl::scheme() const
{
    const qsizetype colon = m_text.indexOf(u':');
    if (colon <= 0 || !isAsciiLetter(m_text.at(0)))
        return {};
    for (qsizetype i = 1; i < colon; ++i) {
        const QChar c = m_text.at(i);
        if (!isAsciiLetter(c) && !c.isDigit() && c != u'+' && c != u'-' && c != u'.')
            return {};
    }
    return m_text.left(colon);
}

QString LiteralUrl::host() const
{
    const QString written = scheme();
    if (written.isEmpty())
        return {};
    QStringView rest = QStringView(m_text).mid(written.size() + 1);
    if (!rest.startsWith(u"//"))
        return {};
    rest = rest.mid(2);
    qsizetype end = 0;
    while (end < rest.size() && rest[end] != u'/' && rest[end] != u'?' && rest[end] != u'#')
        ++end;
    QStringView authority = rest.left(end);
    if (const qsizetype at = authority.lastIndexOf(u'@'); at >= 0)
        authority = authority.mid(at + 1);
    if (authority.startsWith(u'[')) {
        const qsizetype close = authority.indexOf(u']');
        return close < 0 ? QString() : authority.mid(1, close - 1).toString();
    }
    if (const qsizetype colon = authority.lastIndexOf(u':'); colon >= 0)
        authority = authority.left(colon);
    return authority.toString();
}

bool LiteralUrl::isHttpsOn(const QStringList &hosts) const
{
    const QString writtenHost = host();
    if (scheme() != QLatin1String("https") || writtenHost.isEmpty() || !hosts.contains(writtenHost, Qt::CaseSensitive))
        return false;
    const QUrl parsed = url();
    return parsed.isValid() && parsed.scheme() == QLatin1String("https") && parsed.host() == writtenHost;
}

} // namespace velmora::platform
