// Desktop entries are files any package (or the user) may write; the application launcher
// reads them and splits their Exec line into a program and its arguments.

#include "FuzzSupport.h"

#include "platform/DesktopEntry.h"

using namespace velmora;

namespace {

void checkCommand(const std::optional<QStringList> &arguments)
{
    if (arguments)
        fuzz::check(!arguments->isEmpty() && !arguments->first().isEmpty(), "a command starts with a program");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzz::bytesOf(data, size);
    if (const auto entry = platform::parseDesktopEntry(bytes))
        checkCommand(platform::execArguments(*entry, QStringLiteral("/apps/x.desktop")));

    // The input as an Exec line on its own.
    platform::DesktopEntry entry;
    entry.exec = fuzz::textOf(data, size);
    entry.name = QStringLiteral("녹음기");
    entry.icon = QStringLiteral("audio-input");
    checkCommand(platform::execArguments(entry, QStringLiteral("/apps/x.desktop")));
    return 0;
}
