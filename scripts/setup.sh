#!/usr/bin/env bash
# Installs the packages the build, the tests and the tools need, with apt,
# when any is missing. Idempotent: a machine that has them all is left alone.
# Called by run.sh, test.sh and CI, so the package list lives here only.
set -euo pipefail

packages=(
  cmake g++ make                                   # the build
  googletest libgtest-dev libgmock-dev             # tests
  libbenchmark-dev                                 # bench/
  libcli11-dev libtomlplusplus-dev nlohmann-json3-dev  # command lines, module.toml, JSON
  libncurses-dev tmux                              # terminal front-end and its pty tests
  clang libclang-rt-14-dev clang-format            # fuzz targets, format check
  librsvg2-bin libxml2-utils                       # renders and parses the flash map and the sweep in tests
  parallel                                         # runs a sweep's shards in a test
  chromium netpbm                                  # draws a campaign's page, and counts its colours
  g++-arm-linux-gnueabi qemu-user                  # the module's processor, under emulation
  g++-mingw-w64-i686                               # the system against the real Windows headers
  dpkg-dev file groff-base                         # the Debian package, its manual pages
)

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}" >&2
sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
