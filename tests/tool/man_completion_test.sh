#!/usr/bin/env bash
# vekpp's manual page and bash completion against the tool itself: the page
# renders without a warning, names the version, and documents every command
# and option that `vekpp CMD --help` lists; the completion script loads in a
# plain bash and completes the same commands and options, and file names.
# Args: VEKPP MANPAGE COMPLETION VERSION.
set -euo pipefail
vekpp=$1 man=$2 completion=$3 version=$4
fail() { echo "FAIL: $*"; exit 1; }

echo "== version"
[ "$("$vekpp" --version)" = "vekpp $version" ] || fail "vekpp --version: $("$vekpp" --version)"
grep -q "^\.TH VEKPP 1 .*\"vekpp $version\"" "$man" || fail "the page does not name $version"

echo "== the page renders without a warning"
warnings=$(groff -ww -z -man -rCHECKSTYLE=10 "$man" 2>&1)
[ -z "$warnings" ] || fail "groff: $warnings"
if command -v man > /dev/null; then
  text=$(MANWIDTH=80 man -l "$man" 2> "$man.err")
  [ ! -s "$man.err" ] || fail "man -l: $(cat "$man.err")"
  grep -q "vekpp - expand, check, build and serve" <<< "$text" || fail "man -l: no NAME section"
fi

# The long options of `vekpp CMD --help`.
options_of() { "$vekpp" "$@" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u; }
page=$(sed 's/\\-/-/g' "$man")

echo "== every command and option is documented and completed"
# shellcheck disable=SC1090
source "$completion"
complete_line() {  # the completions of the words given, the last being completed
  COMP_WORDS=(vekpp "$@")
  COMP_CWORD=$#
  COMPREPLY=()
  _vekpp
  printf '%s\n' "${COMPREPLY[@]}" | sort
}
commands=$("$vekpp" --help | sed -n '/^Subcommands:/,/^$/p' | awk 'NR > 1 && NF {print $1}' | sort)
[ -n "$commands" ] || fail "no commands in vekpp --help"
# shellcheck disable=SC2086
[ "$(complete_line "")" = "$(printf '%s\n' $commands --help --version | sort)" ] ||
  fail "completion of the command: $(complete_line "" | tr '\n' ' ')"
for c in $commands; do
  grep -q "^\.B.* $c\b\|^\.B $c$" <<< "$page" || fail "the page has no synopsis of $c"
  [ "$c" = help ] && continue
  completed=$(complete_line "$c" --)
  for o in $(options_of "$c"); do
    grep -qF -- "$o" <<< "$page" || fail "the page does not document $c $o"
    grep -qx -- "$o" <<< "$completed" || fail "completion of '$c --' lacks $o"
  done
done
for o in $(options_of); do
  grep -qF -- "$o" <<< "$page" || fail "the page does not document $o"
done

echo "== completion of arguments"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/site"
touch "$work/page.html" "$work/data.json" "$work/my page.html"
cd "$work"
[ "$(complete_line render --d)" = "--data" ] || fail "render --d: $(complete_line render --d)"
[ "$(complete_line help re)" = "render" ] || fail "help re: $(complete_line help re)"
[ "$(complete_line render --data da)" = "data.json" ] || fail "--data da: $(complete_line render --data da)"
[ "$(complete_line render pa)" = "page.html" ] || fail "render pa: $(complete_line render pa)"
[ "$(complete_line check my)" = "my page.html" ] || fail "check my: $(complete_line check my)"
[ "$(complete_line serve "")" = "site" ] || fail "serve: $(complete_line serve "")"
[ -z "$(complete_line serve --port "")" ] || fail "serve --port completes something"
[ "$(complete_line build -o "")" = "site" ] || fail "build -o: $(complete_line build -o "")"
[ "$(complete_line build site -j "")" = "" ] || fail "build -j completes something"
echo "man page and completion test passed"
