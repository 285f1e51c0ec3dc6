#!/usr/bin/env bash
# Configures, builds and runs every test (unit, acceptance on ../shared/corpus when present,
# CLI end to end, GUI under the offscreen platform).
#
# usage: scripts/test.sh [BUILD_DIR]          (default: build)
#   VINDARU_JOBS=N   parallel build and test jobs (default: the number of CPUs)
#   extra CMake options in VINDARU_CMAKE_ARGS, e.g. "-DVINDARU_GUI=OFF" (they reconfigure the
#   folder; without them an existing folder keeps its configuration)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
jobs=${VINDARU_JOBS:-$(nproc)}

# A folder the README's first command (or an earlier run) configured is built as it is, with the
# options it was configured with, so nothing it built is compiled again. A new folder is
# configured here, with warnings as errors as in CI.
if [[ -f $build/CMakeCache.txt && -z ${VINDARU_CMAKE_ARGS:-} ]]; then
    echo "test.sh: using the configuration in $build"
else
    # shellcheck disable=SC2086 # VINDARU_CMAKE_ARGS is a list of options
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVINDARU_WERROR=ON \
        ${VINDARU_CMAKE_ARGS:-}
fi
cmake --build "$build" -j "$jobs"
export QT_QPA_PLATFORM=offscreen TZ=UTC
ctest --test-dir "$build" --output-on-failure -j "$jobs"
