#pragma once

#include "TestSupport.h"

#include <QCoreApplication>
#include <QDebug>
#include <QProcess>
#include <QTest>

#include <optional>

#include <unistd.h>

namespace velmora::test {

// Root reads and lists everything, so a case about a refused read proves nothing run as root,
// the way CI runs. Such a case calls this first: as root it runs the same test function again
// in a child process of this test program as the unprivileged user nobody (setpriv) and
// answers whether that run passed, printing its output when it did not; as any other user it
// answers nothing and the case goes on in this process.
inline std::optional<bool> rerunUnprivilegedIfRoot()
{
    if (::geteuid() != 0)
        return std::nullopt;
    QProcess child;
    child.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // Root's own temporary folder may be closed to nobody.
    environment.insert(QStringLiteral("TMPDIR"), QStringLiteral("/tmp"));
    child.setProcessEnvironment(environment);
    child.start(QStringLiteral("setpriv"),
                {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups"),
                 QStringLiteral("--"), QCoreApplication::applicationFilePath(),
                 QString::fromLatin1(QTest::currentTestFunction())});
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
