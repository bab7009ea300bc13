#!/usr/bin/env bash
# Installs what is missing, builds Velmora with its tests and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug
cmake --build build
# Two tests at a time: the machines have two cores and web engine tests are heavy.
ctest --test-dir build --output-on-failure -j2 "$@"
