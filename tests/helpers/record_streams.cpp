// Writes where its standard input, output and error lead (one per line, as /proc shows them)
// and then its arguments to the file named by VELMORA_STREAMS_FILE (under a temporary name,
// renamed, so the file appears whole): a program Velmora starts and leaves to run.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

int main(int argc, char **argv)
{
    const char *target = std::getenv("VELMORA_STREAMS_FILE");
    if (!target)
        return 2;
    const std::string staging = std::string(target) + ".part";
    std::FILE *out = std::fopen(staging.c_str(), "w");
    if (!out)
        return 1;
    for (int fd = 0; fd < 3; ++fd) {
        char link[4096] = {};
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        const ssize_t length = ::readlink(path.c_str(), link, sizeof link - 1);
        std::fprintf(out, "%s\n", length > 0 ? link : "closed");
    }
    for (int i = 1; i < argc; ++i)
        std::fprintf(out, "%s\n", argv[i]);
    std::fclose(out);
    return std::rename(staging.c_str(), target) == 0 ? 0 : 1;
}
