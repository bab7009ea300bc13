#pragma once

#include "updates/InlineMarkdown.h"

#include <QString>
#include <QTextBlockFormat>

#include <memory>

class QTextDocument;

namespace velmora::updates {

// Fills document with text read as inline Markdown (readInlineMarkdown), one block per line.
void setInlineMarkdown(QTextDocument &document, const QString &text);

// Writes text into a document as setInlineMarkdown() does, a slice at a time, so that long
// notes never hold up the event loop for long. The text is read when the writer is made;
// write() then adds the next slice.
//
// Qt lays out a block as a whole, in time that grows faster than its length, so a line longer
// than maxBlockCharacters goes on in a new block: after a white space near the limit, or at the
// limit inside a word that long.
class InlineMarkdownWriter
{
public:
    static constexpr qsizetype maxBlockCharacters = 4096;

    // Empties document and reads text; every block written gets blockFormat. The document must
    // outlive the writer and be changed by nobody else meanwhile.
    InlineMarkdownWriter(QTextDocument &document, const QString &text, const QTextBlockFormat &blockFormat = {});
    ~InlineMarkdownWriter();

    // Writes about budget more characters (a line break counts as several); true once all of
    // the text is written.
    bool write(qsizetype budget);
    bool isDone() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace velmora::updates
