#pragma once

// Whether this Velmora may replace its own bundle with an update. Checking for updates works
// in every case; installing is refused where another tool owns the bundle or the user cannot
// change it, and the user is told how to update instead.

namespace velmora::updates {

struct InstallFacts
{
    // The running bundle's folder is known and is a bundle (Info.json and bin/velmora).
    bool isBundle = false;
    // The package manager installed it (the Debian package's /usr/lib/velmora).
    bool ownedByPackage = false;
    // The user may write the bundle folder and the folder that holds it: the exchange renames
    // both.
    bool bundleWritable = false;
    bool parentWritable = false;
    // Another user (besides root) may write the folder that holds the bundle, where the work
    // folder is made and the exchange happens: they could put their own files in its way.
    bool parentWritableByOthers = false;
    // The bundle lies on the same file system as the folder holding it (it is no mount point):
    // the staging folder beside it can only be exchanged with it then.
    bool sameFileSystemAsParent = false;
    // The build names a key that update signatures are checked with.
    bool hasPublicKeys = false;
};

enum class InstallRefusal {
    None,
    NotABundle,
    PackageManaged,
    NotWritable,
    SharedParent,
    SeparateFileSystem,
    NoPublicKeys,
};

// The first reason, in this order, that forbids installing; None when nothing does.
InstallRefusal decideInstallRefusal(const InstallFacts &facts);

} // namespace velmora::updates
