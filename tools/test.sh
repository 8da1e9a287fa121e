#!/usr/bin/env bash
# Builds everything and runs every test: the normal build, the same tests under AddressSanitizer
# and UBSan, the workers under ThreadSanitizer, and a bounded run of the fuzz targets over the
# golden blocks.
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

# The workers under ThreadSanitizer: the job tests and the end-to-end run of several workers.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_TSAN=ON >/dev/null
cmake --build build-tsan -j"$jobs" --target velmora test_app
VELMORA_THREADS=3 TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/test_app --gtest_brief=1
TSAN_OPTIONS=halt_on_error=1 bash tests/cli/workers.sh build-tsan/velmora tests/data

# The engine on its portable paths, the ones a 32-bit build without SSE2 takes.
cmake -S . -B build-portable -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS=-U__SSE2__ -DVELMORA_BENCH=OFF >/dev/null
cmake --build build-portable -j"$jobs" --target test_engine
build-portable/tests/test_engine --gtest_brief=1

# The Windows programs, cross-built from the same sources and run under Wine.
bash tools/build-windows.sh
bash tests/windows/end_to_end.sh build build-win64 build-win32

if [ -f fuzz/CMakeLists.txt ]; then
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_FUZZ=ON >/dev/null
  cmake --build build-fuzz -j"$jobs"
  bash fuzz/run.sh build-fuzz "${VELMORA_FUZZ_SECONDS:-60}"
fi
