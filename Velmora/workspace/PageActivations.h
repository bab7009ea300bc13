#pragma once

// The engine cannot tell what the user did from what the page's scripts did, so the page gets
// small scripts in an isolated world that report the user's own actions as console messages
// signed with a per-page secret. Page scripts cannot read the isolated world or forge a
// trusted event, so a signed report proves the action. This class keeps recent reports of one
// kind until a decision takes one:
//
// - Link clicks: the engine reports a script's `location.href = …` as a clicked link and
//   carries no user-gesture flag. The script watches for trusted clicks (real mouse or
//   keyboard input) on anchors and reports each clicked link's address
//   ("velmora-link-activation TOKEN ADDRESS"); a navigation is user-initiated only when its
//   own address was reported.
// - File inputs: the engine asks for files without saying which frame's input it is, and file
//   inputs are served for the main frame only. In an embedded frame the script cancels the
//   click that would open a file panel; in the main frame it reports each file input that a
//   click opened ("velmora-file-input TOKEN"). The report may reach the application just
//   after the engine's request for files, never long after it: whoever serves the request
//   waits for it, up to a bound.

#include <QList>
#include <QString>
#include <QUrl>

#include <chrono>

namespace velmora::workspace {

class PageActivations
{
public:
    using Clock = std::chrono::steady_clock;
    // An action and the request it starts arrive within milliseconds of each other; the bound
    // only keeps a stale report (a click whose default the page prevented, an input whose
    // panel the engine did not open) from vouching for a much later request.
    static constexpr std::chrono::milliseconds defaultLifetime{2000};

    enum class Kind {
        LinkClick, // each report names the clicked link's address
        FileInput, // a report names nothing
    };

    // token: the secret the script signs its reports with; an empty one vouches for nothing.
    PageActivations(Kind kind, QString token, std::chrono::milliseconds lifetime = defaultLifetime);

    Kind kind() const { return m_kind; }
    const QString &token() const { return m_token; }
    // The messages of this kind start with this prefix.
    QString messagePrefix() const;
    // A script's source with the token in place.
    static QString scriptSource(const QString &scriptTemplate, const QString &token);

    // Reads one console message of the page. Answers true when it has this kind's form,
    // whatever its token, so the caller keeps it out of the console log; a report signed with
    // the right token is recorded as made at now.
    bool takeMessage(const QString &message, Clock::time_point now);

    // True, once per report, when a report of address was made within the lifetime before
    // now; the newest such report is the one used. File inputs name no address: ask with an
    // empty one.
    bool consume(const QUrl &address, Clock::time_point now);
    bool consume(Clock::time_point now) { return consume(QUrl(), now); }

private:
    struct Report
    {
        QUrl address;
        Clock::time_point at;
    };

    Kind m_kind;
    QString m_token;
    std::chrono::milliseconds m_lifetime;
    QList<Report> m_recent;
};

} // namespace velmora::workspace
