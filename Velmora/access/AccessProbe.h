#pragma once

// How Velmora tells whether it may read the user's files, per platform. The rules take the
// file-system root and the home directory as arguments so that each one can be tried against a
// staged tree on any host.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace velmora::access {

// The platforms whose access rules the probe knows.
enum class System { MacOS, Linux };

System currentSystem();

// The platform's own probe: probeAuthorization(currentSystem(), "/", the home directory).
bool probeAuthorization();
// The access rule of system.
bool probeAuthorization(System system, const QString &rootDirectory, const QString &homeDirectory);

// macOS: access is present when one of the privacy databases, tried in order, opens for reading
// as a regular file. Nothing is read from them.
QStringList privacyDatabasePaths(const QString &rootDirectory, const QString &homeDirectory);
bool opensAsRegularFile(const QStringList &candidates);

// Linux: outside a sandbox the user's files are reachable; inside Flatpak (its information file
// exists) only when the sandbox's file-system permissions expose the whole home.
bool sandboxExposesHome(const QString &flatpakInfoPath, const QString &homeDirectory);
// The same rule over the information file's content.
bool flatpakInfoExposesHome(const QByteArray &flatpakInfo, const QString &homeDirectory);

} // namespace velmora::access
