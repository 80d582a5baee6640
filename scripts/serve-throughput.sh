#!/usr/bin/env bash
# Throughput of `vekpp serve` on the example page, measured by wrk on
# loopback for a bounded time. Args: [BUILD_DIR] [SECONDS] [CONNECTIONS].
# Needs wrk (scripts/install-deps.sh load) and a built vekpp. For vekpp
# against nginx, see bench/site/serve-vs-nginx.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build} seconds=${2:-10} connections=${3:-8}
vekpp=$build/bin/vekpp
[ -x "$vekpp" ] || { echo "no $vekpp: build first (make build)" >&2; exit 2; }
command -v wrk > /dev/null || scripts/install-deps.sh load

log=$(mktemp)
"$vekpp" serve examples/site --port 0 --no-live-reload 2> "$log" &
server=$!
trap 'kill $server 2> /dev/null || true; rm -f "$log"' EXIT
url=""
for _ in $(seq 100); do
  url=$(grep -o 'http://127\.0\.0\.1:[0-9]*/' "$log" || true)
  [ -n "$url" ] && break
  sleep 0.1
done
[ -n "$url" ] || { echo "vekpp serve did not start" >&2; exit 1; }
echo "wrk -t2 -c$connections -d${seconds}s $url  (one log line per request, to a file)"
wrk -t2 -c"$connections" -d"${seconds}s" --latency "$url"
echo "log lines: $(grep -c '"GET /" 200' "$log")"
