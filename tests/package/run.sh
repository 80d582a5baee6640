#!/usr/bin/env bash
# The Debian packages of a build tree (made by `make package`): lintian on
# them (its warnings listed, an error fails), what they declare and hold
# (license, changelogs, documentation, the nlohmann dependency pinned to the
# release whose names the library exports); then installed for real: dpkg
# -i, the libraries in the multiarch folder with versioned SONAMEs, a
# program built against them with pkg-config and with find_package (the
# consumer of tests/install), run without any loader path; a host that loads
# the package module (host.cpp); vekpp render, its manual page (checked by
# groff -ww and mandoc -T lint) and completion; last dpkg -P, which must
# leave nothing. A program using the engine (engine.cpp) is built too.
# Needs root (or sudo) and the package
# group of scripts/install-deps.sh. Args: DIR holding the .deb files, CXX.
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

deb() { ls "$debs/$1"_*.deb; }
echo "== lintian"
# Errors fail; warnings are listed (docs/development.md says which remain
# and why). Informational notes are not shown.
lintian_status=0
lintian --fail-on error \
  "$(deb libvekpageproducer1)" "$(deb libvekpageproducer-dev)" "$(deb vekpp)" \
  > "$work/lintian.log" 2>&1 || lintian_status=$?
grep -E '^[EW]: ' "$work/lintian.log" || true
[ $lintian_status -eq 0 ] || fail "lintian reports errors (above)"

echo "== what the packages declare and hold"
docs_runtime="copyright changelog.gz changelog.Debian.gz README.md.gz"
docs_dev="$docs_runtime template-language.md.gz escaping.md.gz"
docs_tool="$docs_dev serve.md.gz"
for p in "${packages[@]}"; do
  contents=$(dpkg-deb -c "$(deb "$p")")
  case $p in
    libvekpageproducer1) docs=$docs_runtime ;;
    libvekpageproducer-dev) docs=$docs_dev ;;
    vekpp) docs=$docs_tool ;;
  esac
  for d in $docs; do
    grep -q "/usr/share/doc/$p/$d$" <<< "$contents" || fail "$p lacks /usr/share/doc/$p/$d"
  done
  # The description: a synopsis, then lines indented by one blank.
  dpkg-deb -f "$(deb "$p")" Description | sed 1d | grep -v -q -E '^ [^ ]' &&
    fail "$p: a line of the long description is not indented by one blank"
done
dpkg-deb -f "$(deb vekpp)" Depends | grep -q "libvekpageproducer1 (= " || fail "vekpp does not depend on the libraries"
dpkg-deb -f "$(deb vekpp)" Depends | grep -q "libmicrohttpd" || fail "vekpp lacks its dependency on the HTTP library"
dpkg-deb -f "$(deb libvekpageproducer-dev)" Depends | grep -q "libvekpageproducer1 (= " ||
  fail "the development package does not depend on the libraries"
# The library exports names in nlohmann's versioned namespace
# (json_abi_v3_11_2): the development package needs that release.
dpkg-deb -x "$(deb libvekpageproducer1)" "$work/runtime"
abi=$(nm -D -C --defined-only "$(find "$work/runtime" -name 'libVekStdTags.so.*.*.*')" |
  grep -o -E 'json_abi[a-z_]*v[0-9]+_[0-9]+_[0-9]+::' | sed 's/::$//' | sort -u)
[ -n "$abi" ] && [ "$(wc -l <<< "$abi")" -eq 1 ] || fail "libVekStdTags exports nlohmann names of several releases: $abi"
release=$(sed -E 's/.*v([0-9]+)_([0-9]+)_([0-9]+)$/\1.\2.\3/' <<< "$abi")
dpkg-deb -f "$(deb libvekpageproducer-dev)" Depends |
  grep -q "nlohmann-json3-dev (>= $release), nlohmann-json3-dev (<< $release.~)" ||
  fail "the development package does not pin nlohmann-json3-dev to $release (the exported $abi)"

echo "== dpkg -i"
$SUDO dpkg -i "$(deb libvekpageproducer1)" "$(deb libvekpageproducer-dev)" "$(deb vekpp)" > "$work/dpkg.log"

echo "== versioned SONAMEs in the multiarch folder"
multiarch=$("$cxx" -print-multiarch)
for lib in VekVCL50 VekINET50 PVekPgPrd VekStdTags; do
  file=$(dpkg -L libvekpageproducer1 | grep "^/usr/lib/$multiarch/lib$lib\.so\.1\.0\.0$") ||
    fail "no /usr/lib/$multiarch/lib$lib.so.1.0.0"
  readelf -d "$file" | grep "SONAME.*\[lib$lib\.so\.1\]" > /dev/null || fail "$file: SONAME is not lib$lib.so.1"
done

expected=$'a[x]b\npq'
echo "== pkg-config"
# shellcheck disable=SC2046
"$cxx" -std=c++17 "$consumer/main.cpp" -o "$work/pc-consumer" $(pkg-config --cflags --libs VekStdTags)
out=$("$work/pc-consumer" "$work")
[ "$out" = "$expected" ] || fail "pkg-config consumer: $out"

echo "== the engine: templates in memory, a modifier, a tag, a stream, an error's fields"
# shellcheck disable=SC2046
"$cxx" -std=c++17 -Wall -Wextra -Wpedantic -Wshadow -Werror "$here/engine.cpp" -o "$work/engine" \
  $(pkg-config --cflags --libs VekStdTags)
out=$("$work/engine")
expected_engine=$'<h1>Fruit &amp; veg!</h1><p>Hello, Ann &amp; Bo</p>\nbad.html:2:3: modifier "shout": shout takes no argument'
[ "$out" = "$expected_engine" ] || fail "engine consumer: $out"

echo "== the package module, loaded by a host by its SONAME"
# shellcheck disable=SC2046
"$cxx" -std=c++17 "$here/host.cpp" -o "$work/host" $(pkg-config --cflags --libs VekPageProducer)
out=$("$work/host")
[ "$out" = "TVekPageProducer on Internet" ] || fail "package host: $out"

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
page=$(dpkg -L vekpp | grep "/man1/vekpp\.1\.gz$") || fail "no manual page"
zcat "$page" > "$work/vekpp.1"
warnings=$(groff -ww -man -z "$work/vekpp.1" 2>&1)
[ -z "$warnings" ] || fail "groff -ww on the manual page: $warnings"
mandoc -T lint -W warning "$work/vekpp.1" || fail "mandoc -T lint on the manual page (above)"
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
