#!/usr/bin/env bash
# Installs what the build needs, builds with warnings as errors and runs every test.
#   scripts/test.sh                                  normal build in build/
#   QOR_SANITIZE=address,undefined scripts/test.sh   sanitizer build in build-sanitize/
#   QOR_TEST_FILTER=regex scripts/test.sh            only the ctest entries matching regex
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

"$root/scripts/install-deps.sh"

jobs=${QOR_JOBS:-$(nproc)}
sanitize=${QOR_SANITIZE:-}
if [ -n "$sanitize" ]; then
  build=${QOR_BUILD_DIR:-build-sanitize}
  build_type=Debug
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
else
  build=${QOR_BUILD_DIR:-build}
  build_type=${QOR_BUILD_TYPE:-RelWithDebInfo}
fi

"$root/scripts/check_layers.sh"

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE="$build_type" -DQOR_WERROR=ON -DQOR_SANITIZE="$sanitize"
cmake --build "$build" -j "$jobs"
ctest_args=(--test-dir "$build" --output-on-failure -j "$jobs" --timeout 600)
if [ -n "${QOR_TEST_FILTER:-}" ]; then
  ctest_args+=(-R "$QOR_TEST_FILTER")
fi
ctest "${ctest_args[@]}"
