#!/usr/bin/env bash
# Says what `make test` did not run and how to run it: the tests that
# skipped themselves (their own message says what is missing), the tests not
# defined at all because a program was missing when the build was configured,
# and the labels `make test` leaves out. Reads the JUnit file ctest wrote.
# Args: BUILD JUNIT EXCLUDED (the labels left out, as a ctest regex a|b).
set -euo pipefail
build=$1 junit=$2 excluded=$3
lines=()

# Skipped tests: a <testcase ... status="notrun"> with <skipped/>, whose
# output's first line is the test's reason.
if [ -f "$junit" ]; then
  while IFS=$'\t' read -r name reason; do
    lines+=("$name: ${reason:-skipped}")
  done < <(awk '
    /<testcase / { match($0, /name="[^"]*"/); name = substr($0, RSTART + 6, RLENGTH - 7)
                   skipped = 0; out = 0; reason = "" }
    /<skipped/ { skipped = 1 }
    /<system-out>/ { out = 1; sub(/.*<system-out>/, ""); if (reason == "") reason = $0; next }
    out && reason == "" && NF { reason = $0 }
    /<\/system-out>/ { out = 0 }
    /<\/testcase>/ { if (skipped) { gsub(/\t/, " ", reason); printf "%s\t%s\n", name, reason } }
  ' "$junit")
fi

# Tests defined only when node was found at configure time.
if grep -q '^VEK_NODE:FILEPATH=.*NOTFOUND' "$build/CMakeCache.txt" 2> /dev/null; then
  lines+=("Browser.EscapingCases, Browser.LiveReload: not defined, node was not found when $build was configured (apt-get install nodejs npm, scripts/install-deps.sh browser, then make test again)")
fi

echo
if [ ${#lines[@]} -eq 0 ]; then
  echo "make test: every test of $build ran, but the labels it leaves out (below)."
else
  echo "make test: these optional tests did not run:"
  for l in "${lines[@]}"; do echo "  $l"; done
  echo "  (the browser group installs Chromium and playwright-core; CI runs them: .ci/run)"
fi
echo "Left out by make test (labels $excluded):"
for label in ${excluded//|/ }; do
  case $label in
    huge) echo "  huge: templates over 2.5 GiB, ~5.2 GB of memory: make test-huge" ;;
    serve-load) echo "  serve-load: vekpp serve under load: scripts/install-deps.sh load, then ctest --test-dir $build -L serve-load" ;;
    *) echo "  $label: ctest --test-dir $build -L $label" ;;
  esac
done
