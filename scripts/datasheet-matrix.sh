#!/bin/bash
# Every built-in profile updated with a bootloader and with an OS image, the
# chips at their maximum busy times and only recording what breaks their
# datasheets; each case also once more over its own result and, on NAND,
# with a factory-bad block where the image goes. Prints one line per case:
# the outcome and the violations the program caused.
# Usage: scripts/datasheet-matrix.sh [BUILD_DIR] [PROFILE...]
set -u
build=${1:-build/release}
shift || true
profiles=("$@")
[ ${#profiles[@]} -eq 0 ] && profiles=(pxa270 pxa270-p30 pxa320-75ec pxa320-76ec pxa320-d3ec pxa300-f1ec pxa320-dcad)
PATH="$build:$PATH"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
total=0
one() {  # profile case image extra-set...
    local profile=$1 name=$2 image=$3
    shift 3
    local m="$work/$profile-$name"
    modulectl create "$m" --profile "$profile" --set limits.timing=max --set limits.nop=record "$@" >/dev/null || return
    for run in first again; do
        updatetool --module "$m" -q --report "$m.json" /u "$image" 2>/dev/null
        local status=$?
        local n
        n=$(jq '.datasheet_violations | length' "$m.json")
        total=$((total + n))
        printf '%-12s %-16s %-6s exit %d  %s  violations %d\n' "$profile" "$name" "$run" "$status" \
            "$(jq -r .outcome "$m.json")" "$n"
        jq -r '.datasheet_violations[] | "    " + .rule + ": " + .text' "$m.json" | sort | uniq -c | sed 's/^/   /'
    done
}
for profile in "${profiles[@]}"; do
    case $profile in
        pxa320-75ec | pxa320-76ec) boot_len=0x3000 ;;
        *) boot_len=0x30000 ;;
    esac
    mkbin -o "$work/boot-$profile.bin" --start 0 --length $boot_len --fill pattern >/dev/null
    mkbin -o "$work/os.bin" --start 0x80080000 --length 0x100000 --fill pattern --rom >/dev/null
    one "$profile" bootloader "$work/boot-$profile.bin"
    one "$profile" os "$work/os.bin"
    case $profile in
        pxa270*) ;;
        pxa320-75ec | pxa320-76ec)
            # 0x80000 is logical block 16 (32 KiB device blocks: 16 KiB of each chip).
            one "$profile" os-bad-block "$work/os.bin" --set 'nand.bad_blocks=[17]'
            one "$profile" boot-bad-block "$work/boot-$profile.bin" --set 'nand.bad_blocks=[1]' ;;
        *)
            one "$profile" os-bad-block "$work/os.bin" --set 'nand.bad_blocks=[5]'
            one "$profile" boot-bad-block "$work/boot-$profile.bin" --set 'nand.bad_blocks=[1]' ;;
    esac
done
echo "violations in all: $total"
