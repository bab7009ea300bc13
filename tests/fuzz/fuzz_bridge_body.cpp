// What the page hands the bridge: a message name, the posting frame's URL and a
// "revealTextFile" body as JSON text (the page can send any of them).
//
// Input: the name, a NUL byte, the frame URL, a NUL byte, then the body's JSON text; missing
// parts are empty.

#include "FuzzSupport.h"

#include "workspace/BridgeRules.h"
#include "workspace/NavigationPolicy.h"

#include <QList>
#include <QUrl>

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> parts = fuzz::bytesOf(data, size).split('\0');
    const QString name = QString::fromUtf8(parts.value(0));
    const QUrl frameUrl(QString::fromUtf8(parts.value(1)));
    const QString body = QString::fromUtf8(parts.value(2));

    const QUrl origin(QStringLiteral("http://127.0.0.1:18760"));
    const bool admitted = workspace::gateAdmits(origin, name, true, frameUrl);
    fuzz::check(!admitted || workspace::bridgeMessageNames.contains(name), "only the nine names pass");
    fuzz::check(!admitted || workspace::matchesOrigin(origin, frameUrl), "only the page's origin passes");
    fuzz::check(!workspace::gateAdmits(origin, name, false, frameUrl), "no other frame passes");

    const QString path = workspace::revealTextFilePath(workspace::parseBody(body));
    if (!path.isEmpty()) {
        fuzz::check(path.startsWith(QLatin1Char('/')), "a file to reveal is absolute");
        fuzz::check(workspace::textFileExtensions.contains(workspace::pathExtension(path)),
                    "a file to reveal is a text file");
    }
    const QString extension = workspace::pathExtension(body);
    fuzz::check(extension == extension.toLower() && !extension.contains(QLatin1Char('/')),
                "an extension is lower case and within the last component");
    const QVariantMap folder = workspace::folderReply(body);
    fuzz::check(!folder.value(QStringLiteral("name")).toString().contains(QLatin1Char('/'))
                    || folder.value(QStringLiteral("path")) == QLatin1String("/"),
                "a folder's name is its last component");
    return 0;
}
