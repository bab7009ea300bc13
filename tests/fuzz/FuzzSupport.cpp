#include "FuzzSupport.h"

#include <QGuiApplication>

namespace velmora::fuzz {

void ensureGuiApplication(int *argc, char ***argv)
{
    if (QCoreApplication::instance())
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Lives for the whole process: libFuzzer never returns to main.
    new QGuiApplication(*argc, *argv);
}

} // namespace velmora::fuzz
