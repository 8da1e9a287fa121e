#!/usr/bin/env bash
# Installs the Debian packages that building, testing and benchmarking need, where any is missing.
set -euo pipefail
# Build: cmake, g++, pkg-config, make, FreeType, Fontconfig (with a font), X11, xxHash's header. Tests: GoogleTest,
# clang's libFuzzer, Xvfb and xdotool for the X11 tests, util-linux's setpriv, man, xxd; FAT, exFAT and a file system of
# the tests' own through FUSE (fusefat, exfat-fuse with a loop device, fusepy) for the cases that
# only other file systems show. Benches: zlib, zstd and lz4
# (engine bench), zstd, pigz and GNU time (program bench).
packages=(cmake g++ clang libclang-rt-14-dev pkg-config make
          libgtest-dev libgmock-dev googletest
          libfreetype-dev libfontconfig-dev fontconfig fonts-dejavu-core libx11-dev libxxhash-dev
          xvfb xauth xdotool util-linux mount man-db xxd
          fuse fusefat exfat-fuse exfatprogs dosfstools python3-fusepy
          zlib1g-dev libzstd-dev liblz4-dev zstd pigz time)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]} (run as root, or install them)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
# A machine that also takes i386 packages may find one of their indexes mid-sync: what could be
# fetched is used all the same.
for _ in 1 2 3; do apt-get update -qq && break; sleep 10; done
apt-get install -y -qq --no-install-recommends "${missing[@]}"
