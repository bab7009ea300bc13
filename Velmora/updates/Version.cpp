#include "updates/Version.h"

#include <QList>
#include <QString>

// Each version is turned into a key (release numbers, then a list of runs ending in an end
// mark) and keys are compared lexicographically over a total order of their elements, which
// makes the comparison a strict weak ordering by construction. The framework's comparator
// instead pads the shorter release with the other version's parts pair by pair; on the versions
// it is made for (digits and single periods first) that gives the same answers as the key,
// and on odd ones (".5", "1..2", a leading dash) it can contradict itself, where the key keeps
// one consistent answer.

namespace velmora::updates {
namespace {

// Ordered as they rank against each other where two versions first differ in kind.
enum class RunKind { Word, End, Separator, Number };

struct Run
{
    RunKind kind;
    QString text; // a number keeps its ASCII digits without leading zeros ("" for zero)
};

struct VersionKey
{
    QList<QString> release; // numbers as in Run::text, trailing zeros dropped
    QList<Run> remainder;   // always ends with one End run
};

bool isSeparator(QChar c)
{
    return c.isSpace() || c.isPunct();
}

void appendDigit(QString &number, QChar c)
{
    // Digits of any script count by their value; leading zeros do not count.
    const int digit = c.digitValue();
    if (!(number.isEmpty() && digit == 0))
        number.append(QChar(u'0' + digit));
}

VersionKey keyOf(QStringView version)
{
    // A dash after the first character starts a build or commit note, which is not compared.
    const qsizetype dash = version.indexOf(u'-', 1);
    if (dash > 0)
        version = version.left(dash);

    VersionKey key;
    qsizetype i = 0;
    if (i < version.size() && (version[i].isDigit() || version[i] == u'.')) {
        key.release.append(QString());
        for (; i < version.size() && (version[i].isDigit() || version[i] == u'.'); ++i) {
            if (version[i] == u'.')
                key.release.append(QString());
            else
                appendDigit(key.release.last(), version[i]);
        }
        while (!key.release.isEmpty() && key.release.last().isEmpty())
            key.release.removeLast();
    }

    while (i < version.size()) {
        const QChar c = version[i];
        if (c.isDigit()) {
            Run run{RunKind::Number, {}};
            for (; i < version.size() && version[i].isDigit(); ++i)
                appendDigit(run.text, version[i]);
            key.remainder.append(run);
        } else if (isSeparator(c)) {
            key.remainder.append(Run{RunKind::Separator, {}});
            ++i;
        } else {
            const qsizetype start = i;
            while (i < version.size() && !version[i].isDigit() && !isSeparator(version[i]))
                ++i;
            key.remainder.append(Run{RunKind::Word, version.mid(start, i - start).toString()});
        }
    }
    key.remainder.append(Run{RunKind::End, {}});
    return key;
}

std::weak_ordering fromInt(int order)
{
    return order < 0 ? std::weak_ordering::less : order > 0 ? std::weak_ordering::greater : std::weak_ordering::equivalent;
}

std::weak_ordering compareNumbers(const QString &a, const QString &b)
{
    // Both are free of leading zeros, so the longer one is larger; no overflow for long runs.
    if (a.size() != b.size())
        return a.size() < b.size() ? std::weak_ordering::less : std::weak_ordering::greater;
    return fromInt(a.compare(b));
}

std::weak_ordering compareRelease(const QList<QString> &a, const QList<QString> &b)
{
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i) {
        const std::weak_ordering order = compareNumbers(a.at(i), b.at(i));
        if (order != 0)
            return order;
    }
    // Trailing zeros were dropped, so a longer release has a non-zero part further on.
    return fromInt(int(a.size() > common) - int(b.size() > common));
}

std::weak_ordering compareRuns(const Run &a, const Run &b)
{
    if (a.kind != b.kind)
        return a.kind < b.kind ? std::weak_ordering::less : std::weak_ordering::greater;
    switch (a.kind) {
    case RunKind::Number:
        return compareNumbers(a.text, b.text);
    case RunKind::Word:
        return fromInt(a.text.compare(b.text, Qt::CaseSensitive));
    case RunKind::Separator:
    case RunKind::End:
        break;
    }
    return std::weak_ordering::equivalent;
}

} // namespace

std::weak_ordering compareVersions(QStringView a, QStringView b)
{
    const VersionKey keyA = keyOf(a);
    const VersionKey keyB = keyOf(b);
    if (const std::weak_ordering order = compareRelease(keyA.release, keyB.release); order != 0)
        return order;
    // Both remainders end with End, which equals only End: the loop stops at or before it.
    for (qsizetype i = 0;; ++i) {
        const std::weak_ordering order = compareRuns(keyA.remainder.at(i), keyB.remainder.at(i));
        if (order != 0 || keyA.remainder.at(i).kind == RunKind::End)
            return order;
    }
}

} // namespace velmora::updates
