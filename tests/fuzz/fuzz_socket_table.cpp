// The system's socket table (/proc/net/tcp and tcp6), read to watch an adopted backend.

#include "FuzzSupport.h"

#include "platform/ListeningPorts.h"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray table(reinterpret_cast<const char *>(data), qsizetype(size));
    // The port is the input's first two bytes, so that it meets the table's own numbers.
    const quint16 port = size >= 2 ? quint16(data[0] << 8 | data[1]) : 0;
    const bool listening = platform::socketTableListensOn(table, port);
    if (listening) {
        fuzz::check(table.toUpper().contains(":" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0') + " "),
                    "a listener's port stands in the table in hex");
        fuzz::check(platform::socketTableListensOn("header\n" + table, port), "a line in front changes nothing");
    }
    fuzz::check(!platform::socketTableListensOn(QByteArray(), port), "an empty table lists no listener");
    return 0;
}
