#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every one of them for a bounded time,
# starting from its seed corpus in fuzz/corpus/<target>/. Fails on any
# crash, leak, timeout or mismatch between the component and the model; the
# input that shows it is left in <build>/artifacts/, and replays with
# <build>/bin/fuzz_<target> <that file>.
#
#   scripts/run-fuzzers.sh [seconds per target]    default: $FUZZ_SECONDS or 60
#   FUZZ_TARGETS="expand params" scripts/run-fuzzers.sh 30
#   FUZZ_BUILD=build-fuzz                          the build directory
#
# The corpus each run grows is kept in <build>/corpus/<target>/ for the
# next run; the seeds in the repository are never written to.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-${FUZZ_SECONDS:-60}}
build=${FUZZ_BUILD:-build-fuzz}

scripts/install-deps.sh build sanitize
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DVEK_FUZZ=ON -DVEK_BUILD_TESTS=OFF \
  -DVEK_BUILD_EXAMPLES=OFF -DVEK_WARNINGS_AS_ERRORS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j 2

targets=${FUZZ_TARGETS:-$(cat "$build/fuzz/targets.txt")}
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
mkdir -p "$build/artifacts"

failed=()
for t in $targets; do
  work="$build/corpus/$t"
  log="$build/fuzz-$t.log"
  mkdir -p "$work"
  args=(-max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048
        -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-")
  [ -f "fuzz/dict/$t.dict" ] && args+=(-dict="fuzz/dict/$t.dict")
  echo "== fuzz $t for ${seconds}s"
  if "$build/bin/fuzz_$t" "${args[@]}" "$work" "fuzz/corpus/$t" >"$log" 2>&1; then
    grep -E '^(Done|stat::new_units_added|stat::peak_rss_mb)' "$log" | tr '\n' ' '
    echo
  else
    failed+=("$t")
    tail -n 60 "$log"
    echo "** fuzz $t FAILED (full log: $log)"
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "run-fuzzers: findings in: ${failed[*]}; inputs in $build/artifacts/" >&2
  exit 1
fi
echo "run-fuzzers: no findings"
