#!/usr/bin/env bash
# Builds everything and runs every test: the normal build (gcc), the same tests under
# AddressSanitizer and UBSan (clang, in the build that also makes the fuzz targets), the workers
# under ThreadSanitizer, the engine on its portable paths, and a bounded run of the fuzz targets
# (VELMORA_FUZZ_SECONDS, default 36, shared by the targets).
# The Windows programs are checked by tools/test-windows.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
jobs=$(nproc)
# One test more than cores: several tests wait on sleeps, terminals and child processes.
tests=$((jobs + 1))

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build -j"$tests" --output-on-failure
# The one test that needs a display, on a virtual one.
xvfb-run -a build/tests/test_platform --gtest_brief=1 --gtest_filter='*X11*'

# One clang build serves the sanitizers and the fuzzers: the tests run under ASan and UBSan there,
# and a second compiler meets the code (line tables only: enough for the sanitizers' reports).
CC=clang CXX=clang++ cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1" \
  -DVELMORA_FUZZ=ON >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=0 ctest --test-dir build-asan -j"$tests" --output-on-failure

# The workers under ThreadSanitizer: the job tests and the end-to-end run of several workers.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_TSAN=ON -DVELMORA_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$jobs" --target velmora test_app
VELMORA_THREADS=3 TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/test_app --gtest_brief=1
TSAN_OPTIONS=halt_on_error=1 bash tests/cli/workers.sh build-tsan/velmora tests/data

# The engine on its portable paths, the ones a 32-bit build without SSE2 takes: the match finder's
# lanes and the decoder's wide steps.
cmake -S . -B build-portable -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS=-U__SSE2__ \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -DVELMORA_BENCH=OFF >/dev/null
cmake --build build-portable -j"$jobs" --target test_engine
build-portable/tests/test_engine --gtest_brief=1 --gtest_filter='MatchFinder.*:Golden*:DecompressBlock.*'

bash tools/fuzz.sh build-asan "${VELMORA_FUZZ_SECONDS:-36}"
