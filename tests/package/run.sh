#!/usr/bin/env bash
# The Debian packages of a build tree (made by `make package`), installed
# for real: dpkg -i, then a program built against them with pkg-config and
# with find_package (the consumer of tests/install), run without any loader
# path; vekpp render, its manual page and completion; the versioned SONAMEs
# and the license in each package; last dpkg -P, which must leave nothing.
# Needs root (or sudo). Args: DIR holding the .deb files, CXX.
set -euo pipefail
debs=$1 cxx=${2:-c++}
here=$(cd "$(dirname "$0")" && pwd)
consumer=$here/../install/consumer
packages=(vekpp libvekpageproducer-dev libvekpageproducer1)
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
fail() { echo "FAIL: $*"; exit 1; }

work=$(mktemp -d)
purge() { $SUDO dpkg -P "${packages[@]}" > /dev/null 2>&1 || true; rm -rf "$work"; }
trap purge EXIT
purge
mkdir -p "$work"

echo "== what the packages declare"
deb() { ls "$debs/$1"_*.deb; }
for p in "${packages[@]}"; do
  contents=$(dpkg-deb -c "$(deb "$p")")
  grep -q "/usr/share/doc/$p/copyright$" <<< "$contents" || fail "$p has no copyright file"
done
dpkg-deb -f "$(deb vekpp)" Depends | grep -q "libvekpageproducer1 (= " || fail "vekpp does not depend on the libraries"
dpkg-deb -f "$(deb vekpp)" Depends | grep -q "libmicrohttpd" || fail "vekpp lacks its dependency on the HTTP library"
dpkg-deb -f "$(deb libvekpageproducer-dev)" Depends | grep -q "libvekpageproducer1 (= " ||
  fail "the development package does not depend on the libraries"

echo "== dpkg -i"
$SUDO dpkg -i "$(deb libvekpageproducer1)" "$(deb libvekpageproducer-dev)" "$(deb vekpp)" > "$work/dpkg.log"

echo "== versioned SONAMEs"
for lib in VCL50 INET50 PVekPgPrd VekStdTags; do
  file=$(dpkg -L libvekpageproducer1 | grep "/lib$lib\.so\.1\.0\.0$") || fail "no lib$lib.so.1.0.0"
  readelf -d "$file" | grep "SONAME.*\[lib$lib\.so\.1\]" > /dev/null || fail "$file: SONAME is not lib$lib.so.1"
done

expected=$'a[x]b\npq'
echo "== pkg-config"
# shellcheck disable=SC2046
"$cxx" -std=c++17 "$consumer/main.cpp" -o "$work/pc-consumer" $(pkg-config --cflags --libs VekStdTags)
out=$("$work/pc-consumer" "$work")
[ "$out" = "$expected" ] || fail "pkg-config consumer: $out"

echo "== find_package(VekPageProducer)"
cmake -S "$consumer" -B "$work/cmake" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" > "$work/configure.log"
cmake --build "$work/cmake" > "$work/build.log"
out=$("$work/cmake/consumer" "$work")
[ "$out" = "$expected" ] || fail "find_package consumer: $out"

echo "== vekpp"
printf 'v=<#v#>' > "$work/v.html"
out=$(vekpp render "$work/v.html" --set v=1)
[ "$out" = "v=1" ] || fail "vekpp render: $out"
[[ $(vekpp --version) == "vekpp "[0-9]* ]] || fail "vekpp --version"
if command -v man > /dev/null; then
  man -w vekpp > /dev/null || fail "man vekpp finds no page"
fi
completion=$(dpkg -L vekpp | grep "/bash-completion/completions/vekpp$") || fail "no bash completion"
bash -c "source '$completion' && complete -p vekpp" > /dev/null || fail "the completion does not load"

echo "== dpkg -P"
$SUDO dpkg -P "${packages[@]}" > "$work/purge.log"
for p in "${packages[@]}"; do
  ! dpkg-query -W -f='${Status}' "$p" 2> /dev/null | grep -q installed || fail "$p is still installed"
done
[ ! -e /usr/include/vek ] || fail "/usr/include/vek is left behind"
! command -v vekpp > /dev/null || fail "vekpp is left behind"
echo "package test passed"
