#!/usr/bin/env bash
# Installs the built tree into a temporary prefix, checks what lands where,
# then builds a small C host against it twice (through the CMake package and
# through pkg-config) and runs both.
#   install_test.sh BUILD_DIR WITH_JAVA(0|1)
set -euo pipefail
build=$1
with_java=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

fail() {
  echo "install test: $*" >&2
  exit 1
}

cmake --install "$build" --prefix "$prefix" > "$work/install.log" ||
  { cat "$work/install.log" >&2; fail "cmake --install failed"; }

lib=$(find "$prefix" -name 'libqorapi.so' -print -quit)
[ -n "$lib" ] || fail "no libqorapi.so under the prefix"
libdir=$(dirname "$lib")
# The development link points at the SONAME link, which points at the file.
soname=$(readlink "$lib")
[[ "$soname" =~ ^libqorapi\.so\.[0-9]+$ ]] || fail "libqorapi.so points at '$soname'"
real=$(readlink "$libdir/$soname")
[[ "$real" =~ ^libqorapi\.so\.[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "$soname points at '$real'"
[ -f "$libdir/$real" ] || fail "$real is missing"
objdump -p "$libdir/$real" | grep -q "SONAME *$soname\$" || fail "$real does not carry SONAME $soname"

for f in include/qorapi.h include/qor/export.h include/qor/qorfile.h bin/qorctl bin/qor-agent; do
  [ -e "$prefix/$f" ] || fail "$f is missing"
done
[ -f "$libdir/cmake/qorapi/qorapiConfig.cmake" ] || fail "no CMake package"
[ -f "$libdir/pkgconfig/qorapi.pc" ] || fail "no pkg-config file"
if [ "$with_java" = 1 ]; then
  [ -e "$prefix/share/java/qorapi.jar" ] || fail "share/java/qorapi.jar is missing"
fi
# Installed programs find the installed library.
"$prefix/bin/qorctl" --help > /dev/null || fail "installed qorctl does not run"

# No agent listens on port 1 and the home is empty: the value call fails.
export QOR_HOME=$work/home QOR_FIRST_PORT=1 QOR_SECOND_PORT=1
mkdir -p "$QOR_HOME"

cmake -S "$here/host" -B "$work/cmake-host" -DCMAKE_PREFIX_PATH="$prefix" \
  > "$work/cmake-host.log" 2>&1 || { cat "$work/cmake-host.log" >&2; fail "CMake host: configure"; }
cmake --build "$work/cmake-host" > "$work/cmake-build.log" 2>&1 ||
  { cat "$work/cmake-build.log" >&2; fail "CMake host: build"; }
"$work/cmake-host/host" || fail "CMake host failed"

export PKG_CONFIG_PATH=$libdir/pkgconfig
# shellcheck disable=SC2046
cc -std=c11 -Wall -Werror -o "$work/pc-host" "$here/host/host.c" $(pkg-config --cflags --libs qorapi) \
  -Wl,-rpath,"$(pkg-config --variable=libdir qorapi)" || fail "pkg-config host: build"
"$work/pc-host" || fail "pkg-config host failed"

# Every public header compiles alone, in C and in C++, and a host that
# includes qor/qorcrypto.h alone still finds every name it declared.
for header in $(cd "$prefix/include" && find . -name '*.h' | sed 's|^\./||' | sort); do
  printf '#include <%s>\n' "$header" > "$work/alone.c"
  cc -std=c11 -Wall -Wextra -Werror -fsyntax-only -I"$prefix/include" "$work/alone.c" ||
    fail "$header does not compile alone in C"
  c++ -std=c++20 -Wall -Wextra -Werror -fsyntax-only -I"$prefix/include" -x c++ "$work/alone.c" ||
    fail "$header does not compile alone in C++"
done
cc -std=c11 -Wall -Wextra -Werror -fsyntax-only -I"$prefix/include" "$here/host/crypto_host.c" ||
  fail "a host of qor/qorcrypto.h alone does not compile"
echo "install test: library, headers (each alone), programs, CMake package and pkg-config file work"
