#pragma once

#include <QString>

#include <vector>

namespace velmora::updates {

// What the reader makes of the notes: the text as shown and its runs of one style each.
struct RunStyle
{
    bool strong = false;
    bool emphasis = false;
    bool code = false;
    bool strike = false;
    qsizetype link = -1; // index into InlineMarkdownText::links

    bool operator==(const RunStyle &) const = default;
};

struct StyledRun
{
    qsizetype end; // in InlineMarkdownText::text, where the next run starts
    int style;     // index into InlineMarkdownText::styles
};

struct InlineMarkdownText
{
    QString text;
    std::vector<StyledRun> runs;
    std::vector<RunStyle> styles;
    std::vector<QString> links;
};

// Reads text as inline Markdown only: strong emphasis, emphasis, inline code, strikethrough
// and links are styled; block syntax (headings, lists, quotes) is not interpreted and stays as
// typed, and every space and line break is kept. Unmatched markers stay as plain characters, so
// any text can be shown. One pass, in time linear in the length of the text, on a bounded
// stack. The runs follow each other without a gap and end where the text ends.
InlineMarkdownText readInlineMarkdown(const QString &text);

} // namespace velmora::updates
