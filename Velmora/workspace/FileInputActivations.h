#pragma once

// The engine asks for files for a file input without saying which frame's input it is. File
// inputs are served for the page's main frame only, so the page gets a small script in an
// isolated world of every frame: in an embedded frame it cancels the click that would open a
// file panel, and in the main frame it reports each file input that a click opened, as a
// console message signed with the page's secret (the one the link activations use). Page
// scripts cannot read the isolated world, so a signed report proves that the main frame's own
// input asked. This class keeps those reports until a request for files takes one.
//
// The report may reach the application just after the engine's request for files, never long
// after it: whoever serves the request waits for it, up to a bound.

#include <QList>
#include <QString>

#include <chrono>

namespace velmora::workspace {

class FileInputActivations
{
public:
    using Clock = std::chrono::steady_clock;
    // A report and the request it belongs to arrive within milliseconds of each other; the
    // bound keeps an unused report (an input whose panel the engine did not open) from
    // vouching for a much later request.
    static constexpr std::chrono::milliseconds defaultLifetime{2000};

    // token: the secret the script signs its reports with.
    explicit FileInputActivations(QString token, std::chrono::milliseconds lifetime = defaultLifetime);

    // Reads one console message of the page. Answers true when it has the script's form,
    // whatever its token, so the caller keeps it out of the console log; a report signed with
    // the right token is recorded as made at now.
    bool takeMessage(const QString &message, Clock::time_point now);

    // True, once per report, when a report was made within the lifetime before now.
    bool consume(Clock::time_point now);

private:
    QString m_token;
    std::chrono::milliseconds m_lifetime;
    QList<Clock::time_point> m_reports;
};

} // namespace velmora::workspace
