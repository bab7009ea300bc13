// velmora-child-watch: asks one child of Velmora to terminate, exactly once, on Velmora's
// behalf. Velmora starts it beside a child it launched, with
//
//   fd 3  one end of a socket pair whose other end only Velmora holds
//   fd 4  a pidfd of the child
//
// One byte from Velmora, or the end of the socket (Velmora ended, however: quit, crash,
// SIGKILL), makes it send the child one SIGTERM and exit. When the child exits first it exits
// too. It is the only sender of that request, so the child never gets a second one, which
// the kernel's parent-death signal cannot promise (it comes again as each thread of a
// multi-threaded parent ends). Plain POSIX and Linux calls: it links nothing of Qt.

#include <cerrno>
#include <csignal>

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr int controlFd = 3;
constexpr int childFd = 4;

void askChild()
{
#ifdef SYS_pidfd_send_signal
    // A pidfd names this very process even if its pid has been handed out again.
    ::syscall(SYS_pidfd_send_signal, childFd, SIGTERM, nullptr, 0);
#endif
}

} // namespace

int main()
{
    // Signals from the terminal are Velmora's to act on, not this program's.
    ::signal(SIGINT, SIG_IGN);
    ::signal(SIGHUP, SIG_IGN);
    ::signal(SIGQUIT, SIG_IGN);
    ::signal(SIGPIPE, SIG_IGN);
    // Whatever else Velmora had open is none of its business.
#ifdef SYS_close_range
    ::syscall(SYS_close_range, childFd + 1, ~0U, 0);
#endif

    pollfd watched[2] = {{controlFd, POLLIN, 0}, {childFd, POLLIN, 0}};
    for (;;) {
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            // Cannot watch: the safe side is the request Velmora would have made at its end.
            askChild();
            return 1;
        }
        if (watched[1].revents != 0)
            return 0; // the child has exited: nothing to ask
        if (watched[0].revents != 0) {
            // A byte (Velmora asks now) or the end of the socket (Velmora is gone) alike.
            askChild();
            return 0;
        }
    }
}
