#pragma once

// Shared pieces of the fuzz targets. Each target defines LLVMFuzzerTestOneInput, and
// LLVMFuzzerInitialize when it needs set-up (FuzzSupport.cpp gives a default that does
// nothing); libFuzzer calls them when the target is built as a fuzzer, and FuzzReplay.cpp
// calls them for every corpus entry in the ordinary test suite.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace velmora::fuzz {

// The input without copying; valid for the duration of one call.
inline QByteArray bytesOf(const uint8_t *data, size_t size)
{
    return QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
}

// The input read as UTF-8, ill-formed sequences replaced, as Qt reads text from outside.
inline QString textOf(const uint8_t *data, size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
}

// A broken property is a finding like a crash: say which and stop, so that libFuzzer keeps
// the input and the replay test fails.
[[noreturn]] inline void fail(const char *property)
{
    std::fprintf(stderr, "fuzz property violated: %s\n", property);
    std::fflush(stderr);
    std::abort();
}

inline void check(bool holds, const char *property)
{
    if (!holds)
        fail(property);
}

} // namespace velmora::fuzz
