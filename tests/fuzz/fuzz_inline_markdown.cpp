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
    // shown text, line breaks aside, is never longer than the notes. Line breaks (block
    // separators) come from the notes' own, and from lines too long to lay out at once, which
    // go on in a new block after at least half the writer's block limit.
    const QString shown = document.toPlainText();
    fuzz::check(shown.size() - shown.count(u'\n') <= text.size() - text.count(u'\n'), "no characters are invented");
    qsizetype separators = 0;
    for (const QChar c : text) {
        if (c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator || c.unicode() == 0xfdd0 || c.unicode() == 0xfdd1)
            ++separators;
    }
    fuzz::check(document.blockCount()
                    <= separators + 1 + text.size() / (updates::InlineMarkdownWriter::maxBlockCharacters / 2),
                "a block for each line, and one more for each long stretch of a line");
    return 0;
}
