#!/usr/bin/env bash
# Builds the Windows programs from the same sources (tools/build-windows.sh) and checks them under
# Wine: their test programs (tools/windows-test-programs.sh) and archives identical to the Linux
# program's (tests/windows/end_to_end.sh); the 32-bit program is
# checked by tools/test-windows-32.sh, once 32-bit Wine is set up. Builds the Linux program first when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -x build/velmora ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j"$(nproc)" --target velmora
fi
bash tools/build-windows.sh
work=$(mktemp -d /tmp/velmora-w64.XXXXXX)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all LANG=ru_RU.UTF-8
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
failed=0
bash tools/windows-test-programs.sh build-win64 win64 /usr/lib/wine/wine64 || failed=1
bash tests/windows/end_to_end.sh build build-win64 || failed=1
[ "$failed" -eq 0 ]
