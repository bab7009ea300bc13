#!/usr/bin/env bash
# Installs what is missing, builds Velmora with its tests and runs every test.
#
#   scripts/test.sh [CTEST ARGS...]              g++ build in build/
#   scripts/test.sh --sanitize [CTEST ARGS...]   clang build with AddressSanitizer (leak checks
#                                                included) and UndefinedBehaviorSanitizer in
#                                                build-sanitize/; any report fails its test
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
options=()
tests=()
if [ "${1:-}" = "--sanitize" ]; then
  shift
  build=build-sanitize
  options=(-DCMAKE_CXX_COMPILER=clang++ -DVELMORA_SANITIZE=ON)
  # The packaging tests make and inspect a packaged g++ build of their own; under the
  # sanitizers they would only build it a second time.
  tests=(-E '^packaging/')
fi
if command -v ccache >/dev/null; then
  options+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

bash scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug "${options[@]}"
cmake --build "$build" --parallel 2
# Two tests at a time: the machines have two cores and web engine tests are heavy.
ctest --test-dir "$build" --output-on-failure -j2 "${tests[@]}" "$@"
