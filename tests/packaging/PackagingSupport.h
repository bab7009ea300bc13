#pragma once

// What the tests of the installed Velmora share: running a command to its end, installing the
// packaged build into a folder, and a folder tree described entry by entry for comparisons.

#include "TestSupport.h"

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
        return (finished ? "exit code " + QByteArray::number(exitCode) : QByteArray("did not finish"))
            + ": " + err.right(2000);
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
    return runCommand(QStringLiteral(VELMORA_CMAKE_COMMAND),
                      {QStringLiteral("--install"), QStringLiteral(VELMORA_PACKAGED_BUILD_DIR),
                       QStringLiteral("--prefix"), prefix});
}

// One entry of a folder tree: its kind and permissions, and a file's content or a link's target.
struct TreeEntry
{
    QChar kind; // 'd' folder, 'f' file, 'l' link, '?' anything else
    QFile::Permissions permissions;
    QByteArray content;

    bool operator==(const TreeEntry &other) const = default;
};

// Every entry under root by its path relative to root; links are not followed.
inline QMap<QString, TreeEntry> describeTree(const QString &root)
{
    QMap<QString, TreeEntry> tree;
    const QDir base(root);
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        TreeEntry entry;
        entry.permissions = info.permissions();
        if (info.isSymLink()) {
            entry.kind = QLatin1Char('l');
            // The target as written, relative or not.
            const QByteArray path = QFile::encodeName(info.filePath());
            char target[4096];
            const ssize_t length = ::readlink(path.constData(), target, sizeof target);
            entry.content = length < 0 ? QByteArray() : QByteArray(target, length);
        } else if (info.isDir()) {
            entry.kind = QLatin1Char('d');
        } else if (info.isFile()) {
            entry.kind = QLatin1Char('f');
            QFile file(info.filePath());
            if (file.open(QIODevice::ReadOnly))
                entry.content = file.readAll();
        } else {
            entry.kind = QLatin1Char('?');
        }
        tree.insert(base.relativeFilePath(info.filePath()), entry);
    }
    return tree;
}

} // namespace velmora::test
