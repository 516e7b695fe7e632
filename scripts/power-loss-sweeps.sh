#!/usr/bin/env bash
# The four sweeps of docs/power-loss.md with every operation cut: a NOR and
# a NAND module, each given an old bootloader and OS image, then swept with a
# new bootloader and a new OS image. Tables go to OUT (default
# build/power-loss); each sweep's summary and window and its wall time are printed.
# TOOLS: the folder of updatetool, modulectl and mkbin (default build/release).
set -euo pipefail
cd "$(dirname "$0")/.."
tools=${TOOLS:-build/release}
out=${1:-build/power-loss}
jobs=$(nproc 2>/dev/null || echo 2)
mkdir -p "$out"
PATH="$(cd "$tools" && pwd):$PATH"
cd "$out"
rm -rf nor nand
modulectl create nor --profile pxa270 >/dev/null
modulectl create nand --profile pxa300-f1ec >/dev/null
mkbin -o old-boot.bin --start 0 --length 0x30000 --fill 0x5A --rom >/dev/null
mkbin -o boot.bin --start 0 --length 0x30000 --fill pattern --rom >/dev/null
mkbin -o old-os.bin --start 0x80080000 --length 0x100000 --fill 0x5A >/dev/null
mkbin -o os.bin --start 0x80080000 --length 0x100000 --fill pattern >/dev/null
for m in nor nand; do
    updatetool --module $m -q /u old-boot.bin 2>/dev/null
    updatetool --module $m -q /u old-os.bin 2>/dev/null
done
for sweep in nor:boot nor:os nand:boot nand:os; do
    m=${sweep%:*} image=${sweep#*:}
    start=$(date +%s.%N)
    status=0
    modulectl sweep $m $image.bin --every 1 --jobs "$jobs" -o $m-$image.csv --json $m-$image.json >$m-$image.txt || status=$?
    end=$(date +%s.%N)
    printf '%s %s: %s (exit %d, %.1f s wall)\n' $m $image "$(grep -E "^(cut points|window):" $m-$image.txt | tr "\n" " ")" $status "$(echo "$end - $start" | bc)"
done
