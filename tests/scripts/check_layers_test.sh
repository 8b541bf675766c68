#!/usr/bin/env bash
# scripts/check_layers.sh passes on this tree and fails on copies of it with
# one planted fault each: a loop between folders of one layer, an upward
# include, a loop between agent and service, a loop between two engine
# subfolders, an upward include inside a public header, and a public header
# without an owner. Works only in a temporary directory of its own.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

"$root/scripts/check_layers.sh" "$root" >"$work/real.out" 2>&1 || {
  echo "FAIL: the check fails on the real tree:"
  cat "$work/real.out"
  exit 1
}

# plant <name> <expect> <file> <line> [<file> <line>]...: a fresh copy of the
# tree with each |line| added at the top of its |file|; the check must fail on
# it and name the planted fault (|expect|, a fixed text of its report).
plant() {
  local name=$1 expect=$2 tree="$work/$1"
  shift 2
  mkdir -p "$tree"
  cp -r "$root/src" "$root/include" "$root/scripts" "$tree/"
  while [ $# -ge 2 ]; do
    mkdir -p "$(dirname "$tree/$1")"
    { printf '%s\n' "$2"; cat "$tree/$1" 2>/dev/null || true; } >"$tree/$1.new"
    mv "$tree/$1.new" "$tree/$1"
    shift 2
  done
  if "$tree/scripts/check_layers.sh" "$tree" >"$tree.out" 2>&1; then
    echo "FAIL: $name: the check passed"
    failures=$((failures + 1))
  elif ! grep -qF -- "$expect" "$tree.out"; then
    echo "FAIL: $name: the report does not say '$expect':"
    cat "$tree.out"
    failures=$((failures + 1))
  else
    echo "ok: $name"
  fi
}

plant same-layer-loop 'include loop: config -> log -> config' \
  src/log/qolog.cpp '#include "config/build.h"'
plant upward 'upward include common -> api: src/common/qostring.cpp: api/instance.h' \
  src/common/qostring.cpp '#include "api/instance.h"'
plant agent-service-loop 'include loop: agent -> service -> agent' \
  src/agent/socket/client_protocol.cpp '#include "service/crypto/qor_crypto.h"'
# access and digits share a layer: one direction passes, both form a loop.
plant engine-subfolder-loop 'include loop: engine/access -> engine/digits -> engine/access' \
  src/engine/access/clock.cpp '#include "engine/digits/digits_internal.h"' \
  src/engine/digits/ff1.cpp '#include "engine/access/clock.h"'
plant engine-subfolder-upward 'upward include engine/access -> engine/keymgr' \
  src/engine/access/clock.cpp '#include "engine/keymgr/key_callbacks.h"'
plant public-header-upward 'upward include common -> api: include/qor/error.h: qorapi.h' \
  include/qor/error.h '#include "qorapi.h"'
plant unowned-header 'include/qor/stray.h has no owner' \
  include/qor/stray.h '/* a header nobody owns */'

exit "$failures"
