#pragma once

// Reading freedesktop desktop entries (the .desktop files by which desktops find and start
// applications): the keys of the "Desktop Entry" group that starting an application needs,
// and the program and arguments of its Exec line.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace velmora::platform {

struct DesktopEntry
{
    QString type;
    QString name;
    QString icon;
    QString exec;
    QString tryExec;
    QString path; // working directory
    // A hidden entry counts as deleted.
    bool hidden = false;
};

// The "Desktop Entry" group of data (UTF-8); nullopt when there is none. Values are
// unescaped (\s \n \t \r \\); localised keys are ignored; the first of repeated keys wins.
std::optional<DesktopEntry> parseDesktopEntry(const QByteArray &data);

// The program and its arguments from entry's Exec value, quoting undone, with no files
// given: %f %F %u %U and the deprecated codes are dropped, %i becomes "--icon" and the icon,
// %c the name, %k entryPath, %% a percent sign. nullopt for an empty line, an unterminated
// quote or a lone backslash at the end.
std::optional<QStringList> execArguments(const DesktopEntry &entry, const QString &entryPath);

} // namespace velmora::platform
