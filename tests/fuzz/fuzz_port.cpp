// The port comes from the environment variable VELMORA_DESKTOP_PORT.

#include "FuzzSupport.h"

#include "backend/LaunchPlan.h"
#include "backend/Texts.h"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = fuzz::textOf(data, size);

    if (const std::optional<qint64> number = backend::parseDecimalInteger(text)) {
        fuzz::check(backend::parseDecimalInteger(QString::number(*number)) == number,
                    "a parsed number reads back from its decimal form");
        bool ok = false;
        const qlonglong qtNumber = text.toLongLong(&ok);
        fuzz::check(ok && qtNumber == *number, "a parsed number agrees with Qt's decimal reading");
    }

    platform::FixedProcessInfo processInfo;
    processInfo.env.insert(QStringLiteral("VELMORA_DESKTOP_PORT"), text);
    const backend::PortResolution port = backend::resolvePort(processInfo);
    if (port.ok()) {
        fuzz::check(port.port >= backend::lowestPort && port.port <= backend::highestPort, "the port is in range");
        fuzz::check(port.baseUrl == QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port.port)),
                    "the base address is the loopback address with the port");
    } else {
        fuzz::check(port.error == backend::portRangeMessage, "a refused port says why");
        fuzz::check(port.port == 0 && port.baseUrl.isEmpty(), "a refused port gives no address");
    }
    return 0;
}
