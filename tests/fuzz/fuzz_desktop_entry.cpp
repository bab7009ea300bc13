// Desktop entries are files any package (or the user) may write; the launcher reads them and
// splits their Exec line. Whatever a file holds, reading it answers without crashing, and a
// command line it gives starts with a program name.
#include "platform/DesktopEntry.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    if (const auto entry = velmora::platform::parseDesktopEntry(bytes)) {
        const auto arguments = velmora::platform::execArguments(*entry, QStringLiteral("/apps/x.desktop"));
        if (arguments && (arguments->isEmpty() || arguments->first().isEmpty()))
            __builtin_trap();
    }
    // The input as an Exec line on its own.
    velmora::platform::DesktopEntry entry;
    entry.exec = QString::fromUtf8(bytes);
    entry.name = QStringLiteral("녹음기");
    entry.icon = QStringLiteral("audio-input");
    const auto arguments = velmora::platform::execArguments(entry, QStringLiteral("/apps/x.desktop"));
    if (arguments && (arguments->isEmpty() || arguments->first().isEmpty()))
        __builtin_trap();
    return 0;
}
