#!/usr/bin/env bash
# Headless Chromium loads a page that vekpp rendered with hostile values in
# every HTML context (escaping/page.html, escaping/payloads.json): no payload
# may run, the page's own script after the values must run, and where a
# context carries a value back the browser must read back the very string.
# Args: VEKPP ARTIFACTS. Exit 77 (skipped) without Chromium, unless CI is set.
set -euo pipefail
vekpp=$1 artifacts=$2
here=$(cd "$(dirname "$0")" && pwd)
browser=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$browser" ]; then
  echo "chromium is not installed (scripts/install-deps.sh browser)"
  [ -n "${CI:-}" ] && exit 1
  exit 77
fi
mkdir -p "$artifacts"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$vekpp" render "$here/escaping/page.html" --data "$here/escaping/payloads.json" \
  -o "$work/page.html"
# A fresh profile, nothing beyond the file itself, time for late events.
timeout 120 "$browser" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync \
  --disable-dev-shm-usage --user-data-dir="$work/profile" --virtual-time-budget=3000 \
  --dump-dom "file://$work/page.html" > "$work/page.dom" 2> "$work/chrome.log"

if ! python3 - "$here/escaping/payloads.json" "$work/page.dom" <<'PY'
import html, json, re, sys
data = json.load(open(sys.argv[1], encoding="utf-8"))
dom = open(sys.argv[2], encoding="utf-8").read()
payloads = data["payloads"]
fail = []
mark = re.search(r'<html[^>]*data-xss="([^"]*)"', dom)
if mark:
    fail.append("payloads ran: " + mark.group(1))
m = re.search(r'<pre id="result">(.*?)</pre>', dom, re.S)
if not m or not m.group(1):
    sys.exit("the page's own script did not run to its end\n" + "\n".join(fail))
out = json.loads(html.unescape(m.group(1)))
if not out.get("done"):
    fail.append("the page's script did not finish")
if out["hits"]:
    fail.append("payloads ran: %s" % out["hits"])
if out["title"] != data["title"]:
    fail.append("title read back as %r" % out["title"])
if len(out["cases"]) != len(payloads):
    fail.append("%d cases in the page, %d payloads" % (len(out["cases"]), len(payloads)))
exact = ["text", "ta", "dq", "sq", "uq", "urlq", "ev", "ev2", "evx", "s1", "s2", "t", "v"]
for i, (p, c) in enumerate(zip(payloads, out["cases"])):
    for k in exact:
        if c.get(k) != p:
            fail.append("payload %d, %s: read back %r, not %r" % (i, k, c.get(k), p))
    # A URL is kept as it is, for the browser to judge harmless, or replaced.
    if c.get("url") == p:
        if c["urlProtocol"] not in ("http:", "https:", "mailto:", "tel:", "file:"):
            fail.append("payload %d: URL kept with protocol %s" % (i, c["urlProtocol"]))
    elif c.get("url") != "about:invalid#vek":
        fail.append("payload %d, url: read back %r" % (i, c.get("url")))
if fail:
    print("\n".join(fail))
    sys.exit(1)
print("%d payloads in %d contexts: none ran, values read back exactly" % (len(payloads), len(exact) + 1))
PY
then
  cp "$work/page.html" "$work/page.dom" "$artifacts/" 2>/dev/null || true
  echo "--- chromium:"; tail -20 "$work/chrome.log"
  exit 1
fi
