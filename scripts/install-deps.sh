#!/usr/bin/env bash
# Installs what the build needs and a fresh machine may lack, from Debian's
# packages. Each argument names a group: build (default; SQLite for the web
# application example too), sanitize, bench,
# tool (the libraries of vekpp and the standard tags), lint (clang-format and
# clang-tidy), docs (Doxygen for the API reference), package (the Debian
# packaging tools, lintian and mandoc for the packages' checks), browser (headless
# Chromium for the browser tests, and playwright-core from npm, by the lock
# file in tests/browser), load (the HTTP load generator), deploy (nginx for
# the load-balancing example, curl and wrk for the load tests), site-bench (nginx, wrk and Hugo), windows
# (the MinGW-w64 cross compiler, Wine to run its programs, icoutils to read
# the resources of the DLL).
set -euo pipefail

groups=("$@")
[ ${#groups[@]} -gt 0 ] || groups=(build)

want=()
for g in "${groups[@]}"; do
  case "$g" in
    build) want+=(cmake ninja-build g++ binutils libgtest-dev pkgconf
                  nlohmann-json3-dev libcli11-dev libmicrohttpd-dev libcpp-httplib-dev
                  libyaml-cpp-dev libtomlplusplus-dev libmd4c-dev libmd4c-html0-dev groff-base
                  libsqlite3-dev) ;;
    tool) want+=(nlohmann-json3-dev libcli11-dev libmicrohttpd-dev libyaml-cpp-dev
                 libtomlplusplus-dev libmd4c-dev libmd4c-html0-dev) ;;
    lint) want+=(clang-format clang-tidy git) ;;
    docs) want+=(doxygen) ;;
    # dpkg-shlibdeps works out the packages' dependencies; lintian checks
    # them, groff and mandoc the manual page.
    package) want+=(dpkg-dev file pkgconf lintian groff-base mandoc) ;;
    browser) want+=(chromium) ;;
    load) want+=(wrk) ;;
    deploy) want+=(nginx curl wrk) ;;
    site-bench) want+=(nginx wrk hugo) ;;
    # GoogleTest for the cross build is compiled from Debian's source package.
    windows) want+=(cmake ninja-build g++ googletest python3 g++-mingw-w64-x86-64
                    binutils-mingw-w64-x86-64 wine64 icoutils) ;;
    sanitize) want+=(clang libclang-rt-14-dev) ;;
    # Google Benchmark, the peer template engines (Jinja2 and Go's
    # html/template for the catalogue), and what the report uses.
    bench) want+=(libbenchmark-dev libctemplate-dev libkainjow-mustache-dev libmstch-dev pkgconf
                  valgrind gnuplot-nox python3 python3-jinja2 golang-go) ;;
    *) echo "install-deps: unknown group '$g'" >&2; exit 2 ;;
  esac
done

# npm packages, as the committed lock file names them.
npm_dirs=()
for g in "${groups[@]}"; do
  [ "$g" = browser ] && npm_dirs+=("$(dirname "$0")/../tests/browser")
done
for d in "${npm_dirs[@]+"${npm_dirs[@]}"}"; do
  [ -d "$d/node_modules" ] || (cd "$d" && npm ci --no-audit --no-fund --loglevel=error)
done

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}" >&2
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# nginx is installed for the tests and benchmarks, which start their own:
# no service is started by the package (policy-rc.d refuses it for this
# install only).
policy=/usr/sbin/policy-rc.d
made_policy=""
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" > /dev/null
  $SUDO chmod +x "$policy"
  made_policy=1
fi
status=0
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" || status=$?
[ -z "$made_policy" ] || $SUDO rm -f "$policy"
exit $status
