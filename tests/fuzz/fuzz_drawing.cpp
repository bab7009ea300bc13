// QT_QUICK_BACKEND, QSG_RHI_BACKEND, QT_XCB_GL_INTEGRATION, LIBGL_ALWAYS_SOFTWARE and
// QTWEBENGINE_CHROMIUM_FLAGS come from the user's session, the arguments from the command line.

#include "FuzzSupport.h"

#include "app/DesktopDefaults.h"

#include <QList>

using namespace velmora;

// Input: one line each for the Qt Quick backend, the graphics API, the GL integration, the
// software GL switch and the engine's flags; every further line is an argument. The first
// byte, when present, says whether a GPU device exists (its lowest bit).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray input(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    QList<QByteArray> lines = input.split('\n');
    const auto take = [&lines] { return lines.isEmpty() ? QByteArray() : lines.takeFirst(); };
    app::DrawingSettings settings;
    settings.graphicsDevice = (data[0] & 1) != 0;
    settings.quickBackend = take();
    settings.rhiBackend = take();
    settings.xcbGlIntegration = take();
    settings.alwaysSoftware = take();
    settings.engineFlags = take();
    settings.arguments = lines;

    const app::DrawingChoice choice = app::preferredDrawing(settings);
    if (!settings.quickBackend.isEmpty() || !settings.rhiBackend.isEmpty())
        fuzz::check(!choice.softwareSceneGraph && !choice.withoutGl, "a user's own Qt Quick backend stands");
    if (!settings.xcbGlIntegration.isEmpty())
        fuzz::check(!choice.withoutGl, "a user's own GL integration stands");
    fuzz::check(!choice.withoutGl || choice.softwareSceneGraph, "no GL only where nothing draws with it");
    if (choice.softwareSceneGraph) {
        const bool turnedOff = settings.engineFlags.simplified().split(' ').contains("--disable-gpu")
                               || settings.arguments.contains("--disable-gpu");
        const QByteArray software = settings.alwaysSoftware.trimmed().toLower();
        const bool softwareGl = software == "1" || software == "true" || software == "y" || software == "yes";
        fuzz::check(turnedOff || softwareGl || !settings.graphicsDevice,
                    "software drawing only where the engine has no GPU");
    }
    return 0;
}
