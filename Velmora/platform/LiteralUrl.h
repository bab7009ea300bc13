#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

namespace velmora::platform {

// A web address kept as it was written. QUrl lower-cases the scheme and the host, so a check
// that must tell "HTTPS" from "https" or "Notes.example" from "notes.example" reads them here,
// from the text itself.
class LiteralUrl
{
public:
    LiteralUrl() = default;
    explicit LiteralUrl(QString text) : m_text(std::move(text)) {}

    const QString &text() const { return m_text; }
    // The address as QUrl reads it (strict mode); invalid when the text is no address.
    QUrl url() const { return QUrl(m_text, QUrl::StrictMode); }
    // The scheme as written, without its colon; empty when the text starts with none.
    QString scheme() const;
    // The host as written (no user, port or IPv6 brackets); empty without an authority.
    QString host() const;
    // True when the scheme is exactly "https", the host exactly one of hosts, letter case
    // included, and QUrl reads that same scheme and host out of the text, so the address
    // requested is the one that was checked.
    bool isHttpsOn(const QStringList &hosts) const;

    bool operator==(const LiteralUrl &other) const = default;

private:
    QString m_text;
};

} // namespace velmora::platform
