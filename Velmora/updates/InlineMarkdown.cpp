#include "updates/InlineMarkdown.h"

#include <QHash>

#include <algorithm>
#include <array>
#include <vector>

// The notes come from the network, so the reader must stay fast and shallow whatever they
// hold: one pass builds a flat list of pieces, emphasis is paired on a delimiter list the way
// CommonMark does it (with its "openers bottom" bound, so an opener that never closes is not
// searched again and again), links on a bracket stack, and the styles of the pairs are added
// up over the list at the end. Nothing recurses on the text's structure and every step is
// linear in the length of the text.

namespace velmora::updates {
namespace {

bool isAsciiPunctuation(QChar c)
{
    return c.unicode() < 128 && (c.isPunct() || c.isSymbol());
}

bool isPunctuation(QChar c)
{
    return c.isPunct() || c.isSymbol();
}

bool isLinkSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}

// One piece of the output: the characters [start, end) of the text, shown with the styles of
// the pairs around it. A delimiter piece shrinks as its markers are used up.
struct Piece
{
    enum Kind : quint8 { Text, Code, Delimiter, LinkOpen, LinkClose };
    qsizetype start;
    qsizetype end;
    Kind kind;
};

// A run of *, _ or ~ that may still open or close emphasis. Its pieces live in a doubly linked
// list (indices into the delimiter vector) so pairing can cut out everything between a pair.
struct Delimiter
{
    qsizetype piece;
    QChar marker;
    qsizetype length;    // markers left
    qsizetype runLength; // markers in the run as written
    bool canOpen;
    bool canClose;
    int previous = -1;
    int next = -1;
};

struct Bracket
{
    qsizetype piece;
    int delimiterBottom; // the last delimiter before the bracket, -1 for none
    bool active = true;
};

enum StyleKind { Strong, Emphasis, Strike, StyleKinds };

struct Pairing
{
    qsizetype from; // first piece inside
    qsizetype to;   // first piece after
    StyleKind kind;
};

struct LinkSpan
{
    qsizetype from;
    qsizetype to;
    QString href;
};

class Reader
{
public:
    explicit Reader(const QString &text) : m_text(text), m_size(text.size())
    {
        m_pieces.reserve(size_t(m_size) + 1);
        indexBacktickRuns();
        indexLinkStops();
    }

    void read()
    {
        qsizetype textStart = 0;
        auto flushText = [&](qsizetype to) {
            if (to > textStart)
                m_pieces.push_back({textStart, to, Piece::Text});
        };

        qsizetype i = 0;
        while (i < m_size) {
            const QChar c = m_text.at(i);
            if (c == u'\\' && i + 1 < m_size && isAsciiPunctuation(m_text.at(i + 1))) {
                flushText(i);
                textStart = i + 1; // the escaped character is plain text
                i += 2;
                continue;
            }
            if (c == u'`') {
                const qsizetype run = runLength(i, u'`');
                const qsizetype close = codeClose(i + run, run);
                if (close >= 0) {
                    flushText(i);
                    m_pieces.push_back({i + run, close, Piece::Code});
                    i = close + run;
                    textStart = i;
                } else {
                    i += run;
                }
                continue;
            }
            if (c == u'*' || c == u'_' || c == u'~') {
                const qsizetype run = runLength(i, c);
                flushText(i);
                pushDelimiter(i, run, c);
                i += run;
                textStart = i;
                continue;
            }
            if (c == u'[') {
                flushText(i);
                m_brackets.push_back({qsizetype(m_pieces.size()), m_delimiterTail});
                m_pieces.push_back({i, i + 1, Piece::LinkOpen});
                ++i;
                textStart = i;
                continue;
            }
            if (c == u']') {
                const qsizetype end = closeLink(i, [&] { flushText(i); });
                if (end > i) {
                    i = end;
                    textStart = i;
                    continue;
                }
            }
            if (c == u'\n' && startsBlankLine(i + 1)) {
                // Emphasis and links never reach across a blank line.
                flushText(i);
                textStart = i;
                pairEmphasis(-1);
                m_brackets.clear();
            }
            ++i;
        }
        flushText(m_size);
        pairEmphasis(-1);
    }

    // The visible text and its styled runs, in order.
    InlineMarkdownText result() const;

private:
    qsizetype runLength(qsizetype at, QChar c) const
    {
        qsizetype n = 0;
        while (at + n < m_size && m_text.at(at + n) == c)
            ++n;
        return n;
    }

    bool startsBlankLine(qsizetype at) const
    {
        while (at < m_size && (m_text.at(at) == u' ' || m_text.at(at) == u'\t'))
            ++at;
        return at >= m_size || m_text.at(at) == u'\n';
    }

    // Every run of backticks, by length, so a code span finds its closing run without
    // scanning the text again: the search for each length only ever moves forward.
    void indexBacktickRuns()
    {
        for (qsizetype i = 0; i < m_size;) {
            if (m_text.at(i) != u'`') {
                ++i;
                continue;
            }
            const qsizetype run = runLength(i, u'`');
            m_backtickRuns[run].starts.push_back(i);
            i += run;
        }
    }

    // The start of the next run of exactly run backticks at or after from, or -1.
    qsizetype codeClose(qsizetype from, qsizetype run)
    {
        const auto found = m_backtickRuns.find(run);
        if (found == m_backtickRuns.end())
            return -1;
        RunIndex &index = *found;
        while (index.next < qsizetype(index.starts.size()) && index.starts[index.next] < from)
            ++index.next;
        return index.next < qsizetype(index.starts.size()) ? index.starts[index.next] : -1;
    }

    // For each position, where the next link address would stop (white space or ")") and
    // where the next non-space character stands, so "](" is judged in constant time.
    void indexLinkStops()
    {
        m_addressStop.resize(m_size + 1);
        m_nonSpace.resize(m_size + 1);
        m_addressStop[m_size] = m_size;
        m_nonSpace[m_size] = m_size;
        for (qsizetype i = m_size - 1; i >= 0; --i) {
            const QChar c = m_text.at(i);
            m_addressStop[i] = (isLinkSpace(c) || c == u')') ? i : m_addressStop[i + 1];
            m_nonSpace[i] = isLinkSpace(c) ? m_nonSpace[i + 1] : i;
        }
    }

    void pushDelimiter(qsizetype at, qsizetype run, QChar marker)
    {
        const QChar before = at > 0 ? m_text.at(at - 1) : QChar(u' ');
        const QChar after = at + run < m_size ? m_text.at(at + run) : QChar(u' ');
        const bool leftFlanking = !after.isSpace() && (!isPunctuation(after) || before.isSpace() || isPunctuation(before));
        const bool rightFlanking = !before.isSpace() && (!isPunctuation(before) || after.isSpace() || isPunctuation(after));
        bool canOpen = leftFlanking;
        bool canClose = rightFlanking;
        if (marker == u'_') {
            // snake_case stays as typed.
            canOpen = leftFlanking && (!rightFlanking || isPunctuation(before));
            canClose = rightFlanking && (!leftFlanking || isPunctuation(after));
        } else if (marker == u'~' && run != 2) {
            canOpen = canClose = false; // strikethrough takes exactly two tildes
        }

        const qsizetype piece = m_pieces.size();
        m_pieces.push_back({at, at + run, Piece::Delimiter});
        if (!canOpen && !canClose)
            return;
        Delimiter delimiter{piece, marker, run, run, canOpen, canClose};
        delimiter.previous = m_delimiterTail;
        const int index = int(m_delimiters.size());
        m_delimiters.push_back(delimiter);
        if (m_delimiterTail >= 0)
            m_delimiters[m_delimiterTail].next = index;
        else
            m_delimiterHead = index;
        m_delimiterTail = index;
    }

    void unlink(int index)
    {
        Delimiter &d = m_delimiters[index];
        if (d.previous >= 0)
            m_delimiters[d.previous].next = d.next;
        else
            m_delimiterHead = d.next;
        if (d.next >= 0)
            m_delimiters[d.next].previous = d.previous;
        else
            m_delimiterTail = d.previous;
    }

    static int bottomSlot(const Delimiter &closer)
    {
        const int marker = closer.marker == u'*' ? 0 : closer.marker == u'_' ? 1 : 2;
        return marker * 6 + int(closer.runLength % 3) * 2 + (closer.canOpen ? 1 : 0);
    }

    static bool canPair(const Delimiter &opener, const Delimiter &closer)
    {
        if (opener.marker != closer.marker || !opener.canOpen)
            return false;
        // A run that can both open and close does not pair across a multiple of three
        // ("*a**b*"), as in CommonMark.
        if (closer.marker != u'~' && (opener.canClose || closer.canOpen) && (opener.runLength + closer.runLength) % 3 == 0
            && !(opener.runLength % 3 == 0 && closer.runLength % 3 == 0))
            return false;
        return true;
    }

    // Pairs the delimiters after bottom (all when -1) and drops them from the list. Delimiter
    // indices grow along the text, so "before" is a comparison of indices.
    void pairEmphasis(int bottom)
    {
        // Per kind of closer: no opener for it at or before this index (CommonMark's "openers
        // bottom"), so a run of unmatched markers is walked past once, not once per closer.
        std::array<int, 18> openersBottom;
        openersBottom.fill(bottom);
        int current = bottom >= 0 ? m_delimiters[bottom].next : m_delimiterHead;
        while (current >= 0) {
            Delimiter &closer = m_delimiters[current];
            if (!closer.canClose) {
                current = closer.next;
                continue;
            }
            const int slot = bottomSlot(closer);
            const int limit = std::max(bottom, openersBottom[slot]);
            int opener = closer.previous;
            while (opener > limit && !canPair(m_delimiters[opener], closer))
                opener = m_delimiters[opener].previous;
            if (opener > limit) {
                Delimiter &open = m_delimiters[opener];
                const qsizetype width = closer.marker == u'~' ? 2 : (open.length >= 2 && closer.length >= 2 ? 2 : 1);
                const StyleKind kind = closer.marker == u'~' ? Strike : width == 2 ? Strong : Emphasis;
                m_pairings.push_back({open.piece + 1, closer.piece, kind});
                // Markers are used from the inside out: the opener's last, the closer's first.
                open.length -= width;
                m_pieces[open.piece].end -= width;
                closer.length -= width;
                m_pieces[closer.piece].start += width;
                // Whatever lies between can no longer pair with anything outside.
                open.next = current;
                closer.previous = opener;
                if (open.length == 0)
                    unlink(opener);
                if (closer.length == 0) {
                    const int next = closer.next;
                    unlink(current);
                    current = next;
                }
            } else {
                openersBottom[slot] = closer.previous;
                const int next = closer.next;
                if (!closer.canOpen)
                    unlink(current);
                current = next;
            }
        }
        // What is left after bottom stays plain text.
        if (bottom >= 0) {
            m_delimiters[bottom].next = -1;
            m_delimiterTail = bottom;
        } else {
            m_delimiterHead = -1;
            m_delimiterTail = -1;
        }
    }

    // At a "]": makes a link of the innermost open bracket when "(address)" follows. Returns the
    // position after the link, or at when it is no link (the "]" is then plain text).
    template<typename Flush>
    qsizetype closeLink(qsizetype at, Flush flush)
    {
        if (m_brackets.empty())
            return at;
        const Bracket bracket = m_brackets.back();
        m_brackets.pop_back();
        if (!bracket.active || at + 1 >= m_size || m_text.at(at + 1) != u'(')
            return at;
        const qsizetype addressStart = m_nonSpace[at + 2 <= m_size ? at + 2 : m_size];
        const qsizetype addressEnd = m_addressStop[addressStart];
        const qsizetype close = m_nonSpace[addressEnd];
        if (addressEnd == addressStart || close >= m_size || m_text.at(close) != u')')
            return at;

        flush();
        pairEmphasis(bracket.delimiterBottom);
        Piece &open = m_pieces[bracket.piece];
        open.end = open.start; // the "[" is not shown
        m_links.push_back(
            {bracket.piece + 1, qsizetype(m_pieces.size()), m_text.mid(addressStart, addressEnd - addressStart)});
        m_pieces.push_back({close + 1, close + 1, Piece::LinkClose});
        // No link inside a link: the brackets before this one are plain text now.
        for (auto earlier = m_brackets.rbegin(); earlier != m_brackets.rend() && earlier->active; ++earlier)
            earlier->active = false;
        return close + 1;
    }

    struct RunIndex
    {
        std::vector<qsizetype> starts;
        qsizetype next = 0;
    };

    const QString &m_text;
    const qsizetype m_size;
    std::vector<Piece> m_pieces;
    std::vector<Delimiter> m_delimiters;
    int m_delimiterHead = -1;
    int m_delimiterTail = -1;
    std::vector<Bracket> m_brackets;
    std::vector<Pairing> m_pairings;
    std::vector<LinkSpan> m_links;
    QHash<qsizetype, RunIndex> m_backtickRuns; // by length
    std::vector<qsizetype> m_addressStop;
    std::vector<qsizetype> m_nonSpace;
};

InlineMarkdownText Reader::result() const
{
    // Styles as depth changes along the pieces: a pair adds one from its first inner piece and
    // takes it back at its closer.
    const qsizetype count = m_pieces.size();
    std::vector<std::array<int, StyleKinds>> depth(count + 1, {0, 0, 0});
    for (const Pairing &pairing : m_pairings) {
        ++depth[pairing.from][pairing.kind];
        --depth[pairing.to][pairing.kind];
    }

    InlineMarkdownText out;
    out.text.reserve(m_size);
    for (const LinkSpan &link : m_links)
        out.links.push_back(link.href);
    QHash<qint64, int> styleIndex;
    std::array<int, StyleKinds> open{0, 0, 0};
    qsizetype link = 0;
    for (qsizetype i = 0; i < count; ++i) {
        for (int kind = 0; kind < StyleKinds; ++kind)
            open[kind] += depth[i][kind];
        // Links never nest, so their spans are disjoint and in order.
        while (link < qsizetype(m_links.size()) && m_links[link].to <= i)
            ++link;
        const Piece &piece = m_pieces[i];
        if (piece.end <= piece.start)
            continue;
        const RunStyle style{open[Strong] > 0, open[Emphasis] > 0, piece.kind == Piece::Code, open[Strike] > 0,
                             link < qsizetype(m_links.size()) && m_links[link].from <= i ? link : -1};
        if (out.runs.empty() || !(out.styles[out.runs.back().style] == style)) {
            const qint64 key = (qint64(style.link + 1) << 4) | (style.strong ? 1 : 0) | (style.emphasis ? 2 : 0)
                               | (style.code ? 4 : 0) | (style.strike ? 8 : 0);
            const auto known = styleIndex.constFind(key);
            if (known != styleIndex.cend()) {
                out.runs.push_back({0, *known});
            } else {
                out.runs.push_back({0, int(out.styles.size())});
                styleIndex.insert(key, int(out.styles.size()));
                out.styles.push_back(style);
            }
        }
        out.text += QStringView(m_text).mid(piece.start, piece.end - piece.start);
        out.runs.back().end = out.text.size();
    }
    return out;
}

} // namespace

InlineMarkdownText readInlineMarkdown(const QString &text)
{
    Reader reader(text);
    reader.read();
    return reader.result();
}

} // namespace velmora::updates
