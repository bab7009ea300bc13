// Runs until it receives SIGTERM; counts the termination requests in the file named by its
// first argument (one line each) so a test can check how many were sent.
#include <csignal>
#include <cstdio>
#include <unistd.h>

static volatile std::sig_atomic_t terminated = 0;

static void onTerm(int)
{
    terminated = 1;
}

int main(int argc, char **argv)
{
    // SIGTERM stays blocked except inside sigsuspend(), so a request that lands between the
    // check and the wait is not lost (pause() would then sleep for ever).
    sigset_t term, waiting;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    sigprocmask(SIG_BLOCK, &term, &waiting);
    sigdelset(&waiting, SIGTERM);
    std::signal(SIGTERM, onTerm);
    std::printf("run_until_signal: pid %d\n", int(getpid()));
    std::fflush(stdout);
    while (!terminated)
        sigsuspend(&waiting);
    if (argc > 1) {
        if (FILE *f = std::fopen(argv[1], "a")) {
            std::fputs("SIGTERM\n", f);
            std::fclose(f);
        }
    }
    return 0;
}
