// Claims the single instance in FOLDER, as a launch of Velmora does, and says how it went on
// standard output: "running", "handed-over", "not-answered" or "unavailable". The running
// instance stays, printing "reopen" for each request it takes, until SIGTERM; the others end
// at once (0 when handed over, 1 otherwise). VELMORA_RELAUNCHED_FROM is honoured.
#include "platform/ProcessInfo.h"
#include "platform/SingleInstance.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

using velmora::platform::SingleInstance;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fputs("usage: claim_instance FOLDER\n", stderr);
        return 2;
    }
    // SIGTERM ends the event loop, so the instance goes the ordinary way.
    std::signal(SIGTERM, [](int) { std::_Exit(0); });

    SingleInstance instance(QString::fromLocal8Bit(argv[1]), QStringLiteral("claim-test"));
    const auto claim = instance.claim(
        velmora::platform::relaunchedFrom(velmora::platform::ProcessInfo::current().environment()));
    switch (claim) {
    case SingleInstance::Claim::Running:
        std::puts("running");
        break;
    case SingleInstance::Claim::HandedOver:
        std::puts("handed-over");
        return 0;
    case SingleInstance::Claim::NotAnswered:
        std::puts("not-answered");
        return 1;
    case SingleInstance::Claim::Unavailable:
        std::printf("unavailable %s\n", qPrintable(instance.errorString()));
        return 1;
    }
    std::fflush(stdout);
    QObject::connect(&instance, &SingleInstance::reopenRequested, [] {
        std::puts("reopen");
        std::fflush(stdout);
    });
    return app.exec();
}
