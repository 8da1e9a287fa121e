#!/usr/bin/env bash
# Builds the Windows programs from the same sources (tools/build-windows.sh) and checks them under
# Wine: their test programs, and archives identical to the Linux program's
# (tests/windows/end_to_end.sh). Builds the Linux program first when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -x build/velmora ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j"$(nproc)" --target velmora
fi
bash tools/build-windows.sh
bash tests/windows/end_to_end.sh build build-win64 build-win32
