#!/usr/bin/env bash
# Runs the whole test suite several times in a row while every core is kept
# busy, to catch tests that only pass on a quiet machine.
#
#   tools/stress-test.sh [build-dir] [runs]      (defaults: build, 5)
#
# The build directory must already be built (tools/test.sh or the README's
# cmake commands). Stops at the first failing run and exits non-zero.
# CTEST_PARALLEL_LEVEL, when set, limits the tests run at once, as in
# tools/test.sh; it defaults to every core. The busy loops take every core
# whatever it says.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-5}
if [ ! -f "$build/CTestTestfile.cmake" ]; then
  echo "no tests in '$build': build it first" >&2
  exit 2
fi

spinners=()
stop_spinners() {
  local pid
  for pid in "${spinners[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${spinners[@]}"; do wait "$pid" 2>/dev/null || true; done
  spinners=()
}
trap stop_spinners EXIT
trap 'exit 130' INT TERM

cores=$(nproc)
test_jobs=${CTEST_PARALLEL_LEVEL:-$cores}
for ((i = 0; i < cores; i++)); do
  (while :; do :; done) &
  spinners+=("$!")
done
echo "busy loops: $cores (pids ${spinners[*]}), tests at once: $test_jobs"

passed=0
for ((run = 1; run <= runs; run++)); do
  echo "=== run $run of $runs, load average: $(cut -d' ' -f1-3 /proc/loadavg)"
  if ! ctest --test-dir "$build" --output-on-failure -j "$test_jobs"; then
    echo "stress test: run $run failed ($passed of $runs passed before it)" >&2
    exit 1
  fi
  passed=$((passed + 1))
done
echo "stress test: $passed of $runs runs passed under full load"
