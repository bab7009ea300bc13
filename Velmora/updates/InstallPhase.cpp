#include "updates/InstallPhase.h"

namespace velmora::updates {

bool isInstalling(InstallPhase phase)
{
    switch (phase) {
    case InstallPhase::Downloading:
    case InstallPhase::Preparing:
    case InstallPhase::Waiting:
    case InstallPhase::Installing:
        return true;
    case InstallPhase::Idle:
    case InstallPhase::Checking:
    case InstallPhase::Found:
    case InstallPhase::NoUpdate:
    case InstallPhase::CheckFailed:
    case InstallPhase::Ready:
    case InstallPhase::Failed:
    case InstallPhase::Refused:
        break;
    }
    return false;
}

bool isUnderWay(InstallPhase phase)
{
    return phase == InstallPhase::Checking || phase == InstallPhase::Found || phase == InstallPhase::Ready
           || isInstalling(phase);
}

bool isCancellable(InstallPhase phase)
{
    return phase == InstallPhase::Checking || phase == InstallPhase::Downloading || phase == InstallPhase::Preparing;
}

bool isOutcome(InstallPhase phase)
{
    switch (phase) {
    case InstallPhase::NoUpdate:
    case InstallPhase::CheckFailed:
    case InstallPhase::Failed:
    case InstallPhase::Refused:
        return true;
    case InstallPhase::Idle:
    case InstallPhase::Checking:
    case InstallPhase::Found:
    case InstallPhase::Downloading:
    case InstallPhase::Preparing:
    case InstallPhase::Ready:
    case InstallPhase::Waiting:
    case InstallPhase::Installing:
        break;
    }
    return false;
}

bool canWaitForLater(InstallPhase phase)
{
    return phase == InstallPhase::Found || phase == InstallPhase::Ready || phase == InstallPhase::Waiting;
}

} // namespace velmora::updates
