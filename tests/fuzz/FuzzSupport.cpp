#include "FuzzSupport.h"

// Most targets need no set-up; one that does defines its own, which takes the place of this
// one. libFuzzer calls it when it is there, the replay always.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *, char ***)
{
    return 0;
}
