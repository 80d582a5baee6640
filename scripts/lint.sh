#!/usr/bin/env bash
# The fast lint stage: clang-format on every C/C++ file of the tree (a file
# not formatted as .clang-format says fails it), then clang-tidy with
# .clang-tidy over the libraries, the tool and the examples, through the
# compile database of BUILD (configured here if it has none). clang-tidy's
# findings are warnings and do not fail the stage; a file it cannot compile
# does. Args: [BUILD] (default build-lint). JOBS sets the parallel runs.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-lint}
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
scripts/install-deps.sh lint

echo "== clang-format --dry-run -Werror"
git ls-files -z '*.c' '*.cc' '*.cpp' '*.cxx' '*.h' '*.hpp' |
  xargs -0 clang-format --dry-run -Werror

echo "== clang-tidy (warnings only)"
if [ ! -f "$build/compile_commands.json" ]; then
  scripts/install-deps.sh build
  cmake -S . -B "$build" -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON > /dev/null
fi
# The project's own sources: not the tests, fuzz targets or benchmarks.
mapfile -t sources < <(python3 -c '
import json, os, re, sys
root = os.getcwd() + "/"
seen = set()
for entry in json.load(open(sys.argv[1])):
    f = os.path.join(entry["directory"], entry["file"])
    rel = f[len(root):] if f.startswith(root) else ""
    if re.match(r"(src|platform|package|stdtags|tools|examples)/.*\.(cpp|cc)$", rel) and rel not in seen:
        seen.add(rel)
        print(rel)
' "$build/compile_commands.json")
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
printf '%s\0' "${sources[@]}" |
  xargs -0 -n 1 -P "$jobs" clang-tidy --quiet --use-color=false -p "$build" > "$log" 2> /dev/null ||
  status=$?
# The findings, each with its place and the line after it (the note, or the code).
grep -E -A1 '^/.*: (warning|error):' "$log" | grep -v '^--$' | sed "s|^$PWD/||" || true
if [ $status -ne 0 ]; then
  echo "lint: clang-tidy could not compile a file (its error is above)" >&2
  exit 1
fi
echo "clang-tidy: ${#sources[@]} files, $(grep -c -E '^/.*: warning:' "$log" || true) warnings"
echo "lint passed"
