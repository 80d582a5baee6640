#!/usr/bin/env bash
# The web application example under load on loopback: wrk sends search and
# item pages (each rendered by the engine over SQLite queries) from 16
# connections for a few seconds while review forms are posted beside it;
# every answer must be a 2xx, none may fail at the socket, and the server
# must still answer and hold every review afterwards. Prints the requests
# per second (a record, not a limit: the machine is shared).
# Args: VEK_WEBAPP [SECONDS]. Exit 77 (skipped) without wrk or curl, or 1
# under CI, where scripts/install-deps.sh deploy installs them.
set -euo pipefail
webapp=$1 seconds=${2:-4}
if ! command -v wrk > /dev/null || ! command -v curl > /dev/null; then
  echo "wrk or curl is not installed (scripts/install-deps.sh deploy)"
  [ -n "${CI:-}" ] && exit 1
  exit 77
fi
work=$(mktemp -d)
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2> /dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$webapp" --port 0 --db "$work/c.sqlite" 2> "$work/app.log" &
pid=$!
url=""
for _ in $(seq 200); do
  url=$(grep -o 'http://127\.0\.0\.1:[0-9]*/' "$work/app.log" || true)
  [ -n "$url" ] && break
  kill -0 "$pid" 2> /dev/null || break
  sleep 0.1
done
[ -n "$url" ] || { echo "vek_webapp did not start"; cat "$work/app.log"; exit 1; }

# Reviews posted while the load runs: a session's cookie and its form token.
post_reviews() {
  local jar="$work/jar" token
  token=$(curl -s -c "$jar" "${url}item/3" | grep -o 'name="csrf" value="[^"]*"' | head -1 |
            sed 's/.*value="//; s/"$//')
  [ -n "$token" ] || { echo "no form token on ${url}item/3"; return 1; }
  for i in $(seq 20); do
    code=$(curl -s -o /dev/null -w '%{http_code}' -b "$jar" \
             --data-urlencode "csrf=$token" --data-urlencode "text=load review $i <b>" \
             "${url}item/3/review")
    [ "$code" = 303 ] || { echo "review $i: HTTP $code"; return 1; }
  done
}
post_reviews > "$work/posts.log" 2>&1 &
posts=$!

status=0
for path in "?q=lamp" "item/7" "?q=a&page=2"; do
  wrk -t2 -c16 -d"${seconds}s" --latency "$url$path" > "$work/wrk.out" 2>&1 || status=1
  rate=$(awk '/^Requests\/sec:/ {print $2}' "$work/wrk.out")
  p99=$(awk '$1 == "99%" {print $2}' "$work/wrk.out")
  echo "/$path: ${rate:-?} requests/s, p99 ${p99:-?}"
  if grep -q "Non-2xx\|Socket errors" "$work/wrk.out" || [ -z "$rate" ]; then
    cat "$work/wrk.out"
    status=1
  fi
done
if ! wait "$posts"; then
  echo "posting reviews under load failed:"; cat "$work/posts.log"; status=1
fi

# Still answering, every review kept (escaped), nothing logged as failed.
page=$(curl -s -w '\n%{http_code}' "${url}item/3")
[ "$(tail -1 <<< "$page")" = 200 ] || { echo "item page after the load: not 200"; status=1; }
kept=$(grep -c 'load review [0-9]* &lt;b&gt;' <<< "$page" || true)
[ "$kept" = 20 ] || { echo "item page after the load holds $kept of the 20 reviews"; status=1; }
if grep -q "vek_webapp: " <(grep -v "http://127" "$work/app.log"); then
  echo "the server logged failures:"; cat "$work/app.log"; status=1
fi
kill -0 "$pid" 2> /dev/null || { echo "vek_webapp is no longer running"; status=1; }
exit $status
