#include "platform/ApplicationLauncher.h"

#include "platform/DesktopEntry.h"
#include "platform/DetachedStart.h"
#include "platform/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace velmora::platform {
namespace {

// An absolute program as it stands, a bare name through PATH.
QString resolveProgram(const QString &program)
{
    if (QDir::isAbsolutePath(program))
        return isExecutableFile(program) ? program : QString();
    return QStandardPaths::findExecutable(program);
}

} // namespace

QString ApplicationLauncher::desktopEntryFile(const QString &applicationId)
{
    if (applicationId.isEmpty() || applicationId.contains(QLatin1Char('/')))
        return {};
    return QStandardPaths::locate(QStandardPaths::ApplicationsLocation, applicationId + QStringLiteral(".desktop"));
}

bool ApplicationLauncher::openApplication(const QString &applicationId)
{
    const QString file = desktopEntryFile(applicationId);
    if (file.isEmpty())
        return false;
    QFile source(file);
    if (!source.open(QIODevice::ReadOnly))
        return false;
    // An entry is a few kilobytes; more than this is not one.
    const std::optional<DesktopEntry> entry = parseDesktopEntry(source.read(1024 * 1024));
    if (!entry || entry->hidden || entry->type != QLatin1String("Application"))
        return false;
    if (!entry->tryExec.isEmpty() && resolveProgram(entry->tryExec).isEmpty())
        return false;
    const std::optional<QStringList> arguments = execArguments(*entry, file);
    if (!arguments)
        return false;
    const QString program = resolveProgram(arguments->first());
    if (program.isEmpty())
        return false;
    const QString workingDirectory = QDir(entry->path).exists() ? entry->path : QString();
    return startDetachedQuietly(program, arguments->mid(1), workingDirectory);
}

ApplicationLauncher &ApplicationLauncher::system()
{
    static ApplicationLauncher launcher;
    return launcher;
}

} // namespace velmora::platform
