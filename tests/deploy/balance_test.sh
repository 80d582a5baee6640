#!/usr/bin/env bash
# nginx (Debian's, examples/deploy/nginx.conf) balancing two vekpp serve
# processes on loopback: one is stopped while four clients send 1,500
# requests each; every request must be answered 200 (nginx sends those the
# stopped server cannot answer to the other).
# Args: VEKPP SITE_DIR NGINX_CONF. Exit 77 (skipped) without nginx or curl.
set -euo pipefail
vekpp=$1 site=$2 conf=$3
nginx=$(command -v nginx || ls /usr/sbin/nginx 2>/dev/null || true)
if [ -z "$nginx" ] || ! command -v curl > /dev/null; then
  echo "nginx or curl is not installed (scripts/install-deps.sh deploy): skipped"
  exit 77
fi
work=$(mktemp -d)
chmod 755 "$work"
pids=()
cleanup() {
  for p in "${pids[@]+"${pids[@]}"}"; do kill "$p" 2> /dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# Starts vekpp serve; sets port to the port it picked.
start_server() {  # NAME
  "$vekpp" serve "$site" --port 0 --no-live-reload --max-per-client 1024 2> "$work/$1.log" &
  pids+=($!)
  eval "$1_pid=$!"
  port=""
  for _ in $(seq 100); do
    port=$(grep -o 'http://127\.0\.0\.1:[0-9]*/' "$work/$1.log" | grep -o '[0-9]*/$' | tr -d / || true)
    [ -n "$port" ] && return 0
    sleep 0.1
  done
  echo "vekpp serve did not start"; cat "$work/$1.log"; exit 1
}
start_server a; port_a=$port
start_server b; port_b=$port

# nginx on a free port (a few tries), with the example's configuration.
mkdir -p "$work/tmp"
front=""
for try in 1 2 3 4 5; do
  candidate=$((20000 + RANDOM % 20000))
  sed -e "s/127.0.0.1:8081/127.0.0.1:$port_a/; s/127.0.0.1:8082/127.0.0.1:$port_b/" \
      -e "s/listen 127.0.0.1:8080/listen 127.0.0.1:$candidate/" \
      -e "s/worker_processes auto/worker_processes 2/" "$conf" > "$work/nginx.conf"
  "$nginx" -p "$work" -c "$work/nginx.conf" -e "$work/error.log" &
  nginx_pid=$!
  for _ in $(seq 50); do
    if curl -s -o /dev/null "http://127.0.0.1:$candidate/"; then front=$candidate; break; fi
    kill -0 "$nginx_pid" 2> /dev/null || break
    sleep 0.1
  done
  [ -n "$front" ] && break
  kill "$nginx_pid" 2> /dev/null || true
  wait "$nginx_pid" 2> /dev/null || true
done
[ -n "$front" ] || { echo "nginx did not start"; cat "$work/error.log"; exit 1; }
pids+=("$nginx_pid")

# Four clients, 1,500 requests each over kept-alive connections; server a
# is stopped while they run, once it has answered 200 of them.
url="http://127.0.0.1:$front/"
clients=()
for c in 1 2 3 4; do
  urls=()
  for _ in $(seq 1500); do urls+=(-o /dev/null "$url"); done
  curl -s --max-time 120 -w '%{http_code}\n' "${urls[@]}" > "$work/codes.$c" &
  clients+=($!)
done
for _ in $(seq 300); do
  [ "$(grep -c '"GET /" 200' "$work/a.log" || true)" -ge 200 ] && break
  sleep 0.02
done
kill -TERM "$a_pid"
status=0
wait "$a_pid" || status=$?
for c in "${clients[@]}"; do wait "$c" || true; done

fail=0
total=$(cat "$work"/codes.* | wc -l)
ok=$(cat "$work"/codes.* | grep -c '^200$' || true)
served_a=$(grep -c '"GET /" 200' "$work/a.log" || true)
served_b=$(grep -c '"GET /" 200' "$work/b.log" || true)
echo "requests: $total, answered 200: $ok; server a answered $served_a (then stopped), b $served_b"
[ "$total" -eq 6000 ] || { echo "expected 6000 requests"; fail=1; }
[ "$ok" -eq "$total" ] || { echo "failed:"; cat "$work"/codes.* | sort | uniq -c; fail=1; }
[ "$status" -eq 0 ] || { echo "server a ended with status $status"; fail=1; }
grep -q "vekpp: stopped" "$work/a.log" || { echo "server a did not stop cleanly"; fail=1; }
[ "$served_a" -gt 0 ] && [ "$served_b" -gt 0 ] || { echo "both servers should have answered"; fail=1; }
[ "$fail" -eq 0 ] || { tail -5 "$work/error.log" 2> /dev/null || true; exit 1; }
echo "no request failed"
