#include "app/TerminationSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace velmora::app {

namespace {

int pipeFds[2] = {-1, -1};
// The pipe and the handlers were set up by catchEarly(), for the first instance to take over.
bool caughtEarly = false;
constexpr int handledSignals[] = {SIGTERM, SIGINT, SIGHUP};

extern "C" void writeSignalNumber(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds a wake-up; losing this byte loses nothing.
    [[maybe_unused]] const ssize_t written = ::write(pipeFds[1], &byte, 1);
    errno = savedErrno;
}

bool installHandlers()
{
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = writeSignalNumber;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : handledSignals)
        ::sigaction(signalNumber, &action, nullptr);
    return true;
}

} // namespace

void TerminationSignals::catchEarly()
{
    if (pipeFds[0] >= 0)
        return;
    caughtEarly = installHandlers();
}

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent)
{
    // A signal caught early waits in the pipe: the notifier finds it once the loop runs.
    const bool takenOver = std::exchange(caughtEarly, false);
    if (!takenOver && (pipeFds[0] >= 0 || !installHandlers())) {
        qWarning("termination signals: cannot set up the signal pipe");
        return;
    }
    m_notifier = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::drain);
}

TerminationSignals::~TerminationSignals()
{
    if (!m_notifier)
        return;
    for (int signalNumber : handledSignals)
        ::signal(signalNumber, SIG_DFL);
    delete m_notifier;
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
}

void TerminationSignals::drain()
{
    unsigned char bytes[16];
    ssize_t count;
    while ((count = ::read(pipeFds[0], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < count; ++i)
            emit received(bytes[i]);
    }
}

} // namespace velmora::app
