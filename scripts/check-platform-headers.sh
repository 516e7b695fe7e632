#!/usr/bin/env bash
# Checks the system and platform/ against the real Windows API: the Windows
# headers of mingw-w64, for a 32-bit target as the module is, plus
# scripts/platform-check/ce_only.h for the few names only Windows CE has.
#
# 1. Every translation unit of the system (app/ shell/ update/ flash/ board/
#    res/) is compiled with -fsyntax-only, each include of a platform/ header
#    resolving to those real headers instead of ours: a name the system uses
#    that the API does not have, or uses with the wrong types, fails.
# 2. One generated unit holds platform/'s own declarations beside the real
#    ones: every function is redeclared with C linkage (a different return or
#    parameter type is a conflicting declaration), every numeric or text
#    constant is compared with the real value, every structure member by
#    offset and type, every typedef by type, and the basic types of
#    platform/wintypes.h by size and signedness.
#
# Usage: scripts/check-platform-headers.sh [-k]   (-k keeps the work folder)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cxx=i686-w64-mingw32-g++
# Windows CE is Unicode only. Redeclaring a function without the real
# header's dllimport is as intended here.
flags=(-std=c++20 -DUNICODE -D_UNICODE -Wno-attributes -Wall -Wextra)
keep=0
[ "${1:-}" = "-k" ] && keep=1

work=$(mktemp -d)
if [ "$keep" -eq 1 ]; then echo "platform check: work folder $work" >&2; else trap 'rm -rf "$work"' EXIT; fi

# The real headers, compiled once and included first in every unit.
mkdir -p "$work/include/platform"
cp scripts/platform-check/ce_only.h "$work/include/"
# (Warnings are no failure here: a header compiled alone warns of its
# "#pragma once".)
"$cxx" "${flags[@]}" -w -x c++-header "$work/include/ce_only.h" \
    -o "$work/include/ce_only.h.gch"
for header in platform/*.h; do
    printf '#pragma once\n#include "ce_only.h"\n' >"$work/include/$header"
done

# 1. The system's units, two compilers at a time.
units=$(git ls-files 'app/*.cpp' 'shell/*.cpp' 'update/*.cpp' 'flash/*.cpp' 'board/*.cpp' 'res/*.cpp')
failed=0
printf '%s\n' $units | xargs -P2 -n8 "$cxx" "${flags[@]}" -Werror -fsyntax-only -Winvalid-pch -include ce_only.h \
    -I"$work/include" -I. || failed=1

# 2. platform/'s declarations against the real ones.
awk -f scripts/platform-check/declarations.awk platform/*.h >"$work/declarations.cpp"
"$cxx" "${flags[@]}" -Werror -fsyntax-only -Winvalid-pch -include ce_only.h -I"$work/include" \
    -Iscripts/platform-check "$work/declarations.cpp" || failed=1

count=$(printf '%s\n' $units | wc -l)
if [ "$failed" -ne 0 ]; then
    echo "platform check: mismatches with the real API above" >&2
    exit 1
fi
echo "platform check: $count system units and platform/ agree with the Windows headers"
