#!/usr/bin/env bash
# `vekpp build` against Hugo (Debian's) on the same generated site: PAGES
# pages (default 10,000), each with a title, five tags and a paragraph of
# body, a site name and a menu of five links, laid out by equivalent
# templates (header, title, tag list, body, menu, footer). Each tool gets
# the data in its own form: vekpp one _data.json with every page's entry,
# Hugo one content file per page with the same fields as front matter, the
# body as HTML (no Markdown). Reports the best of RUNS builds: wall time,
# pages per second, peak memory (maximum resident set, GNU time).
# Args: [BUILD_DIR] [PAGES] [RUNS]. Needs hugo (scripts/install-deps.sh site-bench).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build} pages=${2:-10000} runs=${3:-3}
vekpp=$build/bin/vekpp
[ -x "$vekpp" ] || { echo "no $vekpp: build first (make build)" >&2; exit 2; }
command -v hugo > /dev/null || scripts/install-deps.sh site-bench
[ -x /usr/bin/time ] || { echo "GNU time (/usr/bin/time) is needed" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$work" "$pages" <<'PY'
import json, os, random, sys
work, n = sys.argv[1], int(sys.argv[2])
rnd = random.Random(1)
words = "alpha beta gamma delta epsilon zeta eta theta iota kappa lambda mu nu xi omicron pi rho sigma tau".split()
menu = [{"name": f"Section {i}", "url": f"/section-{i}/"} for i in range(5)]
pages = {}
for i in range(n):
    pages[f"p{i}"] = {
        "title": f"Page {i}: " + " ".join(rnd.choice(words) for _ in range(4)),
        "tags": [rnd.choice(words) for _ in range(5)],
        "body": " ".join(rnd.choice(words) for _ in range(150)),
    }
# vekpp: one data file, one small template per page, shared partials.
v = os.path.join(work, "vekpp")
os.makedirs(v)
json.dump({"site": {"name": "Bench site", "menu": menu}, "pages": pages}, open(os.path.join(v, "_data.json"), "w"))
open(os.path.join(v, "_header.html"), "w").write(
    '<!DOCTYPE html>\n<html><head><meta charset="utf-8"><title><#title#> · <#site.name#></title></head>\n<body>\n'
    '<nav><#each site.menu#><a href="<#url#>"><#name#></a> <#/each#></nav>\n')
open(os.path.join(v, "_footer.html"), "w").write('<footer><#site.name#></footer>\n</body></html>\n')
os.makedirs(os.path.join(v, "posts"))
for k in pages:
    open(os.path.join(v, "posts", k + ".html"), "w").write(
        f'<#include file="../_header.html" title="{pages[k]["title"]}"#>'
        f'<article><h1><#pages.{k}.title#></h1>\n'
        f'<ul class="tags"><#each pages.{k}.tags#><li><#.#></li><#/each#></ul>\n'
        f'<p><#pages.{k}.body#></p></article>\n<#include file="../_footer.html"#>')
# Hugo: the same fields as front matter, the same layout.
h = os.path.join(work, "hugo")
for d in ("content/posts", "layouts/_default", "data"):
    os.makedirs(os.path.join(h, d))
open(os.path.join(h, "config.toml"), "w").write(
    'baseURL = "/"\ntitle = "Bench site"\nuglyURLs = true\n'
    'disableKinds = ["taxonomy", "term", "RSS", "sitemap", "robotsTXT", "404", "section", "home"]\n')
json.dump({"name": "Bench site", "menu": menu}, open(os.path.join(h, "data", "site.json"), "w"))
open(os.path.join(h, "layouts/_default/single.html"), "w").write(
    '<!DOCTYPE html>\n<html><head><meta charset="utf-8"><title>{{ .Title }} · {{ .Site.Data.site.name }}</title></head>\n<body>\n'
    '<nav>{{ range .Site.Data.site.menu }}<a href="{{ .url }}">{{ .name }}</a> {{ end }}</nav>\n'
    '<article><h1>{{ .Title }}</h1>\n<ul class="tags">{{ range .Params.tags }}<li>{{ . }}</li>{{ end }}</ul>\n'
    '<p>{{ .Params.body }}</p></article>\n<footer>{{ .Site.Data.site.name }}</footer>\n</body></html>\n')
for k, p in pages.items():
    open(os.path.join(h, "content/posts", k + ".html"), "w").write(json.dumps(p) + "\n")
PY

measure() {  # NAME CMD...: best wall time and its peak memory over the runs
  local name=$1 best="" mem="" out
  shift
  for _ in $(seq "$runs"); do
    /usr/bin/time -o "$work/time" -f "%e %M" "$@" > /dev/null 2> "$work/err" ||
      { echo "$name failed:"; cat "$work/err"; exit 1; }
    out=$(tail -1 "$work/time")
    local t=${out% *} m=${out#* }
    if [ -z "$best" ] || awk "BEGIN{exit !($t < $best)}"; then best=$t mem=$m; fi
  done
  awk -v n="$name" -v t="$best" -v m="$mem" -v p="$pages" \
    'BEGIN{printf "%-12s %8.2f s %10.0f pages/s %8.1f MB peak\n", n, t, p / (t > 0 ? t : 0.001), m / 1024}'
}

echo "$pages pages, best of $runs runs, $(nproc) cores"
measure "vekpp build" "$vekpp" build "$work/vekpp" -o "$work/out-vekpp" --ugly-urls
measure "hugo" hugo --quiet -s "$work/hugo" -d "$work/out-hugo"
# The same pages came out of both.
vekpp_pages=$(find "$work/out-vekpp/posts" -name '*.html' | wc -l)
hugo_pages=$(find "$work/out-hugo/posts" -name '*.html' | wc -l)
echo "pages written: vekpp $vekpp_pages, hugo $hugo_pages"
diff <(tr -s ' \n' ' ' < "$work/out-vekpp/posts/p7.html") <(tr -s ' \n' ' ' < "$work/out-hugo/posts/p7.html") > /dev/null &&
  echo "page p7: the same bytes (blanks aside) from both" || echo "page p7 differs between the two (see the templates)"
