#!/usr/bin/env bash
# `vekpp serve` on the example page, by default (the rendered page kept
# until a file of the site or the data changes) and with --no-cache
# (rendered for every request), against nginx (Debian's) sending the same
# page pre-rendered as a static file; wrk on loopback for SECONDS with
# CONNECTIONS connections against each in turn.
# Reports requests/s, the 50th and 99th percentiles of latency, the CPU
# time the server spent per request (user and system, all its threads and
# processes), and the ratios.
# Args: [BUILD_DIR] [SECONDS] [CONNECTIONS]; ROUNDS (default 3) in the
# environment, BASELINE (another build directory, e.g. of the previous
# commit) to measure it in the same run (kept pages and --no-cache), and
# ONE_THREAD=1 to measure kept pages with one event thread too. Needs nginx and wrk
# (scripts/install-deps.sh site-bench) and a built vekpp.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build} seconds=${2:-10} connections=${3:-32}
vekpp=$build/bin/vekpp
[ -x "$vekpp" ] || { echo "no $vekpp: build first (make build)" >&2; exit 2; }
nginx=$(command -v nginx || ls /usr/sbin/nginx 2> /dev/null || true)
if [ -z "$nginx" ] || ! command -v wrk > /dev/null; then
  scripts/install-deps.sh site-bench
  nginx=$(command -v nginx || echo /usr/sbin/nginx)
fi

work=$(mktemp -d)
chmod 755 "$work"
pids=()
trap 'for p in "${pids[@]+"${pids[@]}"}"; do kill "$p" 2> /dev/null || true; done; rm -rf "$work"' EXIT

# The page as vekpp serves it, written once for nginx.
mkdir -p "$work/www" "$work/tmp"
"$vekpp" render examples/site/index.html -o "$work/www/index.html"
cp examples/site/style.css "$work/www/"

# vekpp serve as it runs by default (a rendered page kept until a file of
# the site or the data changes), and rendering the page for every request.
start_vekpp() {  # BINARY LOG ARGS...: sets url and pid
  local bin=$1 log=$2
  shift 2
  "$bin" serve examples/site --port 0 --quiet --no-live-reload "$@" 2> "$log" &
  pid=$!
  pids+=("$pid")
  url=""
  for _ in $(seq 100); do
    url=$(grep -o 'http://127\.0\.0\.1:[0-9]*/' "$log" || true)
    [ -n "$url" ] && return 0
    sleep 0.1
  done
  echo "vekpp serve did not start"; exit 1
}
start_vekpp "$vekpp" "$work/vekpp.log"; vekpp_url=$url vekpp_pid=$pid
start_vekpp "$vekpp" "$work/vekpp-nocache.log" --no-cache; nocache_url=$url nocache_pid=$pid
if [ -n "${BASELINE:-}" ]; then
  start_vekpp "$BASELINE/bin/vekpp" "$work/vekpp-base-kept.log"
  base_kept_url=$url base_kept_pid=$pid
  start_vekpp "$BASELINE/bin/vekpp" "$work/vekpp-base.log" --no-cache
  base_url=$url base_pid=$pid
fi
if [ -n "${ONE_THREAD:-}" ]; then
  start_vekpp "$vekpp" "$work/vekpp-one.log" --io-threads 1
  one_url=$url one_pid=$pid
fi

# Like with like: nginx runs one worker per core (vekpp one event thread and
# one render thread per core, by default), and keeps a connection open for as many
# requests as vekpp does (its default closes one after 1,000 requests).
port=$((20000 + RANDOM % 20000))
cat > "$work/nginx.conf" <<CONF
worker_processes auto;
pid nginx.pid;
daemon off;
events { worker_connections 1024; }
http {
  access_log off;
  keepalive_requests 1000000;
  client_body_temp_path tmp/body;
  proxy_temp_path tmp/proxy;
  fastcgi_temp_path tmp/fastcgi;
  uwsgi_temp_path tmp/uwsgi;
  scgi_temp_path tmp/scgi;
  types { text/html html; text/css css; }
  server {
    listen 127.0.0.1:$port;
    root $work/www;
    index index.html;
  }
}
CONF
"$nginx" -p "$work" -c "$work/nginx.conf" -e "$work/error.log" &
nginx_pid=$!
pids+=("$nginx_pid")
nginx_url="http://127.0.0.1:$port/"
for _ in $(seq 50); do curl -s -o /dev/null "$nginx_url" && break; sleep 0.1; done
cmp <(curl -s "$vekpp_url") <(curl -s "$nginx_url") ||
  { echo "the two do not send the same page"; exit 1; }

cpu_ticks() {  # PID: clock ticks of user and system time of PID and its children processes
  local total=0 p
  for p in "$1" $(pgrep -P "$1" || true); do
    total=$((total + $(awk '{print $14 + $15}' "/proc/$p/stat")))
  done
  echo "$total"
}
hz=$(getconf CLK_TCK)
run() {  # NAME URL PID: appends "req/s p50 p99 cpu-us-per-request" of one wrk run to $work/NAME
  local before after
  before=$(cpu_ticks "$3")
  wrk -t2 -c"$connections" -d"${seconds}s" --latency "$2" > "$work/wrk.out"
  after=$(cpu_ticks "$3")
  if grep -q "Non-2xx\|Socket errors" "$work/wrk.out"; then
    echo "$1:"; grep "Non-2xx\|Socket errors" "$work/wrk.out"
  fi
  local requests
  requests=$(awk '/requests in/ {print $1}' "$work/wrk.out")
  echo "$(awk '/^Requests\/sec:/ {print $2}' "$work/wrk.out") $(awk '$1 == "50%" {print $2}' "$work/wrk.out") $(awk '$1 == "99%" {print $2}' "$work/wrk.out") $(awk -v t=$((after - before)) -v n="$requests" -v hz="$hz" 'BEGIN {printf "%.1f", t / hz * 1e6 / n}')" \
    >> "$work/$1"
}
# The machine is shared: the three are measured in turn, ROUNDS times, and
# each one's median run (by requests/s) is reported.
rounds=${ROUNDS:-3}
echo "wrk -t2 -c$connections -d${seconds}s on loopback, $(nproc) cores (shared with wrk), median of $rounds rounds"
names=("vekpp serve" "vekpp serve --no-cache" "nginx (static file)")
urls=("$vekpp_url" "$nocache_url" "$nginx_url")
servers=("$vekpp_pid" "$nocache_pid" "$nginx_pid")
if [ -n "${ONE_THREAD:-}" ]; then
  names+=("vekpp serve --io-threads 1")
  urls+=("$one_url")
  servers+=("$one_pid")
fi
if [ -n "${BASELINE:-}" ]; then
  names+=("baseline (kept pages)" "baseline --no-cache")
  urls+=("$base_kept_url" "$base_url")
  servers+=("$base_kept_pid" "$base_pid")
fi
for _ in $(seq "$rounds"); do
  for i in "${!names[@]}"; do run "${names[$i]}" "${urls[$i]}" "${servers[$i]}"; done
done
printf "%-24s %10s         %8s %8s %16s\n" "" "" "p50" "p99" "CPU/request"
for name in "${names[@]}"; do
  sort -n "$work/$name" | awk -v n="$name" '{r[NR] = $1; a[NR] = $2; p[NR] = $3; c[NR] = $4} END {
    m = int((NR + 1) / 2); printf "%-24s %10s req/s   %8s %8s %13s us\n", n, r[m], a[m], p[m], c[m] }' |
    tee "$work/$name.median"
done
rate() { sed -E 's/.* ([0-9.]+) req\/s.*/\1/' "$work/$1.median"; }
awk -v a="$(rate "vekpp serve")" -v b="$(rate "nginx (static file)")" \
  -v c="$(rate "vekpp serve --no-cache")" \
  'BEGIN{printf "vekpp / nginx: %.2f (kept pages), %.2f (rendering every request)\n", a / b, c / b}'
if [ -n "${ONE_THREAD:-}" ]; then
  awk -v a="$(rate "vekpp serve --io-threads 1")" -v b="$(rate "nginx (static file)")" \
    'BEGIN{printf "vekpp --io-threads 1 / nginx: %.2f (kept pages)\n", a / b}'
fi
if [ -n "${BASELINE:-}" ]; then
  awk -v a="$(rate "vekpp serve")" -v e="$(rate "baseline (kept pages)")" \
    -v c="$(rate "vekpp serve --no-cache")" -v d="$(rate "baseline --no-cache")" \
    -v b="$(rate "nginx (static file)")" \
    'BEGIN{printf "baseline / nginx: %.2f (kept pages), %.2f (rendering every request); this build / baseline: %.2f, %.2f\n", e / b, d / b, a / e, c / d}'
fi
