#!/usr/bin/env bash
# Fails when a C++ file of the tree differs from what clang-format makes of it
# (.clang-format at the top). Tables keep their hand layout between
# "// clang-format off" and "// clang-format on".
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
echo "format: clean"
