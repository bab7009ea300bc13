#pragma once

#include <QString>

class QTextDocument;

namespace velmora::updates {

// Fills document with text read as inline Markdown only: strong emphasis, emphasis, inline
// code, strikethrough and links are styled; block syntax (headings, lists, quotes) is not
// interpreted and stays as typed, and every space and line break is kept (one block per line).
// Unmatched markers stay as plain characters, so any text can be shown.
void setInlineMarkdown(QTextDocument &document, const QString &text);

} // namespace velmora::updates
