// Release notes arrive as an HTML document from a web server; the update window shows the
// text decode() makes of them.

#include "FuzzSupport.h"

#include "updates/ReleaseNotesText.h"

#include <QStringDecoder>

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The update controller takes only well-formed UTF-8.
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString document = utf8(fuzz::bytesOf(data, size));
    if (utf8.hasError())
        return 0;
    const QString notes = updates::ReleaseNotesText::decode(document);
    // Tags vanish and every character reference is longer than what it stands for.
    fuzz::check(notes.size() <= document.size(), "decoded notes are never longer than the document");
    return 0;
}
