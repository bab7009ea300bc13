// The page names its downloads (a download attribute, a Content-Disposition header): the
// suggested name decides where the save panel starts. The engine's reasons for a failed
// transfer and the system's words for a failed file operation make the alert's description.

#include "FuzzSupport.h"

#include "workspace/BridgeRules.h"
#include "workspace/DownloadRules.h"

using namespace velmora;
using workspace::DownloadFailure;
using workspace::DownloadInterruptReason;

namespace {
const QString folder = QStringLiteral("/home/user/Texts");
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The whole input is a suggested name.
    const QString name = fuzz::textOf(data, size);
    const bool text = workspace::isTextFileName(name);
    fuzz::check(text == workspace::textFileExtensions.contains(workspace::pathExtension(name)),
                "a text file is one whose extension is a text extension");
    const QString start = workspace::saveStartFolder(name, folder);
    fuzz::check(start == (text ? folder : QString()), "only text files start in the text save directory");

    // Read again as a failure: its kind, the engine's reason, and the system's words.
    if (size >= 2) {
        const DownloadFailure failure{DownloadFailure::Kind(data[0] % 8), DownloadInterruptReason(data[1]),
                                      fuzz::textOf(data + 2, size - 2)};
        const QString description = workspace::downloadFailureDescription(failure);
        fuzz::check(!description.isEmpty(), "every failure is described");
        fuzz::check(!description.contains(QLatin1Char('\n')), "a description is one line");
        fuzz::check(description.size() <= 200 + failure.systemText.size(), "a description holds no more than its parts");
    }
    return 0;
}
