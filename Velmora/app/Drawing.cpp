#include "app/Drawing.h"

#include "app/DesktopDefaults.h"
#include "platform/GraphicsDevices.h"

#include <QCoreApplication>
#include <QQuickWindow>

namespace velmora::app {

void prepareDrawing(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);

    DrawingSettings settings;
    settings.quickBackend = qEnvironmentVariableIsSet("QT_QUICK_BACKEND") ? qgetenv("QT_QUICK_BACKEND")
                                                                          : qgetenv("QMLSCENE_DEVICE");
    settings.rhiBackend = qgetenv("QSG_RHI_BACKEND");
    settings.xcbGlIntegration = qgetenv("QT_XCB_GL_INTEGRATION");
    settings.alwaysSoftware = qgetenv("LIBGL_ALWAYS_SOFTWARE");
    settings.engineFlags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    for (int i = 1; i < argc; ++i)
        settings.arguments.append(QByteArray(argv[i]));
    settings.graphicsDevice = platform::hasGraphicsDevice();

    const DrawingChoice choice = preferredDrawing(settings);
    if (choice.softwareSceneGraph)
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    // Read while the application object connects to the X server, and not again.
    if (choice.withoutGl)
        setForApplicationObject("QT_XCB_GL_INTEGRATION", "none");
}

} // namespace velmora::app
