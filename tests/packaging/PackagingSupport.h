#pragma once

// What the tests of the installed Velmora share: running a command to its end and installing the
// packaged build into a folder.

#include "TestSupport.h"
#include "TreeSnapshot.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <csignal>

#include <sys/prctl.h>
#include <unistd.h>

namespace velmora::test {

// A command on a busy machine (an install, a packaging step) ends well within this.
inline constexpr int commandPatience = 12 * patience;

struct CommandResult
{
    bool finished = false; // ran and ended on its own within the patience
    int exitCode = -1;
    QByteArray out;
    QByteArray err;

    bool ok() const { return finished && exitCode == 0; }
    // For failure messages: how the command ended and what it said on standard error.
    QByteArray describe() const
    {
        return (finished ? "exit code " + QByteArray::number(exitCode) : QByteArray("did not finish")) + ": "
               + err.right(2000);
    }
};

inline CommandResult runCommand(const QString &program, const QStringList &arguments,
                                const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
                                int patience = commandPatience)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    CommandResult result;
    if (!process.waitForStarted(patience)) {
        result.err = process.errorString().toLocal8Bit();
        return result;
    }
    result.finished = process.waitForFinished(patience) && process.exitStatus() == QProcess::NormalExit;
    if (!result.finished && process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

// A child started through process gets a termination request when this test program ends, even
// when it ends without cleaning up (a fatal failure, a time-out): an X server or a velmora left
// running would outlive the test.
inline void endWithThisProcess(QProcess &process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

// `cmake --install` of the packaged build: the bundle, with prefix as its folder.
inline CommandResult installBundle(const QString &prefix)
{
    return runCommand(
        QStringLiteral(VELMORA_CMAKE_COMMAND),
        {QStringLiteral("--install"), QStringLiteral(VELMORA_PACKAGED_BUILD_DIR), QStringLiteral("--prefix"), prefix});
}

} // namespace velmora::test
