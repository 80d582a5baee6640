#!/usr/bin/env bash
# Headless Chromium loads the example site from vekpp serve: checks the DOM
# it rendered and saves screenshots into ARTIFACTS.
# Args: VEKPP SITE_DIR ARTIFACTS. Exit 77 (skipped) without Chromium.
set -euo pipefail
vekpp=$1 site=$2 artifacts=$3
browser=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$browser" ]; then
  echo "chromium is not installed (scripts/install-deps.sh browser): skipped"
  exit 77
fi
mkdir -p "$artifacts"
work=$(mktemp -d)
server=""
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$vekpp" serve "$site" --port 0 2> "$work/server.log" &
server=$!
url=""
for _ in $(seq 100); do
  url=$(grep -o 'http://127\.0\.0\.1:[0-9]*/' "$work/server.log" || true)
  [ -n "$url" ] && break
  sleep 0.1
done
[ -n "$url" ] || { echo "vekpp serve did not start"; cat "$work/server.log"; exit 1; }

# A fresh profile every run, and nothing that reaches beyond loopback.
chrome() {
  timeout 120 "$browser" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --disable-dev-shm-usage --user-data-dir="$(mktemp -d "$work/profile.XXXXXX")" "$@" \
    2> "$work/chrome.log"
}

fail=0
expect() {  # expect FILE TEXT: the DOM holds TEXT
  if ! grep -qF -- "$2" "$1"; then
    echo "missing from $(basename "$1"): $2"
    fail=1
  fi
}

chrome --dump-dom "$url" > "$work/index.dom"
expect "$work/index.dom" "<title>Today's menu · Café Lumière</title>"
expect "$work/index.dom" "We are open today. Grüezi!"
expect "$work/index.dom" '<span class="name">Crème brûlée</span>'
expect "$work/index.dom" '<span class="name">Борщ со сметаной</span>'
expect "$work/index.dom" '<span class="name">Γιαούρτι με μέλι</span>'
expect "$work/index.dom" "<em>dessert</em>, <em>végétarien</em>"
expect "$work/index.dom" "Prices in CHF &amp; including VAT"
expect "$work/index.dom" "Café Lumière, Zürich"
items=$(grep -o '<li id="dish-[0-9]*">' "$work/index.dom" | wc -l)
[ "$items" -eq 4 ] || { echo "expected 4 dishes, found $items"; fail=1; }
if grep -qF '<#' "$work/index.dom"; then echo "an unexpanded tag reached the page"; fail=1; fi

expect "$work/index.dom" '<span class="price">7.50</span>'  # number=2
expect "$work/index.dom" '<span class="deal">under 8</span>'  # price < 8
expect "$work/index.dom" "4 dishes"                           # length
deals=$(grep -o 'class="deal"' "$work/index.dom" | wc -l)
[ "$deals" -eq 2 ] || { echo "expected 2 dishes under 8, found $deals"; fail=1; }
# The pages as served: a layout's and the blocks' tag lines leave no blank line.
for page in "" about; do
  "$vekpp" render "$site/${page:-index}.html" > "$work/page.html"
  if grep -qn '^[[:space:]]*$' "$work/page.html"; then
    echo "blank lines in ${page:-index}.html:"; grep -n '^[[:space:]]*$' "$work/page.html"; fail=1
  fi
done

chrome --dump-dom "${url}about" > "$work/about.dom"
expect "$work/about.dom" "<title>About · Café Lumière</title>"
expect "$work/about.dom" "Bonjour, Grüezi, Γειά σας, Здравствуйте."
expect "$work/about.dom" "Our team page is coming soon."

chrome --screenshot="$artifacts/site.png" --window-size=900,600 --hide-scrollbars "$url"
[ "$(head -c 8 "$artifacts/site.png" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] ||
  { echo "no PNG screenshot"; fail=1; }

kill -TERM "$server"
status=0
wait "$server" || status=$?
server=""
[ "$status" -eq 0 ] || { echo "vekpp serve ended with status $status"; fail=1; }
# The browser asked for the page and its style sheet.
expect "$work/server.log" '"GET /" 200'
expect "$work/server.log" '"GET /style.css" 200'
expect "$work/server.log" "vekpp: stopped"
cp "$work/server.log" "$artifacts/server.log"
if [ "$fail" -ne 0 ]; then
  cp "$work"/*.dom "$artifacts/" 2>/dev/null || true
  echo "--- chromium:"; tail -20 "$work/chrome.log"
  exit 1
fi
echo "browser test passed; screenshot in $artifacts/site.png"
