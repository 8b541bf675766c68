#!/usr/bin/env bash
# Installs clang and its sanitizer and fuzzing runtimes (libclang_rt) when
# missing: the sanitizer suite and the fuzz targets build with them.
set -euo pipefail
exec "$(dirname "$0")/install-deps.sh" clang libclang-rt-14-dev
