#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan and UBSan on) and runs each in
# turn, one process at a time, for a bounded time or number of executions.
#   QOR_FUZZ_SECONDS=60 scripts/fuzz.sh [target...]     (default 60 s each)
#   QOR_FUZZ_RUNS=10000000 scripts/fuzz.sh [target...]  (stop after N executions)
#   QOR_FUZZ_SEEDS_ONLY=1 scripts/fuzz.sh                (only replay fuzz/corpus)
#   QOR_FUZZ_BUILD_DIR=dir QOR_FUZZ_REUSE_BUILD=1 scripts/fuzz.sh   (targets of that tree)
# The growing corpus is kept in build-fuzz/corpus/<target>; findings (crash-*,
# leak-*, timeout-*, oom-*) land in build-fuzz/findings/<target>. Exits non-zero
# when any target found something.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/install-deps.sh"
# clang and its fuzzing runtime (libclang_rt.fuzzer) are Debian packages too.
"$root/scripts/install-clang.sh"

build=${QOR_FUZZ_BUILD_DIR:-build-fuzz}
all_targets=(fuzz_base64 fuzz_properties fuzz_digits fuzz_policy fuzz_read_packet fuzz_agent_answer
             fuzz_emergency_file fuzz_value_decrypt fuzz_lob fuzz_agent_request fuzz_file
             fuzz_streamed_key_set)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all_targets[@]}")

# QOR_FUZZ_REUSE_BUILD=1 runs the targets of a tree that is already configured
# with QOR_BUILD_FUZZ=ON (the sanitizer suite's, see scripts/test.sh) as it is.
if [ -z "${QOR_FUZZ_REUSE_BUILD:-}" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQOR_BUILD_FUZZ=ON \
    -DQOR_BUILD_TESTS=OFF -DQOR_BUILD_BENCH=OFF >/dev/null
elif ! grep -q '^QOR_BUILD_FUZZ:BOOL=ON$' "$build/CMakeCache.txt" 2>/dev/null; then
  echo "fuzz: $build is not configured with QOR_BUILD_FUZZ=ON" >&2
  exit 1
fi
# Only the fuzz targets: the shared library is not linked with the fuzzing runtime.
cmake --build "$build" -j "${QOR_JOBS:-$(nproc)}" --target "${targets[@]}"

# Any sanitizer report ends the run as a finding, leaks included.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

# Larger inputs where the format needs them (large objects span pieces of 4096).
max_len() {
  case "$1" in
    fuzz_lob) echo 20000 ;;
    fuzz_policy | fuzz_agent_answer | fuzz_emergency_file | fuzz_streamed_key_set) echo 8192 ;;
    fuzz_file) echo 8192 ;;
    *) echo 4096 ;;
  esac
}

failed=()
for target in "${targets[@]}"; do
  seeds="$root/fuzz/corpus/$target"
  corpus="$build/corpus/$target"
  findings="$build/findings/$target"
  mkdir -p "$corpus" "$findings"
  echo "== $target"
  args=(-max_len="$(max_len "$target")" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
        -artifact_prefix="$findings/")
  if [ -n "${QOR_FUZZ_SEEDS_ONLY:-}" ]; then
    # Replays the checked-in seeds once: every one must pass.
    [ -d "$seeds" ] || continue
    "$build/fuzz/$target" "${args[@]}" -runs=0 "$seeds" || failed+=("$target")
    continue
  fi
  if [ -n "${QOR_FUZZ_RUNS:-}" ]; then
    args+=(-runs="$QOR_FUZZ_RUNS")
  else
    args+=(-max_total_time="${QOR_FUZZ_SECONDS:-60}")
  fi
  dirs=("$corpus")
  [ -d "$seeds" ] && dirs+=("$seeds")
  # New inputs go to the first directory only: the checked-in seeds stay as they are.
  "$build/fuzz/$target" "${args[@]}" "${dirs[@]}" || failed+=("$target")
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found problems in: ${failed[*]} (see $build/findings)" >&2
  exit 1
fi
