#!/usr/bin/env bash
# Builds the program and runs its main job on the default simulated module:
# an update with a sample image that the build makes. Extra arguments go to
# updatetool before the module command line.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DUPDATETOOL_TESTS=OFF >/dev/null
cmake --build build/release -j"$jobs" --target updatetool modulectl mkbin sample-image
exec build/release/updatetool "$@" /u build/release/sample.bin
