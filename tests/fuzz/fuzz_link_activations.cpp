// The page's console messages reach the link-activation reader; page scripts can write any
// message, including ones that look like the activation script's.

#include "FuzzSupport.h"

#include "workspace/LinkActivations.h"

#include <QUrl>

#include <algorithm>

using namespace velmora;
using workspace::LinkActivations;

namespace {
const QString prefix = QStringLiteral("velmora-link-activation ");
const QString token = QStringLiteral("s3cr3t-t0ken");
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Several console messages, one a line, then each signed address is asked for once.
    const QStringList messages = fuzz::textOf(data, size).split(QLatin1Char('\n'));
    const LinkActivations::Clock::time_point now{std::chrono::hours(1)};
    LinkActivations activations(token);
    for (const QString &message : messages) {
        fuzz::check(activations.takeMessage(message, now) == message.startsWith(prefix),
                    "exactly the activation script's messages are taken");
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

    // Whatever was recorded is stale once its lifetime has passed.
    for (const QString &message : messages) {
        if (message.startsWith(signedPrefix)) {
            const QUrl url(message.mid(signedPrefix.size()));
            fuzz::check(!activations.consume(url, now + LinkActivations::defaultLifetime + std::chrono::milliseconds(1)),
                        "an activation expires");
        }
    }
    return 0;
}
