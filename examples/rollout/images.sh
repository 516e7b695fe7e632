#!/bin/sh
# The images examples/rollout/plan.toml names, made beside it with mkbin:
# an old and a new bootloader, an old and a new OS image, and an image
# with a record outside its own range (the update refuses it).
set -e
cd "$(dirname "$0")"
mkbin -o old-boot.bin --start 0 --length 0x1000 --fill 0x5A --rom >/dev/null
mkbin -o boot.bin --start 0 --length 0x1000 --fill pattern --rom >/dev/null
mkbin -o old-os.bin --start 0x80080000 --length 0x9000 --fill 0x5A >/dev/null
mkbin -o os.bin --start 0x80080000 --length 0x9000 --fill pattern >/dev/null
printf 'sixteen bytes...' >stray.dat
mkbin -o stray.bin --start 0x80080000 --length 0x100 --fill pattern --data 0x80280000=stray.dat >/dev/null
