#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while.
#   QOR_FUZZ_SECONDS=60 scripts/fuzz.sh [target...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/install-deps.sh"
if ! command -v clang++ >/dev/null; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq && $sudo apt-get install -y -qq clang
fi
build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQOR_BUILD_FUZZ=ON \
  -DQOR_BUILD_TESTS=OFF -DQOR_BUILD_BENCH=OFF
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_base64 fuzz_properties fuzz_digits fuzz_policy)
# Only the fuzz targets: the shared library is not linked with the fuzzing runtime.
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  # Checked-in seeds (a well-formed input) get the fuzzer past the outer layers.
  if [ -d "fuzz/corpus/$target" ]; then cp -n "fuzz/corpus/$target"/* "$corpus"/; fi
  echo "== $target"
  "$build/fuzz/$target" -max_total_time="${QOR_FUZZ_SECONDS:-60}" "$corpus"
done
