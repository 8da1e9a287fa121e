#!/usr/bin/env bash
# Builds everything and runs every test: the normal build, the same tests under AddressSanitizer
# and UBSan, and a bounded run of the fuzz targets over the golden blocks.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build -j"$jobs" --output-on-failure

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=0 ctest --test-dir build-asan -j"$jobs" --output-on-failure

if [ -f fuzz/CMakeLists.txt ]; then
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_FUZZ=ON >/dev/null
  cmake --build build-fuzz -j"$jobs"
  bash fuzz/run.sh build-fuzz "${VELMORA_FUZZ_SECONDS:-60}"
fi
