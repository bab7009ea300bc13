#include "updates/InlineMarkdownWriter.h"

#include <QFontDatabase>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <limits>
#include <optional>
#include <vector>

namespace velmora::updates {

struct InlineMarkdownWriter::Private
{
    // Qt lays a block out as a whole and more slowly than it stores characters: a block break
    // costs as much of a write budget as this many characters.
    static constexpr qsizetype blockCost = 16;
    // Likewise every styled span inserted (Qt looks its format up each time).
    static constexpr qsizetype spanCost = 8;
    // How far back from a block's limit a white space is looked for to break the line at.
    static constexpr qsizetype breakSearch = 512;

    InlineMarkdownText notes;
    QTextCursor cursor;
    QTextBlockFormat blockFormat;
    QTextCharFormat base;
    std::vector<std::optional<QTextCharFormat>> formats;
    qsizetype position = 0;
    size_t run = 0;
    qsizetype blockLength = 0;
    bool started = false; // the first block has its format

    const QTextCharFormat &format(int style)
    {
        std::optional<QTextCharFormat> &cached = formats[size_t(style)];
        if (!cached) {
            const RunStyle &s = notes.styles[size_t(style)];
            QTextCharFormat f = base;
            if (s.strong)
                f.setFontWeight(QFont::Bold);
            if (s.emphasis)
                f.setFontItalic(true);
            if (s.strike)
                f.setFontStrikeOut(true);
            if (s.code) {
                f.setFontFamilies({QFontDatabase::systemFont(QFontDatabase::FixedFont).family()});
                f.setFontFixedPitch(true);
            }
            if (s.link >= 0) {
                f.setAnchor(true);
                f.setAnchorHref(notes.links[size_t(s.link)]);
                f.setForeground(QColor(0x0a, 0x64, 0xd6));
                f.setFontUnderline(true);
            }
            cached = f;
        }
        return *cached;
    }

    void newBlock()
    {
        cursor.insertBlock(blockFormat, base);
        blockLength = 0;
    }
};

InlineMarkdownWriter::InlineMarkdownWriter(QTextDocument &document, const QString &text, const QTextBlockFormat &blockFormat)
    : d(std::make_unique<Private>())
{
    d->notes = readInlineMarkdown(text);
    d->formats.resize(d->notes.styles.size());

    document.clear();
    d->cursor = QTextCursor(&document);
    d->blockFormat = blockFormat;
    d->base = d->cursor.charFormat();
}

InlineMarkdownWriter::~InlineMarkdownWriter() = default;

bool InlineMarkdownWriter::isDone() const
{
    return d->started && d->position >= d->notes.text.size();
}

bool InlineMarkdownWriter::write(qsizetype budget)
{
    const QString &text = d->notes.text;
    const qsizetype size = text.size();
    if (d->position >= size && d->started)
        return true;

    // One edit block per slice: the layout runs once for the slice, not once per span.
    d->cursor.beginEditBlock();
    if (!d->started) {
        d->cursor.setBlockFormat(d->blockFormat);
        d->started = true;
    }
    qsizetype spent = 0;
    while (d->position < size && spent < budget) {
        const qsizetype at = d->position;
        if (text.at(at) == u'\n') {
            // Line feeds start a new block, so each line keeps its own spacing.
            d->newBlock();
            ++d->position;
            spent += Private::blockCost;
            continue;
        }
        const qsizetype room = maxBlockCharacters - d->blockLength;
        if (room == 0) {
            d->newBlock();
            spent += Private::blockCost;
            continue;
        }
        while (d->notes.runs[d->run].end <= at)
            ++d->run;
        const StyledRun &run = d->notes.runs[d->run];
        qsizetype take = std::min({run.end - at, room, std::max<qsizetype>(budget - spent, 1)});
        const qsizetype feed = QStringView(text).mid(at, take).indexOf(u'\n');
        if (feed >= 0)
            take = feed;
        bool breakBlock = false;
        if (take == room && at + take < size && text.at(at + take) != u'\n') {
            // The line goes on past the block's limit: end the block after a white space near
            // the limit, or right at it in a word that long.
            breakBlock = true;
            for (qsizetype i = at + take - 1; i >= std::max(at, at + take - Private::breakSearch); --i) {
                if (text.at(i).isSpace()) {
                    take = i + 1 - at;
                    break;
                }
            }
        }
        d->cursor.insertText(text.mid(at, take), d->format(run.style));
        d->position += take;
        d->blockLength += take;
        spent += take + Private::spanCost;
        if (breakBlock) {
            d->newBlock();
            spent += Private::blockCost;
        }
    }
    d->cursor.endEditBlock();
    return isDone();
}

void setInlineMarkdown(QTextDocument &document, const QString &text)
{
    InlineMarkdownWriter writer(document, text);
    writer.write(std::numeric_limits<qsizetype>::max());
}

} // namespace velmora::updates
