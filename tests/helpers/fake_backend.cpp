// A stand-in backend: serves GET /healthz on 127.0.0.1:$VELMORA_DESKTOP_PORT as a healthy
// Velmora backend whose parent is $VELMORA_DESKTOP_PARENT_PID, and exits on SIGTERM (or
// SIGINT). It does not watch its parent.
//
// It writes its pid and what it was started with (working directory, arguments, a few
// variables) to standard output, so a test can read the launch description back from the log.
// Optional:
//   FAKE_BACKEND_SIGNAL_FILE      append one "SIGTERM" line per termination request there
//   FAKE_BACKEND_UNHEALTHY_PROBES answer "ok": false to this many probes first
//   FAKE_BACKEND_EXIT_AFTER       leave the port and exit after answering this many requests
//   FAKE_BACKEND_KEEP_RUNNING     "1": stay up after termination requests, recording each as
//                                 it comes, until SIGINT (a backend slow to shut down, with
//                                 which a test can tell one request from two)
//   FAKE_BACKEND_LISTEN_WHEN      a path: start listening only once a file exists there (a
//                                 backend slow to come up, whose moment the test decides)
//   FAKE_BACKEND_BUSY             "1": report work in progress (GET /api/update-status)
//   FAKE_BACKEND_LINGER_MS        stay up this long after the first termination request,
//                                 recording every further one, then exit (a backend that winds
//                                 down slowly, as many servers do)
// Its first line after the pid names the descriptors it was started with:
//   fake_backend: fds 0 1 2
// and each request for its page ("/", a small HTML page) is logged as
//   fake_backend: page requested
// Plain POSIX sockets: helpers link only QtCore.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

static volatile std::sig_atomic_t terminations = 0;
static volatile std::sig_atomic_t interrupted = 0;

static void onTerm(int)
{
    terminations = terminations + 1;
}

static void onInt(int)
{
    interrupted = 1;
}

// Appends a line for each request counted since the last call.
static void recordTerminations(int &recorded)
{
    const char *record = std::getenv("FAKE_BACKEND_SIGNAL_FILE");
    const int count = terminations;
    if (record && *record && count > recorded) {
        if (FILE *f = std::fopen(record, "a")) {
            for (int i = recorded; i < count; ++i)
                std::fputs("SIGTERM\n", f);
            std::fclose(f);
        }
    }
    recorded = count;
}

static const char *env(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

// False when the connection closed before a whole request came (a mere connection test).
static bool answer(int client, bool healthy)
{
    std::string request;
    char buffer[1024];
    while (request.find("\r\n\r\n") == std::string::npos) {
        const ssize_t n = ::read(client, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        request.append(buffer, size_t(n));
    }
    const bool isHealth = request.rfind("GET /healthz ", 0) == 0;
    std::string body;
    std::string status = "200 OK";
    std::string type = "application/json";
    if (request.rfind("GET / ", 0) == 0) {
        // A page to show, so that a window has something loaded.
        std::printf("fake_backend: page requested\n");
        std::fflush(stdout);
        type = "text/html; charset=utf-8";
        body = "<!doctype html><title>fake_backend</title><p>fake_backend</p>";
    } else if (request.rfind("GET /api/update-status ", 0) == 0 && *env("FAKE_BACKEND_BUSY")) {
        body = "{\"busy\": true}";
    } else if (isHealth) {
        body = std::string("{\"app\":\"Velmora\",\"ok\":") + (healthy ? "true" : "false") + ",\"desktop_parent_pid\":\""
               + env("VELMORA_DESKTOP_PARENT_PID") + "\"}";
    } else {
        status = "404 Not Found";
        body = "{}";
    }
    const std::string response = "HTTP/1.1 " + status + "\r\nContent-Type: " + type + "\r\n"
                                 + "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    (void)!::write(client, response.data(), response.size());
    return true;
}

// The descriptors this process holds, in the order the system lists them.
static std::string openDescriptors()
{
    std::string list;
    DIR *dir = ::opendir("/proc/self/fd");
    if (!dir)
        return "?";
    const int own = ::dirfd(dir);
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == own)
            continue;
        list += (list.empty() ? "" : " ") + std::string(entry->d_name);
    }
    ::closedir(dir);
    return list;
}

static long long nowMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

int main(int argc, char **argv)
{
    // Both signals stay blocked except inside ppoll(), so that one landing between a check
    // and the wait is not lost.
    sigset_t handled, waiting;
    sigemptyset(&handled);
    sigaddset(&handled, SIGTERM);
    sigaddset(&handled, SIGINT);
    sigprocmask(SIG_BLOCK, &handled, &waiting);
    sigdelset(&waiting, SIGTERM);
    sigdelset(&waiting, SIGINT);
    struct sigaction action
    {};
    sigemptyset(&action.sa_mask);
    action.sa_handler = onTerm;
    sigaction(SIGTERM, &action, nullptr);
    action.sa_handler = onInt;
    sigaction(SIGINT, &action, nullptr);

    std::printf("fake_backend: pid %d\n", int(::getpid()));
    std::printf("fake_backend: fds %s\n", openDescriptors().c_str());
    char cwd[4096] = {};
    if (!::getcwd(cwd, sizeof cwd))
        cwd[0] = 0;
    std::printf("fake_backend: cwd=%s\n", cwd);
    std::printf("fake_backend: args=");
    for (int i = 1; i < argc; ++i)
        std::printf(i == 1 ? "%s" : " %s", argv[i]);
    std::printf("\n");
    std::printf("fake_backend: host=%s port=%s\n", env("VELMORA_DESKTOP_HOST"), env("VELMORA_DESKTOP_PORT"));
    std::fflush(stdout);

    const int port = std::atoi(env("VELMORA_DESKTOP_PORT"));
    int unhealthy = std::atoi(env("FAKE_BACKEND_UNHEALTHY_PROBES"));
    const int exitAfter = std::atoi(env("FAKE_BACKEND_EXIT_AFTER"));
    const bool keepRunning = std::strcmp(env("FAKE_BACKEND_KEEP_RUNNING"), "1") == 0;
    const long long lingerMs = std::atoll(env("FAKE_BACKEND_LINGER_MS"));
    long long lingerUntil = -1;
    int answered = 0;
    int recorded = 0;

    if (const char *when = env("FAKE_BACKEND_LISTEN_WHEN"); *when) {
        std::printf("fake_backend: waiting to listen\n");
        std::fflush(stdout);
        const timespec step{0, 2'000'000};
        while (::access(when, F_OK) != 0) {
            if (::pselect(0, nullptr, nullptr, nullptr, &step, &waiting) < 0 && (interrupted || terminations > 0)) {
                std::printf("fake_backend: stopped\n");
                return 0;
            }
        }
    }

    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(server, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(server, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || ::listen(server, 16) != 0) {
        std::fprintf(stderr, "fake_backend: cannot listen on port %d: %s\n", port, std::strerror(errno));
        return 2;
    }
    std::printf("fake_backend: listening\n");
    std::fflush(stdout);

    for (;;) {
        if (keepRunning || lingerMs > 0)
            recordTerminations(recorded);
        if (lingerMs > 0 && terminations > 0 && lingerUntil < 0)
            lingerUntil = nowMs() + lingerMs;
        if (interrupted || (terminations > 0 && !keepRunning && lingerMs <= 0))
            break;
        if (lingerUntil >= 0 && nowMs() >= lingerUntil)
            break;
        pollfd incoming{server, POLLIN, 0};
        timespec step{0, 50'000'000};
        if (::ppoll(&incoming, 1, lingerUntil >= 0 ? &step : nullptr, &waiting) <= 0)
            continue;
        const int client = ::accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        const bool answered_ = answer(client, unhealthy <= 0);
        if (answered_ && unhealthy > 0)
            --unhealthy;
        ::close(client);
        if (answered_ && exitAfter > 0 && ++answered >= exitAfter)
            break;
    }

    ::close(server);
    // Requests still pending come in now.
    sigprocmask(SIG_UNBLOCK, &handled, nullptr);
    recordTerminations(recorded);
    std::printf("fake_backend: stopped\n");
    return 0;
}
