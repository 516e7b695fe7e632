#!/usr/bin/env bash
# Builds the Debian package of the three tools (release build, cpack -G DEB)
# and prints its path. Its dependencies come from dpkg-shlibdeps; the build
# then fails unless every shared library the tools link is one of them, so a
# package that would install and not run is never left behind.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc 2>/dev/null || echo 2)
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake --preset release -DUPDATETOOL_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build build/release -j"$jobs" --target updatetool modulectl mkbin sample-image manuals >/dev/null
rm -f build/release/updatetool_*.deb
(cd build/release && cpack -G DEB >/dev/null)
deb=$(ls build/release/updatetool_*.deb)

# Every library a tool needs must be provided by a package the .deb depends on.
depends=$(dpkg-deb -f "$deb" Depends)
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
# The packages named in Depends, one a line.
named=$(sed 's/ *([^)]*)//g; s/ *| */\n/g; s/, */\n/g' <<<"$depends")
missing=0
for tool in "$unpacked"/usr/bin/*; do
    for library in $(objdump -p "$tool" | awk '$1 == "NEEDED" { print $2 }'); do
        path=$(ldconfig -p | awk -v l="$library" '$1 == l { print $NF; exit }')
        # dpkg knows a file by the path its package ships it at (/lib or /usr/lib).
        package=""
        for candidate in "$path" "$(realpath "$path" 2>/dev/null)" "${path#/usr}" "/usr${path}"; do
            package=$(dpkg -S "$candidate" 2>/dev/null | head -1 | cut -d: -f1) && [ -n "$package" ] && break
        done
        if [ -z "$package" ] || ! grep -qxF "$package" <<<"$named"; then
            echo "package: $(basename "$tool") needs $library (${package:-from no package}), which Depends lacks: $depends" >&2
            missing=1
        fi
    done
done
[ "$missing" -eq 0 ] || { rm -f "$deb"; exit 1; }
echo "$deb"
