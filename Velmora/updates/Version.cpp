#include "updates/Version.h"

#include <QList>
#include <QString>

namespace velmora::updates {
namespace {

enum class PartKind { Number, Text, Separator };

struct Part
{
    PartKind kind;
    QString text; // a number keeps its ASCII digits without leading zeros ("" for zero)
};

PartKind kindOf(QChar c)
{
    if (c.isDigit())
        return PartKind::Number;
    if (c == u'.' || c.isSpace() || c.isPunct())
        return PartKind::Separator;
    return PartKind::Text;
}

QList<Part> split(QStringView version)
{
    QList<Part> parts;
    for (const QChar c : version) {
        const PartKind kind = kindOf(c);
        if (parts.isEmpty() || parts.last().kind != kind)
            parts.append(Part{kind, {}});
        Part &part = parts.last();
        if (kind == PartKind::Number) {
            // Digits of any script count by their value; leading zeros do not count.
            const int digit = c.digitValue();
            if (!(part.text.isEmpty() && digit == 0))
                part.text.append(QChar(u'0' + digit));
        } else {
            part.text.append(c);
        }
    }
    return parts;
}

std::weak_ordering compareNumbers(const QString &a, const QString &b)
{
    // Both are free of leading zeros, so the longer one is larger; no overflow for long runs.
    if (a.size() != b.size())
        return a.size() < b.size() ? std::weak_ordering::less : std::weak_ordering::greater;
    const int order = a.compare(b);
    return order < 0 ? std::weak_ordering::less
         : order > 0 ? std::weak_ordering::greater
                     : std::weak_ordering::equivalent;
}

std::weak_ordering compareParts(const Part &a, const Part &b)
{
    if (a.kind == b.kind) {
        switch (a.kind) {
        case PartKind::Number:
            return compareNumbers(a.text, b.text);
        case PartKind::Text: {
            const int order = a.text.compare(b.text, Qt::CaseSensitive);
            return order < 0 ? std::weak_ordering::less
                 : order > 0 ? std::weak_ordering::greater
                             : std::weak_ordering::equivalent;
        }
        case PartKind::Separator:
            return std::weak_ordering::equivalent;
        }
    }
    // A pre-release tag is older than anything else in its place.
    if (a.kind == PartKind::Text)
        return std::weak_ordering::less;
    if (b.kind == PartKind::Text)
        return std::weak_ordering::greater;
    // A number against a separator: the version that goes on with a number is the newer.
    return a.kind == PartKind::Number ? std::weak_ordering::greater : std::weak_ordering::less;
}

// How the rest of a longer version compares with nothing: zeros and separators are neutral,
// the first other part decides.
std::weak_ordering compareTail(const QList<Part> &parts, qsizetype from)
{
    for (qsizetype i = from; i < parts.size(); ++i) {
        const Part &part = parts.at(i);
        if (part.kind == PartKind::Text)
            return std::weak_ordering::less;
        if (part.kind == PartKind::Number && !part.text.isEmpty())
            return std::weak_ordering::greater;
    }
    return std::weak_ordering::equivalent;
}

} // namespace

std::weak_ordering compareVersions(QStringView a, QStringView b)
{
    const QList<Part> partsA = split(a);
    const QList<Part> partsB = split(b);
    const qsizetype common = std::min(partsA.size(), partsB.size());
    for (qsizetype i = 0; i < common; ++i) {
        const std::weak_ordering order = compareParts(partsA.at(i), partsB.at(i));
        if (order != 0)
            return order;
    }
    if (partsA.size() > common)
        return compareTail(partsA, common);
    if (partsB.size() > common) {
        const std::weak_ordering order = compareTail(partsB, common);
        return order < 0 ? std::weak_ordering::greater
             : order > 0 ? std::weak_ordering::less
                         : std::weak_ordering::equivalent;
    }
    return std::weak_ordering::equivalent;
}

} // namespace velmora::updates
