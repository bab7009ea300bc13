// The page's console messages reach the file input reports' reader; page scripts can write any
// message, including ones that look like the report script's.

#include "FuzzSupport.h"

#include "workspace/FileInputActivations.h"

#include <QStringList>

using namespace velmora;
using workspace::FileInputActivations;

namespace {
const QString prefix = QStringLiteral("velmora-file-input ");
const QString token = QStringLiteral("s3cr3t-t0ken");
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Several console messages, one a line, then requests for files until one is refused.
    const QStringList messages = fuzz::textOf(data, size).split(QLatin1Char('\n'));
    const FileInputActivations::Clock::time_point now{std::chrono::hours(1)};
    FileInputActivations activations(token);
    int reports = 0;
    for (const QString &message : messages) {
        fuzz::check(activations.takeMessage(message, now) == message.startsWith(prefix),
                    "exactly the report script's messages are taken");
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
    fuzz::check(!activations.consume(now + FileInputActivations::defaultLifetime + std::chrono::milliseconds(1)),
                "a report expires");
    return 0;
}
