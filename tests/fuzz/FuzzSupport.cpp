#include "FuzzSupport.h"

#include <QGuiApplication>

// Most targets need no set-up; one that does defines its own, which takes the place of this
// one. libFuzzer calls it when it is there, the replay always.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *, char ***)
{
    return 0;
}

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
