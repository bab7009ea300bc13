#include "app/ShutdownGuard.h"

#include "backend/BackendController.h"
#include "platform/Process.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdlib>

namespace velmora::app {

namespace {

// The signals that end the process on the spot, most with a core dump.
constexpr int fatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGSYS, SIGQUIT};
struct sigaction previousActions[NSIG];

// A crash may come from an exhausted stack: the handler needs one of its own.
alignas(16) char alternateStack[64 * 1024];

extern "C" void onFatalSignal(int signalNumber)
{
    platform::requestTerminationOfChildren();
    // Then whatever the signal would have done without us: delivered once this returns (at
    // once, for a fault that repeats itself).
    ::sigaction(signalNumber, &previousActions[signalNumber], nullptr);
    ::raise(signalNumber);
}

extern "C" void onExit()
{
    platform::requestTerminationOfChildren();
}

void installProcessHandlers()
{
    stack_t stack = {};
    stack.ss_sp = alternateStack;
    stack.ss_size = sizeof alternateStack;
    ::sigaltstack(&stack, nullptr);

    struct sigaction action = {};
    action.sa_handler = onFatalSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_ONSTACK;
    for (int signalNumber : fatalSignals)
        ::sigaction(signalNumber, &action, &previousActions[signalNumber]);
    std::atexit(onExit);
}

} // namespace

ShutdownGuard::ShutdownGuard(QCoreApplication &app, backend::BackendController &backend, QObject *parent) : QObject(parent)
{
    connect(&m_terminationSignals, &TerminationSignals::received, &app, &QCoreApplication::quit);
    // A start still in progress ends first, while its waits can still be cut short: nothing of
    // it is left suspended once the event loop is gone.
    connect(&app, &QCoreApplication::aboutToQuit, &backend, &backend::BackendController::cancelStart);
    connect(&app, &QCoreApplication::aboutToQuit, &backend, &backend::BackendController::stop);

    static const bool installed = (installProcessHandlers(), true);
    Q_UNUSED(installed);
}

ShutdownGuard::~ShutdownGuard() = default;

} // namespace velmora::app
