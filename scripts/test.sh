#!/usr/bin/env bash
# Installs what the build needs, builds with warnings as errors and runs every test.
#   scripts/test.sh                                  normal build in build-test/
#   QOR_SANITIZE=address,undefined scripts/test.sh   clang sanitizer build in build-sanitize/,
#                                                    fuzz targets included
#   QOR_SANITIZE=thread scripts/test.sh              thread sanitizer build in build-tsan/
#   QOR_TEST_FILTER=regex scripts/test.sh            only the ctest entries matching regex
#   QOR_BUILD_TARGETS="a_test b_test" scripts/test.sh   build only these targets
#   QOR_TEST_LABEL=concurrency scripts/test.sh       only the ctest entries with that label
# A plain run with neither targets nor a filter (what CI runs) then also runs
# the suite under AddressSanitizer with UBSan and the concurrency tests under
# ThreadSanitizer; QOR_CI_SANITIZERS=0 leaves those out.
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
  # clang, so that the fuzz targets build in the same tree: one sanitizer
  # build of the library serves the suite and the short fuzzing run.
  build=${QOR_BUILD_DIR:-build-sanitize}
  build_type=Debug
  "$root/scripts/install-clang.sh"
  export CC=${CC:-clang} CXX=${CXX:-clang++}
  fuzz=ON
  # Warnings are the gcc build's gate (QOR_WERROR there); clang's show here.
  werror=${QOR_SANITIZE_WERROR:-OFF}
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
else
  # Not build/: scripts/demo.sh builds there with other options, and sharing
  # the tree made each of them rebuild everything after the other.
  build=${QOR_BUILD_DIR:-build-test}
  build_type=${QOR_BUILD_TYPE:-RelWithDebInfo}
fi

"$root/scripts/check_layers.sh"

# Sanitizer builds skip the benchmarks: they are timed, never run by ctest.
bench=ON
if [ -n "$sanitize" ]; then bench=${QOR_BUILD_BENCH:-OFF}; fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE="$build_type" -DQOR_WERROR="${werror:-ON}" -DQOR_SANITIZE="$sanitize" \
  -DQOR_BUILD_BENCH="$bench" -DQOR_BUILD_FUZZ="${fuzz:-OFF}"
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
if [ -n "${QOR_TEST_LABEL:-}" ]; then
  ctest_args+=(-L "$QOR_TEST_LABEL")
fi
ctest "${ctest_args[@]}"

whole_run=""
if [ -z "$sanitize" ] && [ -z "${QOR_BUILD_TARGETS:-}" ] && [ -z "${QOR_TEST_FILTER:-}" ] &&
  [ -z "${QOR_TEST_LABEL:-}" ] && [ "${QOR_CI_SANITIZERS:-1}" != 0 ]; then
  whole_run=1
  # Memory errors and undefined behaviour anywhere in the suite; the same
  # tree then holds the fuzz targets for the short fuzzing run below.
  env -u QOR_BUILD_DIR QOR_SANITIZE=address,undefined QOR_CI_SANITIZERS=0 "$root/scripts/test.sh"
  # Data races: only the tests that run threads against shared state, built
  # alone, so the run stays short.
  env -u QOR_BUILD_DIR QOR_SANITIZE=thread QOR_CI_SANITIZERS=0 QOR_TEST_LABEL=concurrency \
    QOR_BUILD_TARGETS="$(sed -n 's/^ *set(QOR_CONCURRENCY_TESTS \(.*\))$/\1/p' tests/CMakeLists.txt)" \
    "$root/scripts/test.sh"
fi

# Every fuzz target for a few seconds with ASan and UBSan (scripts/fuzz.sh),
# only on the whole default run: the targets of the sanitizer tree above, or
# fuzz.sh's own clang build when the sanitizers were left out.
# QOR_SKIP_FUZZ=1 skips it.
if [ -z "${QOR_SKIP_FUZZ:-}" ] && [ -z "${QOR_TEST_FILTER:-}" ] && [ -z "${QOR_BUILD_TARGETS:-}" ] &&
   [ -z "$sanitize" ]; then
  fuzz_tree=(QOR_FUZZ_BUILD_DIR="${QOR_FUZZ_BUILD_DIR:-build-fuzz}")
  if [ -n "$whole_run" ]; then
    fuzz_tree=(QOR_FUZZ_BUILD_DIR=build-sanitize QOR_FUZZ_REUSE_BUILD=1)
  fi
  env "${fuzz_tree[@]}" QOR_FUZZ_SECONDS="${QOR_FUZZ_SECONDS:-4}" QOR_JOBS="$jobs" \
    "$root/scripts/fuzz.sh"
fi
