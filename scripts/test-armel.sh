#!/usr/bin/env bash
# Cross-builds everything for the module's ARMv5TE processor (Debian's armel
# compiler) and runs the whole test suite under qemu-arm.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc 2>/dev/null || echo 2)
cmake --preset armel >/dev/null
cmake --build build/armel -j"$jobs"
# What depends on the processor runs here: the system, the device models,
# the OS services and the tools end to end. The tables that cross host-file
# cases and every profile's boot area run the same code on every processor
# and take minutes under emulation, as does the in-memory module's table of
# every profile (its forks work alike under the emulator) and a campaign's
# matrix of cells: the sanitizer build runs them in full, and here the
# boot-area matrix keeps one NOR and one NAND profile.
ctest --test-dir build/armel --output-on-failure -j"$jobs" \
    -E 'ManualPage\.|InstallMatrix.*/(pxa270_p30|pxa320)|LinkedFileTest|DamagedFileTest|OutputFailure|RawDump|MemoryModule|Campaign\.'

