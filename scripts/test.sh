#!/usr/bin/env bash
# Installs what is missing, builds Velmora with its tests and runs every test.
#
#   scripts/test.sh [OPTIONS] [CTEST ARGS...]
#
#   (no option)     g++ build in build/
#   --sanitize      clang build with AddressSanitizer (leak checks included) and
#                   UndefinedBehaviorSanitizer in build-sanitize/; any report fails its test
#   --ci            warnings in Velmora's own code are errors (.ci/run)
#   --build-only    configure and build, run no test
#   --test-only     run the tests of the build made before, without installing or building
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
options=()
sanitize=0
build_step=1
test_step=1
while [ $# -gt 0 ]; do
  case "$1" in
    --sanitize) sanitize=1 ;;
    --ci) options+=(-DVELMORA_WERROR=ON) ;;
    --build-only) test_step=0 ;;
    --test-only) build_step=0 ;;
    *) break ;;
  esac
  shift
done
if [ "$sanitize" -eq 1 ]; then
  build=build-sanitize
  # The packaging tests make and inspect a packaged build of their own, and the benchmarks
  # and the screen gallery run no test: under the sanitizers they would only be built again.
  options+=(-DCMAKE_CXX_COMPILER=clang++ -DVELMORA_SANITIZE=ON -DVELMORA_PACKAGING_TESTS=OFF
            -DVELMORA_BUILD_EXTRAS=OFF)
fi
if command -v ccache >/dev/null; then
  options+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

if [ "$build_step" -eq 1 ]; then
  bash scripts/install-deps.sh
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug "${options[@]}"
  cmake --build "$build" --parallel 2
fi
if [ "$test_step" -eq 1 ]; then
  # Two tests at a time: the machines have two cores and web engine tests are heavy.
  ctest --test-dir "$build" --output-on-failure -j2 "$@"
fi
