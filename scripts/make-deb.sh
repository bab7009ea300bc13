#!/usr/bin/env bash
# Makes the Debian package velmora_VERSION_ARCH.deb and checks it with lintian:
#   scripts/make-deb.sh [BUILD_DIR]        (default: build-deb)
# The package holds the bundle in /usr/lib/velmora with /usr/bin/velmora, the desktop entry,
# the AppStream metadata and the icons. Lintian's errors fail the script; its warnings and
# notes are printed.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(realpath -m "${1:-$root/build-deb}")"

bash "$root/scripts/packaged-build.sh" "$build"
(cd "$build" && cpack -G DEB)
package="$(ls -t "$build"/velmora_*.deb | head -n 1)"

echo "lintian $package"
lintian --info --fail-on error "$package"
echo "$package"
