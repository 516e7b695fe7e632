#!/usr/bin/env bash
# Builds the libFuzzer targets (preset fuzz: clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time:
#
#   bash scripts/fuzz.sh [SECONDS-PER-TARGET] [TARGET...]
#
# Default 60 seconds each, every target. Each target grows its own corpus in
# build/fuzz/corpus/TARGET from the committed seeds in fuzz/corpus/ and the
# real images in tests/fixtures/wince-bin/; a crash is kept as
# build/fuzz/artifacts/TARGET-crash-... and fails the script. Ends with one
# line per target: executions, executions per second, coverage, corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_image_nor fuzz_image_nand fuzz_remap fuzz_banner fuzz_command_line fuzz_profile)

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake --preset fuzz "${launcher[@]}" >/dev/null
cmake --build build/fuzz -j"$(nproc 2>/dev/null || echo 2)" --target fuzz_targets >/dev/null

# The real images as seeds: the .bin files for the update, the flat .nb0
# files as flash contents.
fixtures=tests/fixtures/wince-bin
seeds=build/fuzz/seeds
mkdir -p "$seeds/bin" "$seeds/nb0" build/fuzz/artifacts
cp -u "$fixtures"/*.bin "$seeds/bin/"
cp -u "$fixtures"/*.nb0 "$seeds/nb0/"

seed_dirs() {
  case "$1" in
    fuzz_image_nor | fuzz_image_nand) echo fuzz/corpus/image "$seeds/bin" ;;
    fuzz_remap) echo fuzz/corpus/remap ;;
    fuzz_banner) echo fuzz/corpus/banner "$seeds/nb0" ;;
    fuzz_command_line) echo fuzz/corpus/command_line ;;
    fuzz_profile) echo fuzz/corpus/profile ;;
    *) echo "fuzz.sh: unknown target $1" >&2; exit 2 ;;
  esac
}

summary=()
failed=0
for target in "${targets[@]}"; do
  corpus=build/fuzz/corpus/$target
  log=build/fuzz/$target.log
  mkdir -p "$corpus"
  echo "fuzz: $target for ${seconds}s"
  # shellcheck disable=SC2046
  if ! build/fuzz/fuzz/"$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 \
      -artifact_prefix="build/fuzz/artifacts/$target-" "$corpus" $(seed_dirs "$target") >"$log" 2>&1; then
    failed=1
    grep -E "ERROR|invariant broken|SUMMARY|runtime error|Test unit written" "$log" >&2 || tail -20 "$log" >&2
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  last=$(grep -E '^#[0-9]+' "$log" | tail -1)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  corp=$(sed -n 's/.* corp: \([0-9]*\/[0-9A-Za-z]*\).*/\1/p' <<<"$last")
  summary+=("$(printf '%-18s %10s runs %6s/s  cov %5s  corpus %s' "$target" "${runs:-?}" "${rate:-?}" "${cov:-?}" "${corp:-?}")")
done

printf '%s\n' "${summary[@]}"
if [ "$failed" -ne 0 ]; then
  echo "fuzz: a target crashed or broke an invariant; see build/fuzz/artifacts/" >&2
  exit 1
fi
echo "fuzz: ${#targets[@]} targets, no crash"
