#!/usr/bin/env bash
# Pictures of the program under a virtual X server (Xvfb):
# - docs/main-page.png: the program itself, as it opens, taken with ImageMagick;
# - docs/update-download.png: the download window while an update comes in
#   from a local server, taken by a helper;
# - one PNG per page of the main window in the folder given (default
#   build/screenshots), taken by a helper that runs the program's start-up and
#   switches pages through the list on the left.
# CMAKE_BUILD_PARALLEL_LEVEL, when set, gives the build jobs (default 4).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/screenshots}
build_jobs=${CMAKE_BUILD_PARALLEL_LEVEL:-4}
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$build_jobs" --target vantora2 lcdprog_screens dlwin_screen
mkdir -p "$out" docs
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}

xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  ./build/src/app/vantora2 &
  pid=$!
  shot=1
  for _ in $(seq 50); do
    sleep 0.2
    if import -window "Vantora II" docs/main-page.png 2>/dev/null; then shot=0; break; fi
  done
  kill "$pid"
  exit "$shot"'

xvfb-run -a -s "-screen 0 1024x768x24" ./build/tests/update/dlwin_screen docs/update-download.png
xvfb-run -a -s "-screen 0 1024x768x24" ./build/tests/app/lcdprog_screens "$out"
echo "Saved docs/main-page.png, docs/update-download.png and the pages in $out"
