#include "updates/InstallRefusal.h"

namespace velmora::updates {

InstallRefusal decideInstallRefusal(const InstallFacts &facts)
{
    if (!facts.isBundle)
        return InstallRefusal::NotABundle;
    // Before writability: a package's bundle is usually read-only too, and the package
    // manager is the way to update it.
    if (facts.ownedByPackage)
        return InstallRefusal::PackageManaged;
    if (!facts.bundleWritable || !facts.parentWritable)
        return InstallRefusal::NotWritable;
    if (facts.parentWritableByOthers)
        return InstallRefusal::SharedParent;
    if (!facts.sameFileSystemAsParent)
        return InstallRefusal::SeparateFileSystem;
    if (!facts.hasPublicKeys)
        return InstallRefusal::NoPublicKeys;
    return InstallRefusal::None;
}

} // namespace velmora::updates
