#!/usr/bin/env bash
# Installs what the build needs, builds with warnings as errors and runs every test.
#   scripts/test.sh                                  normal build in build/
#   QOR_SANITIZE=address,undefined scripts/test.sh   sanitizer build in build-sanitize/
#   QOR_SANITIZE=thread scripts/test.sh              thread sanitizer build in build-tsan/
#   QOR_TEST_FILTER=regex scripts/test.sh            only the ctest entries matching regex
#   QOR_BUILD_TARGETS="a_test b_test" scripts/test.sh   build only these targets
#   QOR_SKIP_FUZZ=1 scripts/test.sh                   without the short fuzzing run
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

"$root/scripts/install-deps.sh"

jobs=${QOR_JOBS:-$(nproc)}
sanitize=${QOR_SANITIZE:-}
if [ "$sanitize" = thread ]; then
  # Optimised with debug lines: the thread tests must run long enough to meet.
  build=${QOR_BUILD_DIR:-build-tsan}
  build_type=RelWithDebInfo
  export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
elif [ -n "$sanitize" ]; then
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
if [ -n "${QOR_BUILD_TARGETS:-}" ]; then
  # shellcheck disable=SC2086
  cmake --build "$build" -j "$jobs" --target ${QOR_BUILD_TARGETS}
else
  cmake --build "$build" -j "$jobs"
fi
ctest_args=(--test-dir "$build" --output-on-failure -j "$jobs" --timeout 600)
if [ -n "${QOR_TEST_FILTER:-}" ]; then
  ctest_args+=(-R "$QOR_TEST_FILTER")
fi
ctest "${ctest_args[@]}"

# Every fuzz target for a few seconds, in its own clang build with ASan and
# UBSan (scripts/fuzz.sh); only on the whole default run. QOR_SKIP_FUZZ=1 skips it.
if [ -z "${QOR_SKIP_FUZZ:-}" ] && [ -z "${QOR_TEST_FILTER:-}" ] && [ -z "${QOR_BUILD_TARGETS:-}" ] &&
   [ -z "$sanitize" ]; then
  QOR_FUZZ_SECONDS=${QOR_FUZZ_SECONDS:-4} QOR_JOBS="$jobs" "$root/scripts/fuzz.sh"
fi
