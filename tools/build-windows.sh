#!/usr/bin/env bash
# Builds the Windows program from the same sources with Debian's MinGW-w64 (posix threads):
# build-win32/velmora.exe (i686) and build-win64/velmora.exe (x86-64), windowed and statically
# linked. Installs what is missing first: the cross compilers, Wine (to run them here) and the
# Russian locale, under which Wine gives the programs code page 1251.
set -euo pipefail
cd "$(dirname "$0")/.."
packages=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine64 locales)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]} (run as root, or install them)" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  for _ in 1 2 3; do apt-get update -qq && break; sleep 10; done
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
if ! locale -a 2>/dev/null | grep -qi '^ru_RU.utf8$'; then
  if [ "$(id -u)" -eq 0 ]; then
    grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null || echo 'ru_RU.UTF-8 UTF-8' >>/etc/locale.gen
    locale-gen >/dev/null
  else
    echo "note: the ru_RU.UTF-8 locale is missing; Wine will not use code page 1251" >&2
  fi
fi
for arch in i686 x86_64; do
  dir=build-win64
  [ "$arch" = i686 ] && dir=build-win32
  cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-w64-$arch.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DVELMORA_TESTS=ON -DVELMORA_BENCH=OFF >/dev/null
  cmake --build "$dir" -j"$(nproc)"
done
