// Inside Flatpak, /.flatpak-info tells which of the user's folders the sandbox exposes. The
// file is written by the sandbox, but its lines come from the application's permissions and
// the user's overrides.

#include "FuzzSupport.h"

#include "access/AccessProbe.h"

using namespace velmora;

namespace {
const QString home = QStringLiteral("/home/velmora");
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray info = fuzz::bytesOf(data, size);
    const bool granted = access::flatpakInfoExposesHome(info, home);
    // Without a file-system permission the sandbox shows nothing of the home folder.
    if (granted)
        fuzz::check(info.contains("filesystems"), "access needs a file-system permission");
    return 0;
}
