#include "updates/ReleaseNotesText.h"

#include <QList>
#include <QRegularExpression>

#include <array>
#include <limits>
#include <optional>
#include <utility>

namespace velmora::updates::ReleaseNotesText {
namespace {

// Tags are removed before references are decoded, so an escaped tag ("&lt;b&gt;") survives as
// text while a real one disappears.

// White space before the slash is any Unicode white space (tab to carriage return, NEL and
// the separators), not only ASCII: PCRE's \s without Unicode properties would leave "<br\u00a0/>"
// to the tag pass, losing the line break.
const QRegularExpression &lineBreakTag()
{
    static const QRegularExpression re(QStringLiteral("<br[\\t-\\r\\x{85}\\p{Z}]*/?>"),
                                       QRegularExpression::CaseInsensitiveOption);
    return re;
}

const QRegularExpression &anyTag()
{
    static const QRegularExpression re(QStringLiteral("<[^>]+>"));
    return re;
}

const QRegularExpression &numericReference()
{
    static const QRegularExpression re(QStringLiteral("&#(x[0-9a-fA-F]+|[0-9]+);"));
    return re;
}

// The code point a numeric reference names, or nothing when the number does not fit 32 bits
// or is not a Unicode scalar value.
std::optional<char32_t> scalarValue(QStringView digits)
{
    const bool hex = digits.startsWith(u'x');
    if (hex)
        digits = digits.mid(1);
    const quint64 base = hex ? 16 : 10;
    quint64 value = 0;
    for (QChar c : digits) {
        const int digit = c.isDigit() ? c.unicode() - u'0' : (c.toLower().unicode() - u'a' + 10);
        value = value * base + quint64(digit);
        if (value > std::numeric_limits<quint32>::max())
            return std::nullopt;
    }
    if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return std::nullopt;
    return char32_t(value);
}

void decodeNumericReferences(QString &text)
{
    QList<QRegularExpressionMatch> matches;
    for (auto it = numericReference().globalMatch(text); it.hasNext();)
        matches.append(it.next());
    // Last to first: each replacement leaves the offsets of the earlier matches valid.
    for (auto m = matches.crbegin(); m != matches.crend(); ++m) {
        const auto code = scalarValue(m->capturedView(1));
        if (!code)
            continue;
        const char32_t c = *code;
        text.replace(m->capturedStart(0), m->capturedLength(0), QString::fromUcs4(&c, 1));
    }
}

void decodeNamedReferences(QString &text)
{
    // "&amp;" comes last so that "&amp;lt;" ends as "&lt;", not "<".
    static const std::array<std::pair<QLatin1String, QLatin1String>, 5> references{{
        {QLatin1String("&lt;"), QLatin1String("<")},
        {QLatin1String("&gt;"), QLatin1String(">")},
        {QLatin1String("&quot;"), QLatin1String("\"")},
        {QLatin1String("&apos;"), QLatin1String("'")},
        {QLatin1String("&amp;"), QLatin1String("&")},
    }};
    for (const auto &[reference, replacement] : references)
        text.replace(reference, replacement, Qt::CaseSensitive);
}

bool isWhiteSpaceOrNewline(QChar c)
{
    return c.isSpace() || c == QChar(0x85) || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
}

QString trimmed(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isWhiteSpaceOrNewline(text.at(begin)))
        ++begin;
    while (end > begin && isWhiteSpaceOrNewline(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

QString decode(const QString &document)
{
    static const QLatin1String open("<p>");
    static const QLatin1String close("</p>");
    const qsizetype openAt = document.indexOf(open, 0, Qt::CaseInsensitive);
    if (openAt < 0)
        return {};
    const qsizetype bodyStart = openAt + open.size();
    const qsizetype closeAt = document.indexOf(close, bodyStart, Qt::CaseInsensitive);
    if (closeAt < 0)
        return {};

    QString text = document.mid(bodyStart, closeAt - bodyStart);
    text.replace(lineBreakTag(), QStringLiteral("\n"));
    text.remove(anyTag());
    decodeNumericReferences(text);
    decodeNamedReferences(text);
    return trimmed(text);
}

} // namespace velmora::updates::ReleaseNotesText
