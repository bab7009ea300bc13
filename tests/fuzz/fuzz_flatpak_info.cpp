// Inside Flatpak, /.flatpak-info tells which of the user's folders the sandbox exposes. The
// file is written by the sandbox, but its lines come from the application's permissions and
// the user's overrides.

#include "FuzzSupport.h"

#include "access/FullDiskAccessGate.h"

#include <QTemporaryFile>

using namespace velmora;

namespace {

const QString home = QStringLiteral("/home/velmora");

// One file for the whole run, rewritten for every input: the gate reads a path.
QTemporaryFile &infoFile()
{
    static QTemporaryFile *file = [] {
        auto *f = new QTemporaryFile;
        if (!f->open())
            fuzz::fail("a temporary file can be created");
        return f;
    }();
    return *file;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    infoFile();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QTemporaryFile &file = infoFile();
    fuzz::check(file.resize(0) && file.seek(0), "the information file can be emptied");
    fuzz::check(file.write(reinterpret_cast<const char *>(data), qint64(size)) == qint64(size),
                "the information file can be written");
    fuzz::check(file.flush(), "the information file can be flushed");

    const bool granted = access::FullDiskAccessGate::sandboxExposesHome(file.fileName(), home);
    // Without a file-system permission the sandbox shows nothing of the home folder.
    if (granted)
        fuzz::check(fuzz::bytesOf(data, size).contains("filesystems"), "access needs a file-system permission");
    return 0;
}
