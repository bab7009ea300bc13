#include "platform/RandomToken.h"

#include <QByteArray>
#include <QRandomGenerator>

namespace velmora::platform {

QString randomToken()
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(words), sizeof words).toHex());
}

} // namespace velmora::platform
