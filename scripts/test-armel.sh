#!/usr/bin/env bash
# Cross-builds everything for the module's ARMv5TE processor (Debian's armel
# compiler) and runs the whole test suite under qemu-arm.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc 2>/dev/null || echo 2)
cmake --preset armel >/dev/null
cmake --build build/armel -j"$jobs"
ctest --test-dir build/armel --output-on-failure -j"$jobs"
