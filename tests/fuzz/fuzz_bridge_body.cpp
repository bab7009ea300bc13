// What the page hands the bridge: a message name, a frame URL and a "revealTextFile" body as
// JSON text. Whatever they hold, the gate and the body rules answer without crashing.
//
// Input: the name, a NUL byte, the frame URL, a NUL byte, then the body's JSON text; missing
// parts are empty.
#include "workspace/BridgeRules.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> parts = QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)).split('\0');
    const QString name = QString::fromUtf8(parts.value(0));
    const QUrl frameUrl(QString::fromUtf8(parts.value(1)));
    const QString body = QString::fromUtf8(parts.value(2));

    const QUrl origin(QStringLiteral("http://127.0.0.1:18760"));
    (void)velmora::workspace::gateAdmits(origin, name, true, frameUrl);
    (void)velmora::workspace::gateAdmits(origin, name, false, frameUrl);

    const QString path = velmora::workspace::revealTextFilePath(velmora::workspace::parseBody(body));
    if (!path.isEmpty() && !path.startsWith(QLatin1Char('/')))
        __builtin_trap();
    (void)velmora::workspace::pathExtension(body);
    (void)velmora::workspace::folderReply(body);
    return 0;
}
