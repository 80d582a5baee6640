#!/usr/bin/env bash
# `vekpp serve` on the example page, by default (the rendered page kept
# until a file of the site or the data changes) and with --no-cache
# (rendered for every request), against nginx (Debian's) sending the same
# page pre-rendered as a static file; wrk on loopback for SECONDS with
# CONNECTIONS connections against each in turn.
# Reports requests/s and the 99th percentile of latency, and the ratio.
# Args: [BUILD_DIR] [SECONDS] [CONNECTIONS]; ROUNDS (default 3) in the
# environment. Needs nginx and wrk
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
start_vekpp() {  # LOG ARGS...: sets url
  local log=$1
  shift
  "$vekpp" serve examples/site --port 0 --quiet --no-live-reload "$@" 2> "$log" &
  pids+=($!)
  url=""
  for _ in $(seq 100); do
    url=$(grep -o 'http://127\.0\.0\.1:[0-9]*/' "$log" || true)
    [ -n "$url" ] && return 0
    sleep 0.1
  done
  echo "vekpp serve did not start"; exit 1
}
start_vekpp "$work/vekpp.log"; vekpp_url=$url
start_vekpp "$work/vekpp-nocache.log" --no-cache; nocache_url=$url

port=$((20000 + RANDOM % 20000))
cat > "$work/nginx.conf" <<CONF
worker_processes auto;
pid nginx.pid;
daemon off;
events { worker_connections 1024; }
http {
  access_log off;
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
pids+=($!)
nginx_url="http://127.0.0.1:$port/"
for _ in $(seq 50); do curl -s -o /dev/null "$nginx_url" && break; sleep 0.1; done
cmp <(curl -s "$vekpp_url") <(curl -s "$nginx_url") ||
  { echo "the two do not send the same page"; exit 1; }

run() {  # NAME URL: appends "req/s p99" of one wrk run to $work/NAME
  wrk -t2 -c"$connections" -d"${seconds}s" --latency "$2" > "$work/wrk.out"
  if grep -q "Non-2xx\|Socket errors" "$work/wrk.out"; then
    echo "$1:"; grep "Non-2xx\|Socket errors" "$work/wrk.out"
  fi
  echo "$(awk '/^Requests\/sec:/ {print $2}' "$work/wrk.out") $(awk '$1 == "99%" {print $2}' "$work/wrk.out")" \
    >> "$work/$1"
}
# The machine is shared: the three are measured in turn, ROUNDS times, and
# each one's median run (by requests/s) is reported.
rounds=${ROUNDS:-3}
echo "wrk -t2 -c$connections -d${seconds}s on loopback, $(nproc) cores (shared with wrk), median of $rounds rounds"
names=("vekpp serve" "vekpp serve --no-cache" "nginx (static file)")
urls=("$vekpp_url" "$nocache_url" "$nginx_url")
for _ in $(seq "$rounds"); do
  for i in 0 1 2; do run "${names[$i]}" "${urls[$i]}"; done
done
for name in "${names[@]}"; do
  sort -n "$work/$name" | awk -v n="$name" '{r[NR] = $1; p[NR] = $2} END {
    m = int((NR + 1) / 2); printf "%-24s %10s req/s   p99 %8s\n", n, r[m], p[m] }' | tee "$work/$name.median"
done
a=$(awk '{print $(NF-3)}' "$work/vekpp serve.median")
c=$(awk '{print $(NF-3)}' "$work/vekpp serve --no-cache.median")
b=$(awk '{print $(NF-3)}' "$work/nginx (static file).median")
awk -v a="$a" -v b="$b" -v c="$c" \
  'BEGIN{printf "vekpp / nginx: %.2f (kept pages), %.2f (rendering every request)\n", a / b, c / b}'
