// Writes its working directory and arguments, one per line, to the file named by its first
// argument (written under a temporary name and renamed, so the file appears whole): an
// application started from a desktop entry.
#include <cstdio>
#include <string>

#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    const std::string target = argv[1];
    const std::string staging = target + ".part";
    std::FILE *out = std::fopen(staging.c_str(), "w");
    if (!out)
        return 1;
    char cwd[4096] = {};
    std::fprintf(out, "%s\n", ::getcwd(cwd, sizeof cwd) ? cwd : "");
    for (int i = 2; i < argc; ++i)
        std::fprintf(out, "%s\n", argv[i]);
    std::fclose(out);
    return std::rename(staging.c_str(), target.c_str()) == 0 ? 0 : 1;
}
