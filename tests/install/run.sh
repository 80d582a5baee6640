#!/usr/bin/env bash
# Installs the build tree BUILD into a fresh prefix, then builds and runs a
# small program against it twice: through find_package and through
# pkg-config; runs the installed vekpp too. Args: BUILD CXX [CXXFLAGS].
set -euo pipefail
build=$1 cxx=$2 flags=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "$build/install-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
expected=$'a[x]b\npq'

cmake --install "$build" --prefix "$work/prefix" > "$work/install.log"
# Only the public headers are installed.
test -f "$work/prefix/include/vek/VekPgProd.h"
test -f "$work/prefix/include/vek/VekStdTags.h"
test ! -e "$work/prefix/include/vek/TagScan.h"
test ! -e "$work/prefix/include/vek/PlatformModule.h"
test ! -e "$work/prefix/include/vek/FindBytes.h"
# Every installed header finds the headers it includes beside it.
for h in "$work/prefix/include/vek/"*.h; do
  for inc in $(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$h"); do
    test -f "$work/prefix/include/vek/$inc" || { echo "$h includes $inc, not installed"; exit 1; }
  done
done

echo "== find_package(VekPageProducer)"
cmake -S "$here/consumer" -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$flags" > "$work/configure.log"
cmake --build "$work/cmake" > "$work/build.log"
out=$("$work/cmake/consumer" "$work")
[ "$out" = "$expected" ] || { echo "unexpected output: $out"; exit 1; }

echo "== pkg-config, with the installed tree moved elsewhere"
mv "$work/prefix" "$work/moved"
pc=$(dirname "$(find "$work/moved" -name VekStdTags.pc)")
export PKG_CONFIG_PATH=$pc
libdir=$(pkg-config --variable=libdir VekPageProducer)
# shellcheck disable=SC2046,SC2086
"$cxx" -std=c++17 $flags "$here/consumer/main.cpp" -o "$work/pc-consumer" \
  $(pkg-config --cflags --libs VekStdTags) -Wl,-rpath,"$libdir"
out=$("$work/pc-consumer" "$work")
[ "$out" = "$expected" ] || { echo "unexpected output: $out"; exit 1; }

echo "== the installed vekpp"
printf 'v=<#v#>' > "$work/v.html"
out=$("$work/moved/bin/vekpp" render "$work/v.html" --set v=1)
[ "$out" = "v=1" ] || { echo "unexpected output: $out"; exit 1; }
echo "install test passed"
