#!/usr/bin/env bash
# Runs a cross-built Windows program under Wine in its own prefix:
#   scripts/wine-run.sh PREFIX PROGRAM.exe [ARGS...]
# The prefix (a directory in the build tree) is created on first use, once,
# even when several tests start together. Wine's own messages are silenced.
set -euo pipefail
prefix=$1
shift
wine=$(command -v wine64 || true)
for candidate in /usr/lib/wine/wine64 /usr/lib/x86_64-linux-gnu/wine/wine64; do
  [ -n "$wine" ] || { [ -x "$candidate" ] && wine=$candidate; }
done
[ -n "$wine" ] || { echo "wine-run: wine64 not found (scripts/install-deps.sh windows)" >&2; exit 2; }

export WINEPREFIX=$(realpath -m "$prefix")
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer prompts
mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine" wineboot --init >/dev/null 2>&1 || true
    "$(dirname "$wine")/wineserver" -w 2>/dev/null || true
  fi
) 9>"$WINEPREFIX.lock"
exec "$wine" "$@"
