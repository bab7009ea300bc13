// Release notes are shown as inline Markdown; their text comes from a web server.

#include "FuzzSupport.h"

#include "updates/InlineMarkdown.h"

using namespace velmora;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = fuzz::textOf(data, size);
    const updates::InlineMarkdownText notes = updates::readInlineMarkdown(text);

    // Markers are styling or stay as typed, and an address goes into its link: what is shown
    // is the notes with some characters left out, never one invented or moved.
    qsizetype at = 0;
    for (const QChar c : notes.text) {
        while (at < text.size() && text.at(at) != c)
            ++at;
        fuzz::check(at < text.size(), "the shown text is the notes with characters left out");
        ++at;
    }

    // The runs cover the shown text in order, each with a style of its own, and a link's
    // style names one of the addresses read.
    qsizetype start = 0;
    for (const updates::StyledRun &run : notes.runs) {
        fuzz::check(run.end > start, "every run holds text, after the one before");
        fuzz::check(run.style >= 0 && size_t(run.style) < notes.styles.size(), "every run has a style");
        const updates::RunStyle &style = notes.styles[size_t(run.style)];
        fuzz::check(style.link >= -1 && style.link < qsizetype(notes.links.size()), "a link names an address read");
        start = run.end;
    }
    fuzz::check(start == notes.text.size(), "the runs end where the shown text ends");

    // An address runs up to white space or ")", and it is never empty.
    for (const QString &href : notes.links) {
        fuzz::check(!href.isEmpty(), "an address is never empty");
        for (const QChar c : href)
            fuzz::check(c != u' ' && c != u'\t' && c != u'\n' && c != u')', "an address ends at white space or \")\"");
    }
    return 0;
}
