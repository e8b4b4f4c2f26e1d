#!/usr/bin/env bash
# Installs the dependencies, then builds and runs every test: the normal build,
# an ASan+UBSan build of the engine and command-line tests, and the fuzz targets.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
export CTEST_OUTPUT_ON_FAILURE=1

echo "== normal build"
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-test -j "$jobs"
ctest --test-dir build-test -j "$jobs" --timeout 900

echo "== sanitizer build"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUELT_SANITIZE=ON \
      -DQUELT_BUILD_APP=OFF -DQUELT_BUILD_BENCH=OFF
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan -j "$jobs" --timeout 1800

echo "== fuzz targets"
CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUELT_FUZZ=ON \
      -DQUELT_SANITIZE=ON -DQUELT_BUILD_APP=OFF -DQUELT_BUILD_BENCH=OFF
cmake --build build-fuzz -j "$jobs"
ctest --test-dir build-fuzz -j "$jobs" --timeout 600

echo "== all tests passed"
