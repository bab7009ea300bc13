#include "platform/Relauncher.h"

#include "platform/ExecArguments.h"
#include "platform/SystemError.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

#include <cerrno>
#include <vector>

#include <unistd.h>

namespace velmora::platform {

void Relauncher::relaunch(std::function<void(RelaunchResult)> completion)
{
    RelaunchResult result;
    const QString program = m_program.isEmpty() ? QCoreApplication::applicationFilePath() : m_program;
    if (program.isEmpty()) {
        result.error = QStringLiteral("The application's executable could not be found.");
        completion(result);
        return;
    }

    QProcess process;
    process.setProgram(program);
    process.setArguments(m_program.isEmpty() ? QCoreApplication::arguments().mid(1) : m_arguments);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(relaunchedFromVariable), QString::number(QCoreApplication::applicationPid()));
    process.setProcessEnvironment(environment);
    qint64 pid = 0;
    if (process.startDetached(&pid))
        result.processId = pid;
    else
        result.error = process.errorString();
    completion(result);
}

QString Relauncher::replaceProcess(const QString &program, const QStringList &arguments)
{
    const ExecArguments argv(ExecArguments::commandLine(program, arguments));
    ::execv(argv.first(), argv.data());
    return systemErrorText(errno);
}

Relauncher &Relauncher::system()
{
    static Relauncher relauncher;
    return relauncher;
}

} // namespace velmora::platform
