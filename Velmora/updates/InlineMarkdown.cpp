#include "updates/InlineMarkdown.h"

#include <QFontDatabase>
#include <QTextCursor>
#include <QTextDocument>

#include <optional>

namespace velmora::updates {
namespace {

struct Style
{
    bool strong = false;
    bool emphasis = false;
    bool code = false;
    bool strike = false;
    QString href;
};

bool isAsciiPunctuation(QChar c)
{
    return c.unicode() < 128 && (c.isPunct() || c.isSymbol());
}

class Writer
{
public:
    explicit Writer(QTextCursor cursor) : m_cursor(std::move(cursor)) {}

    void write(const QString &text, const Style &style)
    {
        QTextCharFormat format = m_base;
        if (style.strong)
            format.setFontWeight(QFont::Bold);
        if (style.emphasis)
            format.setFontItalic(true);
        if (style.strike)
            format.setFontStrikeOut(true);
        if (style.code) {
            format.setFontFamilies({QFontDatabase::systemFont(QFontDatabase::FixedFont).family()});
            format.setFontFixedPitch(true);
        }
        if (!style.href.isEmpty()) {
            format.setAnchor(true);
            format.setAnchorHref(style.href);
            format.setForeground(QColor(0x0a, 0x64, 0xd6));
            format.setFontUnderline(true);
        }
        // Line feeds start a new block, so each line keeps its own spacing.
        const QStringList lines = text.split(QLatin1Char('\n'));
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (i > 0)
                m_cursor.insertBlock(m_cursor.blockFormat(), m_base);
            if (!lines[i].isEmpty())
                m_cursor.insertText(lines[i], format);
        }
    }

    void setBase(const QTextCharFormat &format) { m_base = format; }

private:
    QTextCursor m_cursor;
    QTextCharFormat m_base;
};

class Parser
{
public:
    Parser(const QString &text, Writer &writer) : m_text(text), m_writer(writer) {}

    void parse(qsizetype from, qsizetype to, const Style &style)
    {
        QString plain;
        auto flush = [&] {
            if (!plain.isEmpty())
                m_writer.write(plain, style);
            plain.clear();
        };
        qsizetype i = from;
        while (i < to) {
            const QChar c = m_text.at(i);
            if (c == u'\\' && i + 1 < to && isAsciiPunctuation(m_text.at(i + 1))) {
                plain += m_text.at(i + 1);
                i += 2;
                continue;
            }
            if (c == u'`') {
                const qsizetype run = runLength(i, to, u'`');
                const qsizetype close = findCodeClose(i + run, to, run);
                if (close >= 0) {
                    flush();
                    Style code = style;
                    code.code = true;
                    m_writer.write(m_text.mid(i + run, close - i - run), code);
                    i = close + run;
                    continue;
                }
                plain += m_text.mid(i, run);
                i += run;
                continue;
            }
            if ((c == u'*' || c == u'_' || c == u'~') && !style.code) {
                const qsizetype run = runLength(i, to, c);
                const qsizetype width = c == u'~' ? (run >= 2 ? 2 : 0) : (run >= 2 ? 2 : 1);
                if (width > 0 && canOpen(i, width, to, c)) {
                    const qsizetype close = findClose(i + width, to, c, width);
                    if (close >= 0) {
                        flush();
                        Style inner = style;
                        if (c == u'~')
                            inner.strike = true;
                        else if (width == 2)
                            inner.strong = true;
                        else
                            inner.emphasis = true;
                        parse(i + width, close, inner);
                        i = close + width;
                        continue;
                    }
                }
                plain += m_text.mid(i, run);
                i += run;
                continue;
            }
            if (c == u'[' && style.href.isEmpty()) {
                const auto link = findLink(i, to);
                if (link) {
                    flush();
                    Style inner = style;
                    inner.href = link->href;
                    parse(i + 1, link->labelEnd, inner);
                    i = link->end;
                    continue;
                }
            }
            plain += c;
            ++i;
        }
        flush();
    }

private:
    struct Link
    {
        qsizetype labelEnd;
        QString href;
        qsizetype end;
    };

    qsizetype runLength(qsizetype at, qsizetype to, QChar c) const
    {
        qsizetype n = 0;
        while (at + n < to && m_text.at(at + n) == c)
            ++n;
        return n;
    }

    qsizetype findCodeClose(qsizetype from, qsizetype to, qsizetype run) const
    {
        for (qsizetype i = from; i < to;) {
            if (m_text.at(i) == u'`') {
                const qsizetype n = runLength(i, to, u'`');
                if (n == run)
                    return i;
                i += n;
            } else {
                ++i;
            }
        }
        return -1;
    }

    bool canOpen(qsizetype at, qsizetype width, qsizetype to, QChar c) const
    {
        if (at + width >= to || m_text.at(at + width).isSpace())
            return false;
        // An underscore inside a word (snake_case) is not emphasis.
        if (c == u'_' && at > 0 && m_text.at(at - 1).isLetterOrNumber())
            return false;
        return true;
    }

    qsizetype findClose(qsizetype from, qsizetype to, QChar c, qsizetype width) const
    {
        for (qsizetype i = from + 1; i + width <= to; ++i) {
            if (m_text.at(i) == u'`') {
                const qsizetype run = runLength(i, to, u'`');
                const qsizetype close = findCodeClose(i + run, to, run);
                if (close >= 0) {
                    i = close + run - 1;
                    continue;
                }
            }
            if (m_text.at(i) == u'\\') {
                ++i;
                continue;
            }
            if (m_text.at(i) != c)
                continue;
            const qsizetype run = runLength(i, to, c);
            if (run < width) {
                i += run - 1;
                continue;
            }
            // Close on the last delimiters of a run, so "***a***" nests emphasis in strong.
            const qsizetype at = i + run - width;
            if (m_text.at(i - 1).isSpace()) {
                i += run - 1;
                continue;
            }
            if (c == u'_' && at + width < to && m_text.at(at + width).isLetterOrNumber()) {
                i += run - 1;
                continue;
            }
            return at;
        }
        return -1;
    }

    std::optional<Link> findLink(qsizetype at, qsizetype to) const
    {
        int depth = 0;
        for (qsizetype i = at; i < to; ++i) {
            const QChar c = m_text.at(i);
            if (c == u'\\') {
                ++i;
                continue;
            }
            if (c == u'[') {
                ++depth;
            } else if (c == u']') {
                if (--depth > 0)
                    continue;
                if (i + 1 >= to || m_text.at(i + 1) != u'(')
                    return std::nullopt;
                const qsizetype close = m_text.indexOf(u')', i + 2);
                if (close < 0 || close >= to)
                    return std::nullopt;
                const QString href = m_text.mid(i + 2, close - i - 2).trimmed();
                if (href.isEmpty() || href.contains(u' ') || href.contains(u'\n'))
                    return std::nullopt;
                return Link{i, href, close + 1};
            } else if (c == u'\n' && i + 1 < to && m_text.at(i + 1) == u'\n') {
                return std::nullopt;
            }
        }
        return std::nullopt;
    }

    const QString &m_text;
    Writer &m_writer;
};

} // namespace

void setInlineMarkdown(QTextDocument &document, const QString &text)
{
    document.clear();
    QTextCursor cursor(&document);
    Writer writer(cursor);
    writer.setBase(cursor.charFormat());
    Parser parser(text, writer);
    parser.parse(0, text.size(), Style{});
}

} // namespace velmora::updates
