#include "platform/DesktopEntry.h"

#include <utility>

namespace velmora::platform {
namespace {

QString unescapeValue(QStringView value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            out.append(c);
            continue;
        }
        const QChar next = value.at(++i);
        switch (next.unicode()) {
        case 's':
            out.append(QLatin1Char(' '));
            break;
        case 'n':
            out.append(QLatin1Char('\n'));
            break;
        case 't':
            out.append(QLatin1Char('\t'));
            break;
        case 'r':
            out.append(QLatin1Char('\r'));
            break;
        case '\\':
            out.append(QLatin1Char('\\'));
            break;
        default:
            // Not a value escape: left for the Exec quoting rules to read.
            out.append(c);
            out.append(next);
        }
    }
    return out;
}

// Splits an Exec value into words: separated by unquoted spaces; inside double quotes a
// backslash escapes ", `, $ and \.
std::optional<QStringList> splitExec(const QString &exec)
{
    QStringList words;
    QString word;
    bool inWord = false;
    bool quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (quoted) {
            if (c == QLatin1Char('"')) {
                quoted = false;
            } else if (c == QLatin1Char('\\')) {
                if (i + 1 == exec.size())
                    return std::nullopt;
                word.append(exec.at(++i));
            } else {
                word.append(c);
            }
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n')) {
            if (inWord)
                words.append(std::exchange(word, QString()));
            inWord = false;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
            inWord = true;
        } else if (c == QLatin1Char('\\')) {
            if (i + 1 == exec.size())
                return std::nullopt;
            word.append(exec.at(++i));
            inWord = true;
        } else {
            word.append(c);
            inWord = true;
        }
    }
    if (quoted)
        return std::nullopt;
    if (inWord)
        words.append(word);
    return words;
}

} // namespace

std::optional<DesktopEntry> parseDesktopEntry(const QByteArray &data)
{
    const QString text = QString::fromUtf8(data);
    DesktopEntry entry;
    bool inGroup = false;
    bool found = false;
    QStringList seen;
    for (QStringView line : QStringView(text).split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            // Only the first group named so is the entry; a later repeat is not read.
            inGroup = !found && line == QLatin1String("[Desktop Entry]");
            found = found || inGroup;
            continue;
        }
        if (!inGroup)
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed().toString();
        if (key.contains(QLatin1Char('[')) || seen.contains(key))
            continue;
        seen.append(key);
        const QString value = unescapeValue(line.mid(equals + 1).trimmed());
        if (key == QLatin1String("Type"))
            entry.type = value;
        else if (key == QLatin1String("Name"))
            entry.name = value;
        else if (key == QLatin1String("Icon"))
            entry.icon = value;
        else if (key == QLatin1String("Exec"))
            entry.exec = value;
        else if (key == QLatin1String("TryExec"))
            entry.tryExec = value;
        else if (key == QLatin1String("Path"))
            entry.path = value;
        else if (key == QLatin1String("Hidden"))
            entry.hidden = value == QLatin1String("true");
    }
    if (!found)
        return std::nullopt;
    return entry;
}

std::optional<QStringList> execArguments(const DesktopEntry &entry, const QString &entryPath)
{
    const std::optional<QStringList> words = splitExec(entry.exec);
    if (!words || words->isEmpty())
        return std::nullopt;
    QStringList arguments;
    for (const QString &word : *words) {
        // A field code standing alone may stand for nothing or for several arguments.
        if (word.size() == 2 && word.at(0) == QLatin1Char('%')) {
            switch (word.at(1).unicode()) {
            case 'i':
                if (!entry.icon.isEmpty())
                    arguments << QStringLiteral("--icon") << entry.icon;
                continue;
            case 'c':
                arguments << entry.name;
                continue;
            case 'k':
                arguments << entryPath;
                continue;
            case '%':
                arguments << QStringLiteral("%");
                continue;
            default:
                continue; // files, URLs and the deprecated codes: none are given
            }
        }
        QString expanded;
        for (qsizetype i = 0; i < word.size(); ++i) {
            const QChar c = word.at(i);
            if (c != QLatin1Char('%')) {
                expanded.append(c);
                continue;
            }
            if (i + 1 == word.size())
                break;
            const QChar code = word.at(++i);
            if (code == QLatin1Char('%'))
                expanded.append(c);
            else if (code == QLatin1Char('c'))
                expanded.append(entry.name);
            else if (code == QLatin1Char('k'))
                expanded.append(entryPath);
        }
        arguments << expanded;
    }
    if (arguments.isEmpty() || arguments.first().isEmpty())
        return std::nullopt;
    return arguments;
}

} // namespace velmora::platform
