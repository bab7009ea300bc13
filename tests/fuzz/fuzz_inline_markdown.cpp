// Release notes are shown as inline Markdown; their text comes from a web server.

#include "FuzzSupport.h"

#include "updates/InlineMarkdown.h"

#include <QTextDocument>

using namespace velmora;

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::ensureGuiApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = fuzz::textOf(data, size);
    QTextDocument document;
    updates::setInlineMarkdown(document, text);
    // Markers are styling or stay as typed; no other character appears or disappears, so the
    // shown text is never longer than the notes (line feeds become block separators).
    fuzz::check(document.characterCount() <= text.size() + 1, "no characters are invented");
    return 0;
}
