#!/usr/bin/env bash
# Builds everything and runs every test: first a normal build, then the same
# tests built with AddressSanitizer and UndefinedBehaviorSanitizer.
# CMAKE_BUILD_PARALLEL_LEVEL and CTEST_PARALLEL_LEVEL, when set, limit the
# build jobs and the tests run at once; each defaults to every core.
set -euo pipefail
cd "$(dirname "$0")/.."
build_jobs=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
test_jobs=${CTEST_PARALLEL_LEVEL:-$(nproc)}
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$build_jobs"
ctest --test-dir build --output-on-failure -j "$test_jobs"
if [ "${VANTORA_SKIP_SANITIZE:-0}" != 1 ]; then
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVANTORA_SANITIZE=ON
  cmake --build build-asan -j "$build_jobs"
  ctest --test-dir build-asan --output-on-failure -j "$test_jobs"
fi
