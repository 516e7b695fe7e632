#!/usr/bin/env bash
# Installs the Debian package on this machine, runs what a user runs from
# PATH with the build folder out of the way (updatetool --version, a NOR and
# a NAND rehearsal with the installed sample image, the manual, the
# completion), removes the package and checks that every file it installed
# is gone. Needs root (dpkg); leaves no package installed.
#
#   bash scripts/check-package.sh [build/release/updatetool_VERSION_ARCH.deb]
set -euo pipefail
cd "$(dirname "$0")/.."
deb=${1:-$(ls build/release/updatetool_*.deb)}
work=$(mktemp -d)
cp "$deb" "$work/" && deb=$work/$(basename "$deb")
hidden=""
cleanup() {
    [ -n "$hidden" ] && mv "$hidden" "${hidden%.hidden-*}"
    dpkg -r updatetool >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
# The build folder is moved away: the installed tools need nothing of it.
if [ -d build/release ]; then
    hidden=$PWD/build/release.hidden-$$
    mv build/release "$hidden"
fi

dpkg -i "$deb" >/dev/null
cd "$work"
system_path=$PATH
# The tools as a user finds them: from the package, on PATH.
export PATH=/usr/bin:/bin
version=$(updatetool --version)
echo "check: $version"
[ "$version" = "updatetool $(dpkg-deb -f "$deb" Version)" ]
sample=/usr/share/doc/updatetool/examples/sample.bin
modulectl create nor --profile pxa270 >/dev/null
modulectl create nand --profile pxa300-f1ec >/dev/null
updatetool --module nor -q --dry-run --report nor.json /u "$sample" >/dev/null
updatetool --module nand -q --dry-run --report nand.json /u "$sample" >/dev/null
grep -q '"outcome": "success"' nor.json && grep -q '"outcome": "success"' nand.json
echo "check: NOR and NAND rehearsals succeeded"
if command -v man >/dev/null; then
    man -w updatetool modulectl mkbin updatetool-module >/dev/null
    echo "check: man finds the four pages"
fi
words=$(bash -c 'source /usr/share/bash-completion/completions/modulectl
    COMP_WORDS=(modulectl create m --profile pxa3); COMP_CWORD=4; _modulectl; echo "${COMPREPLY[*]}"')
[[ $words == *pxa300-f1ec* ]]
echo "check: completion offers $words"

export PATH=$system_path
installed=$(dpkg -L updatetool)
dpkg -r updatetool >/dev/null
left=0
while read -r path; do
    if [ -f "$path" ] || [ -L "$path" ]; then
        echo "check: $path is still there after dpkg -r" >&2
        left=1
    fi
done <<<"$installed"
[ "$left" -eq 0 ]
echo "check: dpkg -r removed all $(wc -l <<<"$installed") paths' files"
