// Runs every corpus entry of one fuzz target once through its LLVMFuzzerTestOneInput, so the
// ordinary test suite (with any compiler) keeps each fixed fault fixed.
//
//   fuzz_replay_<target>                 replay corpus/<target>/ and the generated inputs
//   fuzz_replay_<target> ENTRY...        replay only these entries, known failures included
//   fuzz_replay_<target> --write DIR     write the inputs into DIR instead (seeds for
//                                        libFuzzer), leaving out the known failures
//
// Entries are named <target>/<name>. They are the files in corpus/<target>/ and the lines for
// <target> in generated-inputs.txt, which describe inputs too large to keep as files:
//
//   <target>/<name>  <term> <term> ...
//
// Each term is a piece of text, or <count>:<piece> for the piece repeated count times; the
// input is the terms one after the other. A piece is taken as it stands except for the escapes
// \s (space), \n, \t, \\ and \xHH (any byte).
//
// Each input has a bound like libFuzzer's -timeout: one that runs longer than inputBound (far
// beyond what a linear reader needs for the largest input, even instrumented) ends the replay
// as a failure, so a reader that turns quadratic again does not pass unnoticed.
//
// known-failures.txt lists entries, one a line, that still fail on the current code; they are
// skipped with a message until their fault is fixed and the line is removed.

#include "FuzzSupport.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string target = VELMORA_FUZZ_TARGET;
const fs::path fuzzDirectory = VELMORA_FUZZ_DIR;
constexpr std::chrono::seconds inputBound{60};

[[noreturn]] void fatal(const std::string &message)
{
    std::cerr << "fuzz_replay_" << target << ": " << message << std::endl;
    std::exit(2);
}

std::string readFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        fatal("cannot read " + path.string());
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Lines without comments (from '#') and surrounding blanks; empty lines dropped.
std::vector<std::string> meaningfulLines(const fs::path &path)
{
    std::vector<std::string> lines;
    std::istringstream in(readFile(path));
    for (std::string line; std::getline(in, line);) {
        line = line.substr(0, line.find('#'));
        const auto begin = line.find_first_not_of(" \t\r");
        if (begin == std::string::npos)
            continue;
        const auto end = line.find_last_not_of(" \t\r");
        lines.push_back(line.substr(begin, end - begin + 1));
    }
    return lines;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string unescape(const std::string &piece, const std::string &entry)
{
    std::string out;
    for (size_t i = 0; i < piece.size(); ++i) {
        if (piece[i] != '\\') {
            out += piece[i];
            continue;
        }
        if (++i == piece.size())
            fatal(entry + ": a piece ends with a lone backslash");
        switch (piece[i]) {
        case 's':
            out += ' ';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case '\\':
            out += '\\';
            break;
        case 'x': {
            const int high = i + 1 < piece.size() ? hexValue(piece[i + 1]) : -1;
            const int low = i + 2 < piece.size() ? hexValue(piece[i + 2]) : -1;
            if (high < 0 || low < 0)
                fatal(entry + ": \\x needs two hexadecimal digits");
            out += char(high * 16 + low);
            i += 2;
            break;
        }
        default:
            fatal(entry + ": unknown escape \\" + piece[i]);
        }
    }
    return out;
}

std::string expand(const std::vector<std::string> &terms, const std::string &entry)
{
    std::string input;
    for (const std::string &term : terms) {
        const auto colon = term.find(':');
        const bool counted = colon != std::string::npos && colon > 0
                             && std::all_of(term.begin(), term.begin() + colon, [](char c) { return c >= '0' && c <= '9'; });
        const size_t count = counted ? std::stoul(term.substr(0, colon)) : 1;
        const std::string piece = unescape(counted ? term.substr(colon + 1) : term, entry);
        for (size_t i = 0; i < count; ++i)
            input += piece;
    }
    return input;
}

// Every entry of this target by name, in name order.
std::map<std::string, std::string> entries()
{
    std::map<std::string, std::string> inputs;
    const fs::path corpus = fuzzDirectory / "corpus" / target;
    if (fs::is_directory(corpus)) {
        for (const auto &file : fs::directory_iterator(corpus)) {
            if (file.is_regular_file())
                inputs[target + "/" + file.path().filename().string()] = readFile(file.path());
        }
    }
    for (const std::string &line : meaningfulLines(fuzzDirectory / "generated-inputs.txt")) {
        std::istringstream words(line);
        std::string entry;
        words >> entry;
        if (entry.rfind(target + "/", 0) != 0)
            continue;
        const std::vector<std::string> terms{std::istream_iterator<std::string>(words), {}};
        if (terms.empty())
            fatal(entry + ": a generated input needs at least one term");
        if (!inputs.emplace(entry, expand(terms, entry)).second)
            fatal(entry + ": generated and corpus file have the same name");
    }
    return inputs;
}

// Aborts the process when the input it watches runs past inputBound.
class Watchdog
{
public:
    explicit Watchdog(std::string entry)
        : m_thread([this, entry = std::move(entry)] {
            std::unique_lock lock(m_mutex);
            if (!m_done.wait_for(lock, inputBound, [this] { return m_finished; })) {
                std::cerr << "fuzz_replay_" << target << ": " << entry << " ran longer than " << inputBound.count()
                          << " s (quadratic time or a hang)" << std::endl;
                std::abort();
            }
        })
    {}

    ~Watchdog()
    {
        {
            std::lock_guard lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_one();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread;
};

std::set<std::string> knownFailures()
{
    const std::vector<std::string> lines = meaningfulLines(fuzzDirectory / "known-failures.txt");
    return {lines.begin(), lines.end()};
}

} // namespace

int main(int argc, char **argv)
{
    const std::map<std::string, std::string> inputs = entries();
    const std::set<std::string> known = knownFailures();
    for (const std::string &entry : known) {
        if (entry.rfind(target + "/", 0) == 0 && !inputs.count(entry))
            fatal("known-failures.txt names " + entry + ", which is no corpus entry");
    }

    if (argc == 3 && std::string(argv[1]) == "--write") {
        const fs::path directory = argv[2];
        fs::create_directories(directory);
        for (const auto &[entry, input] : inputs) {
            if (known.count(entry))
                continue;
            std::ofstream out(directory / entry.substr(target.size() + 1), std::ios::binary);
            out.write(input.data(), std::streamsize(input.size()));
            if (!out)
                fatal("cannot write " + (directory / entry).string());
        }
        return 0;
    }
    std::set<std::string> chosen;
    for (int i = 1; i < argc; ++i) {
        if (!inputs.count(argv[i]))
            fatal(std::string("no corpus entry ") + argv[i] + " (entries are named " + target + "/<name>)");
        chosen.insert(argv[i]);
    }
    if (inputs.empty())
        fatal("no corpus entries for " + target);

    int initArgc = 1;
    char **initArgv = argv;
    LLVMFuzzerInitialize(&initArgc, &initArgv);
    int replayed = 0;
    int skipped = 0;
    for (const auto &[entry, input] : inputs) {
        if (!chosen.empty() && !chosen.count(entry))
            continue;
        if (chosen.empty() && known.count(entry)) {
            std::cout << "SKIP   " << entry << ": known failure, listed in known-failures.txt until its fault is fixed"
                      << std::endl;
            ++skipped;
            continue;
        }
        // Named before it runs, so a crash points at its input.
        std::cout << "REPLAY " << entry << " (" << input.size() << " bytes)" << std::endl;
        {
            const Watchdog watchdog(entry);
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.data()), input.size());
        }
        ++replayed;
    }
    std::cout << "Replayed " << replayed << " inputs of " << target << ", skipped " << skipped << std::endl;
    return 0;
}
