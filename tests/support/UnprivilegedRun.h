#pragma once

#include "TestSupport.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#include <unistd.h>

namespace velmora::test {

namespace unprivileged {

// The test program, and the sanitizers' suppression files its environment names, copied into a
// folder that nobody can reach: the build may lie under a folder closed to other users (a clone
// in a private temporary folder). Answers the environment that names the copies.
inline std::optional<QProcessEnvironment> copyReachable(const QTemporaryDir &folder, QProcessEnvironment environment,
                                                        QString &program)
{
    const QFileDevice::Permissions open = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                          | QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther
                                          | QFileDevice::ExeOther;
    if (!folder.isValid() || !QFile::setPermissions(folder.path(), open))
        return std::nullopt;
    program = folder.filePath(QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    if (!QFile::copy(QCoreApplication::applicationFilePath(), program) || !QFile::setPermissions(program, open))
        return std::nullopt;
    static const QRegularExpression suppressions(QStringLiteral("suppressions=([^:]+)"));
    for (const QString &name :
         {QStringLiteral("ASAN_OPTIONS"), QStringLiteral("LSAN_OPTIONS"), QStringLiteral("UBSAN_OPTIONS")}) {
        QString options = environment.value(name);
        const QRegularExpressionMatch match = suppressions.match(options);
        if (!match.hasMatch())
            continue;
        const QString copy = folder.filePath(name + QStringLiteral(".supp"));
        if (!QFile::copy(match.captured(1), copy) || !QFile::setPermissions(copy, open & ~QFileDevice::ExeOther))
            return std::nullopt;
        environment.insert(name, options.replace(match.capturedStart(1), match.capturedLength(1), copy));
    }
    return environment;
}

} // namespace unprivileged

// Root reads and lists everything, so a case about a refused read proves nothing run as root,
// the way CI runs. Such a case calls this first: as root it runs the same test function again
// in a child process of this test program (a copy that nobody can reach) as the unprivileged
// user nobody (setpriv) and answers whether that run passed, printing its output when it did
// not; as any other user it answers nothing and the case goes on in this process.
inline std::optional<bool> rerunUnprivilegedIfRoot()
{
    if (::geteuid() != 0)
        return std::nullopt;
    QProcess child;
    child.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // Root's own temporary folder may be closed to nobody.
    environment.insert(QStringLiteral("TMPDIR"), QStringLiteral("/tmp"));
    const QTemporaryDir reachable(QStringLiteral("/tmp/velmora-unprivileged-XXXXXX"));
    QString program;
    const std::optional<QProcessEnvironment> copied = unprivileged::copyReachable(reachable, environment, program);
    if (!copied) {
        qWarning("the test program could not be copied where the unprivileged user reaches it");
        return false;
    }
    child.setProcessEnvironment(*copied);
    child.start(QStringLiteral("setpriv"),
                {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups"),
                 QStringLiteral("--"), program, QString::fromLatin1(QTest::currentTestFunction())});
    if (!child.waitForFinished(patience)) {
        qWarning().noquote() << "the unprivileged run did not end within" << patience << "ms:" << child.errorString();
        child.kill();
        child.waitForFinished();
        return false;
    }
    const bool passed = child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
    if (!passed)
        qWarning().noquote() << "the unprivileged run failed:\n" << child.readAll();
    return passed;
}

} // namespace velmora::test
