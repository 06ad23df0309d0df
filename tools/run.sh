#!/usr/bin/env bash
# Builds the program and starts it. CMAKE_BUILD_PARALLEL_LEVEL, when set,
# limits the build jobs; it defaults to every core.
set -euo pipefail
cd "$(dirname "$0")/.."
build_jobs=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$build_jobs" --target vantora2
exec ./build/src/app/vantora2 "$@"
