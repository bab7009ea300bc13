// Launches the program its arguments name through Velmora's process launcher, from its main
// thread, as the application launches its backend; prints "launch_and_wait: launched PID" and
// then waits to be killed. The child keeps this program's standard output and working
// directory.
#include "platform/Process.h"

#include <QDir>

#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fputs("usage: launch_and_wait PROGRAM [ARGUMENT...]\n", stderr);
        return 2;
    }
    velmora::platform::ProcessDescription description;
    description.executable = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i)
        description.arguments << QString::fromLocal8Bit(argv[i]);
    description.workingDirectory = QDir::currentPath();
    description.environment = QProcessEnvironment::systemEnvironment();
    const auto launched = velmora::platform::ProcessLauncher::system().launch(description);
    if (!launched.process) {
        std::fprintf(stderr, "launch_and_wait: %s\n", qPrintable(launched.error));
        return 1;
    }
    std::printf("launch_and_wait: launched %lld\n", launched.process->pid());
    std::fflush(stdout);
    for (;;)
        ::pause();
}
