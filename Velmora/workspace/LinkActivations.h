#pragma once

// The engine reports a script's `location.href = …` as a clicked link and carries no
// user-gesture flag, so the page gets a small script in an isolated world that watches for
// trusted clicks (real mouse or keyboard input) on anchors and reports each clicked link's
// address as a console message signed with a per-page secret. Page scripts cannot read the
// isolated world or forge a trusted event, so a recorded activation proves that the user
// clicked that very link. This class keeps those recent activations.

#include <QList>
#include <QString>
#include <QUrl>

#include <chrono>

namespace velmora::workspace {

class LinkActivations
{
public:
    using Clock = std::chrono::steady_clock;
    // A click and the navigation it starts arrive together; the bound only keeps a stale click
    // (one whose default the page prevented) from vouching for a much later script jump.
    static constexpr std::chrono::milliseconds defaultLifetime{2000};

    // token: the secret the activation script signs its messages with.
    explicit LinkActivations(QString token, std::chrono::milliseconds lifetime = defaultLifetime);

    const QString &token() const { return m_token; }
    // The activation script's source with the token in place.
    static QString scriptSource(const QString &scriptTemplate, const QString &token);

    // Reads one console message of the page. Answers true when it has the activation
    // script's form, whatever its token, so the caller keeps it out of the console log; a
    // message signed with the right token records its link as activated at now.
    bool takeMessage(const QString &message, Clock::time_point now);

    // True, once, when url was activated within the lifetime before now.
    bool consume(const QUrl &url, Clock::time_point now);

private:
    struct Activation
    {
        QUrl url;
        Clock::time_point at;
    };

    QString m_token;
    std::chrono::milliseconds m_lifetime;
    QList<Activation> m_recent;
};

} // namespace velmora::workspace
