// Writes one line to standard output and one to standard error, then exits with status 3:
// a backend that dies at start.
#include <cstdio>

int main()
{
    std::fputs("exit_at_once: starting\n", stdout);
    std::fputs("exit_at_once: ModuleNotFoundError: no module named 'src'\n", stderr);
    return 3;
}
