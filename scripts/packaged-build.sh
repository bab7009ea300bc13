#!/usr/bin/env bash
# Configures and builds Velmora as the relocatable bundle (development build off), the way the
# Debian package and the release archive are made:
#   scripts/packaged-build.sh BUILD_DIR [-DNAME=VALUE…]
# Extra arguments go to CMake (make-release.sh passes the version this way). The bundle runs
# Debian's python3 through its interpreter entry "python/bin/python3", and the compiler gets
# Debian's hardening flags. Install the result with `cmake --install BUILD_DIR --prefix DIR`.
#
# Built with clang, the compiler of the sanitizer run (scripts/test.sh --sanitize), so that the
# code users run comes from the code generation that ran under the sanitizers. g++ 12 destroys
# an aggregate made from a braced list inside a co_await expression twice, clang 14 does not;
# the g++ build of scripts/test.sh stays, as the compiler developers build with.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD_DIR [-DNAME=VALUE…]" >&2
  exit 2
fi
build="$1"
shift

# From the source root, so that the flags map its path to "." in anything compiled.
cd "$root"
flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP=-g dpkg-buildflags --get "$1"; }

cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=Release \
  -DVELMORA_DEVELOPMENT_BUILD=OFF \
  -DBUILD_TESTING=OFF \
  -DVELMORA_BUNDLED_INTERPRETER=python/bin/python3 \
  "-DCMAKE_CXX_FLAGS=$(flags CPPFLAGS) $(flags CXXFLAGS)" \
  "-DCMAKE_EXE_LINKER_FLAGS=$(flags LDFLAGS)" \
  "$@"
cmake --build "$build" --target velmora_bundle
