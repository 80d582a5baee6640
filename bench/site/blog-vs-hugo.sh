#!/usr/bin/env bash
# A Markdown blog built by `vekpp build` and by Hugo (Debian's) from the same
# content: POSTS posts (default 10,000), each a Markdown file with YAML front
# matter (title, date, three tags of 20) and five paragraphs with a heading,
# a list and emphasis; a home page paginated 10 to a page; a page per tag;
# equivalent templates. Reports, per tool, the best of RUNS builds: wall
# time, CPU time of the process (user + system, all its threads), pages per
# second of CPU, and peak memory (maximum resident set, GNU time). Then,
# per tool, one watching process (vekpp build --watch, hugo --watch): its
# first build, and the rebuild after one post's body is edited, each as CPU
# time of the process (user + system, from /proc) and the wall time the
# tool reports, and the rebuild's share of the first build measured in that
# one run. Between the two, a second `vekpp build` process into the output
# of the first (from its state), unchanged and after one post is edited,
# as a share of the full build's CPU and wall time.
# Args: [BUILD_DIR] [POSTS] [RUNS]. Needs hugo (scripts/install-deps.sh site-bench);
# VEKPP_ONLY=1 measures vekpp alone.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build} posts=${2:-10000} runs=${3:-3}
vekpp=$build/bin/vekpp
[ -x "$vekpp" ] || { echo "no $vekpp: build first (make build)" >&2; exit 2; }
[ -n "${VEKPP_ONLY:-}" ] || command -v hugo > /dev/null || scripts/install-deps.sh site-bench
[ -x /usr/bin/time ] || { echo "GNU time (/usr/bin/time) is needed" >&2; exit 2; }

work=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
python3 - "$work" "$posts" <<'PY'
import os, random, sys
work, n = sys.argv[1], int(sys.argv[2])
rnd = random.Random(1)
words = "alpha beta gamma delta epsilon zeta eta theta iota kappa lambda mu nu xi omicron pi rho sigma tau".split()
tags = [f"tag{i}" for i in range(20)]
def para():
    return " ".join(("*%s*" % w if rnd.random() < 0.05 else w) for w in (rnd.choice(words) for _ in range(60)))
def post(i):
    body = f"## Part one\n\n{para()}\n\n- {para()[:80]}\n- {para()[:80]}\n\n" + "\n\n".join(para() for _ in range(4))
    fm = (f'---\ntitle: "Post {i}"\ndate: 2020-01-01T00:00:{i % 60:02d}Z\n'
          f'tags: [{", ".join(rnd.sample(tags, 3))}]\n---\n')
    return fm + body + "\n"
texts = [post(i) for i in range(n)]
head = '<!DOCTYPE html>\n<html><head><meta charset="utf-8"><title>%s</title></head><body>\n'
# vekpp
v = os.path.join(work, "vekpp")
for d in ("posts", "_layouts"):
    os.makedirs(os.path.join(v, d))
open(os.path.join(v, "vekpp.toml"), "w").write('title = "Bench blog"\nlayout = "page.html"\n')
open(os.path.join(v, "_layouts", "page.html"), "w").write(
    head % "<#page.title#> · <#site.title#>" +
    '<article><h1><#page.title#></h1><p><#page.date#></p>\n'
    '<ul><#each t in page.tags#><li><#t#></li><#/each#></ul>\n<#block content#><#/block#></article>\n</body></html>\n')
open(os.path.join(v, "index.html"), "w").write(
    '---\npaginate: 10\n---\n' + head % "<#site.title#>" +
    '<#each p in pager.pages#><h2><a href="<#p.url#>"><#p.title#></a></h2><p><#p.summary#></p>\n<#/each#>'
    '<a href="<#pager.next#>">next</a>\n</body></html>\n')
open(os.path.join(v, "_tag.html"), "w").write(
    head % "<#page.title#>" + '<#each p in page.pages#><a href="<#p.url#>"><#p.title#></a>\n<#/each#></body></html>\n')
for i, t in enumerate(texts):
    open(os.path.join(v, "posts", f"p{i}.md"), "w").write(t)
# Hugo
h = os.path.join(work, "hugo")
for d in ("content/posts", "layouts/_default"):
    os.makedirs(os.path.join(h, d))
open(os.path.join(h, "config.toml"), "w").write(
    'baseURL = "/"\ntitle = "Bench blog"\npaginate = 10\nignoreErrors = ["error-disable-taxonomy"]\n'
    'disableKinds = ["taxonomy", "RSS", "sitemap", "robotsTXT", "404", "section"]\n'
    '[taxonomies]\ntag = "tags"\n')
open(os.path.join(h, "layouts/_default/single.html"), "w").write(
    head % "{{ .Title }} · {{ .Site.Title }}" +
    '<article><h1>{{ .Title }}</h1><p>{{ .Params.date }}</p>\n'
    '<ul>{{ range .Params.tags }}<li>{{ . }}</li>{{ end }}</ul>\n{{ .Content }}</article>\n</body></html>\n')
open(os.path.join(h, "layouts/index.html"), "w").write(
    head % "{{ .Site.Title }}" +
    '{{ $p := .Paginate (where .Site.RegularPages "Section" "posts") }}'
    '{{ range $p.Pages }}<h2><a href="{{ .RelPermalink }}">{{ .Title }}</a></h2><p>{{ .Summary }}</p>\n{{ end }}'
    '{{ with $p.Next }}<a href="{{ .URL }}">next</a>{{ end }}\n</body></html>\n')
open(os.path.join(h, "layouts/_default/term.html"), "w").write(
    head % "{{ .Title }}" + '{{ range .Pages }}<a href="{{ .RelPermalink }}">{{ .Title }}</a>\n{{ end }}</body></html>\n')
for i, t in enumerate(texts):
    open(os.path.join(h, "content/posts", f"p{i}.md"), "w").write(t)
PY

measure() {  # NAME CMD...: the run of least CPU time: wall, CPU, peak memory
  local name=$1 best="" line=""
  shift
  for _ in $(seq "$runs"); do
    rm -rf "$work/out"
    /usr/bin/time -o "$work/time" -f "%e %U %S %M" "$@" > /dev/null 2> "$work/err" ||
      { echo "$name failed:"; cat "$work/err"; exit 1; }
    local out w u s m cpu
    out=$(tail -1 "$work/time")
    read -r w u s m <<< "$out"
    cpu=$(awk -v u="$u" -v s="$s" 'BEGIN{print u + s}')
    if [ -z "$best" ] || awk "BEGIN{exit !($cpu < $best)}"; then best=$cpu line="$w $cpu $m"; fi
  done
  line_kept=$line
  local pages
  pages=$(find "$work/out" -name '*.html' | wc -l)
  read -r w cpu m <<< "$line"
  awk -v n="$name" -v w="$w" -v c="$cpu" -v m="$m" -v p="$pages" \
    'BEGIN{printf "%-12s %6d pages %7.2f s wall %7.2f s CPU %8.0f pages/CPU-s %8.1f MB peak\n", n, p, w, c, p / (c > 0 ? c : 0.001), m / 1024}'
}

echo "$posts posts, best of $runs runs, $(nproc) cores"
# A build does not trust the stamps of sources modified in the second before
# it began (the next build reads them again): the content just made is
# left that second, so that the second build below measures a settled site.
sleep 1.1
measure "vekpp build" "$vekpp" build "$work/vekpp" -o "$work/out"
read -r full_wall full_cpu _ <<< "$line_kept"

# A second `vekpp build` process into the same folder, which starts from
# the state the first left there: with nothing changed, then after one
# post's body is edited; each beside the full build above (CPU and wall).
again() {  # NAME: one more build into $work/out
  /usr/bin/time -o "$work/time" -f "%e %U %S %M" "$vekpp" build "$work/vekpp" -o "$work/out" \
    > /dev/null 2> "$work/err" || { echo "$1 failed:"; cat "$work/err"; exit 1; }
  local w u s m
  read -r w u s m <<< "$(tail -1 "$work/time")"
  awk -v n="$1" -v w="$w" -v u="$u" -v s="$s" -v m="$m" -v fw="$full_wall" -v fc="$full_cpu" \
    -v r="$(grep -o '[0-9]* pages rendered' "$work/err")" 'BEGIN{c = u + s
    printf "%-34s %7.2f s CPU (%4.1f %% of the full build) %6.2f s wall (%4.1f %%) %7.1f MB peak; %s\n",
      n, c, 100 * c / fc, w, 100 * w / fw, m / 1024, r}'
}
echo "A second vekpp build process, from the first's state:"
again "nothing changed"
sleep 1.1 # the sources older than the second a build does not trust
printf '\nOne more sentence, edited.\n' >> "$work/vekpp/posts/p$((posts / 3)).md"
again "after editing one post's body"
[ -n "${VEKPP_ONLY:-}" ] || measure "hugo" hugo --quiet -s "$work/hugo" -d "$work/out"

# NAME POST READY_RE DONE_RE CMD...: the watching process CMD, whose output
# gains a line matching READY_RE when its first build is done and watching,
# and one matching DONE_RE per rebuild; POST is the file edited. Wall times
# are measured here, polling every 20 ms: from the start to READY_RE, and
# from the edit to DONE_RE (the watcher's own delay included).
rebuild() {
  local name=$1 post=$2 ready_re=$3 done_re=$4
  shift 4
  local log=$work/watch-$name.log tck
  tck=$(getconf CLK_TCK)
  rm -rf "$work/out"
  now() { date +%s.%N; }
  wait_for() { # RE COUNT
    for _ in $(seq 30000); do
      [ "$(grep -cE "$1" "$log" || true)" -ge "$2" ] && return 0
      sleep 0.02
    done
    echo "$name: no line matching $1 after 600 s:" >&2
    cat "$log" >&2
    kill "$pid"
    exit 1
  }
  cpu() { awk -v t="$tck" '{printf "%.2f", ($14 + $15) / t}' "/proc/$pid/stat"; }
  local t0 t1 t2 t3 c1 c2 before
  t0=$(now)
  "$@" > "$log" 2>&1 &
  local pid=$!
  wait_for "$ready_re" 1
  t1=$(now)
  sleep 2 # the watcher settled, and the first build's files older than a second
  c1=$(cpu)
  before=$(grep -cE "$done_re" "$log" || true)
  t2=$(now)
  printf '\nOne more sentence, edited.\n' >> "$post"
  wait_for "$done_re" $((before + 1))
  t3=$(now)
  sleep 0.5
  c2=$(cpu)
  kill -TERM "$pid"
  wait "$pid" || true
  awk -v n="$name" -v c1="$c1" -v c2="$c2" -v w1="$(echo "$t1 - $t0" | bc)" \
    -v w2="$(echo "$t3 - $t2" | bc)" 'BEGIN{
    r = c2 - c1
    printf "%-12s first build %6.2f s CPU %6.2f s wall; rebuild after one post %5.2f s CPU %5.2f s wall: %4.1f %% of the first (CPU)\n",
      n, c1, w1, r, w2, 100 * r / (c1 > 0 ? c1 : 0.001)}'
}

echo "Rebuild after editing one post's body, in one watching process:"
mid=p$((posts / 2)).md
rebuild "vekpp" "$work/vekpp/posts/$mid" '^vekpp: watching' 'pages rendered' \
  "$vekpp" build "$work/vekpp" -o "$work/out" --watch
[ -n "${VEKPP_ONLY:-}" ] || rebuild "hugo" "$work/hugo/content/posts/$mid" '^Press Ctrl\+C' '^Total in' \
  hugo --watch -s "$work/hugo" -d "$work/out"
