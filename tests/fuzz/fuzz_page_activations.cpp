// The page's console messages reach the readers of link-click and file-input reports; page
// scripts can write any message, including ones that look like the report scripts'.

#include "FuzzSupport.h"

#include "workspace/PageActivations.h"

#include <QStringList>
#include <QUrl>

#include <algorithm>

using namespace velmora;
using workspace::PageActivations;

namespace {
const QString token = QStringLiteral("s3cr3t-t0ken");
const PageActivations::Clock::time_point now{std::chrono::hours(1)};
const PageActivations::Clock::time_point expired = now + PageActivations::defaultLifetime + std::chrono::milliseconds(1);

void checkLinkClicks(const QStringList &messages)
{
    // Each signed address is asked for once.
    PageActivations activations(PageActivations::Kind::LinkClick, token);
    const QString prefix = activations.messagePrefix();
    for (const QString &message : messages) {
        fuzz::check(activations.takeMessage(message, now) == message.startsWith(prefix),
                    "exactly the link script's messages are taken");
    }

    const QString signedPrefix = prefix + token + QLatin1Char(' ');
    for (const QString &message : messages) {
        if (!message.startsWith(prefix))
            continue;
        const QUrl url(message.mid(prefix.size()).section(QLatin1Char(' '), 1));
        const bool signedHere = message.startsWith(signedPrefix);
        if (!signedHere) {
            // A forged message vouches for nothing, unless a signed one named the same address.
            const bool namedBySigned = std::any_of(messages.cbegin(), messages.cend(), [&](const QString &m) {
                return m.startsWith(signedPrefix) && QUrl(m.mid(signedPrefix.size())) == url;
            });
            if (!namedBySigned)
                fuzz::check(!activations.consume(url, now), "a message with another token vouches for nothing");
        }
    }
    fuzz::check(!activations.consume(now), "a link click always names its link");

    // Whatever was recorded is stale once its lifetime has passed.
    for (const QString &message : messages) {
        if (message.startsWith(signedPrefix))
            fuzz::check(!activations.consume(QUrl(message.mid(signedPrefix.size())), expired), "a link click expires");
    }
}

void checkFileInputs(const QStringList &messages)
{
    // Requests for files until one is refused.
    PageActivations activations(PageActivations::Kind::FileInput, token);
    const QString prefix = activations.messagePrefix();
    int reports = 0;
    for (const QString &message : messages) {
        fuzz::check(activations.takeMessage(message, now) == message.startsWith(prefix),
                    "exactly the file input script's messages are taken");
        if (message == prefix + token)
            ++reports;
    }
    int served = 0;
    while (activations.consume(now)) {
        ++served;
        fuzz::check(served <= reports, "only a message with the token vouches for a request");
    }
    fuzz::check(served == std::min(reports, 4), "each report kept vouches once");

    // Whatever was recorded is stale once its lifetime has passed.
    for (const QString &message : messages)
        activations.takeMessage(message, now);
    fuzz::check(!activations.consume(expired), "a file input report expires");
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Several console messages, one a line, read by each kind's reader.
    const QStringList messages = fuzz::textOf(data, size).split(QLatin1Char('\n'));
    checkLinkClicks(messages);
    checkFileInputs(messages);
    return 0;
}
