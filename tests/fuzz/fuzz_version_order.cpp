// Versions come from the update feed. compareVersions() must be a weak ordering, or the
// choice of the newest entry depends on the order of the feed.
//
// Input: three versions separated by line feeds (the third takes the rest of the input).

#include "FuzzSupport.h"

#include "updates/Version.h"

#include <array>

using namespace velmora;
using updates::compareVersions;

namespace {

int sign(std::weak_ordering order)
{
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString input = fuzz::textOf(data, size);
    std::array<QString, 3> versions;
    qsizetype from = 0;
    for (qsizetype i = 0; i < 2; ++i) {
        const qsizetype lineEnd = input.indexOf(QLatin1Char('\n'), from);
        if (lineEnd < 0) {
            versions[i] = input.mid(from);
            from = input.size();
            break;
        }
        versions[i] = input.mid(from, lineEnd - from);
        from = lineEnd + 1;
    }
    if (from < input.size())
        versions[2] = input.mid(from);

    std::array<std::array<int, 3>, 3> order{};
    for (int a = 0; a < 3; ++a) {
        for (int b = 0; b < 3; ++b)
            order[a][b] = sign(compareVersions(versions[a], versions[b]));
    }
    for (int a = 0; a < 3; ++a) {
        fuzz::check(order[a][a] == 0, "every version is equivalent to itself");
        for (int b = 0; b < 3; ++b) {
            fuzz::check(order[a][b] == -order[b][a], "antisymmetry: a < b exactly when b > a");
            for (int c = 0; c < 3; ++c) {
                if (order[a][b] < 0 && order[b][c] < 0)
                    fuzz::check(order[a][c] < 0, "transitivity of <");
                if (order[a][b] == 0 && order[b][c] == 0)
                    fuzz::check(order[a][c] == 0, "transitivity of ==");
                if (order[a][b] == 0 && order[b][c] < 0)
                    fuzz::check(order[a][c] < 0, "transitivity of == and <");
            }
        }
    }
    return 0;
}
