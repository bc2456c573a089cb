#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The README and the pages of docs/ hold together:
# - every relative link and picture (outside code) names a file or folder of
#   the checkout, and an anchor (#...) names a heading of the page it points
#   to, as the page is rendered: lower case, punctuation dropped, blanks as
#   hyphens, a repeated heading numbered -1, -2, ...;
# - every page of docs/ is linked from the README;
# - the README stays a short read that starts with the two quick-start
#   commands;
# - the Layout in docs/architecture.md names folders and files that exist,
#   and every folder of the tree down to src/*/* is in it.
#
#   links.sh TOP [PAGE...]    (the pages default to README.md and docs/*.md)
set -u
top=$1
shift
cd "$top" || exit 2
failures=0
fail() {
  echo "FAIL $1"
  failures=$((failures + 1))
}

pages=("$@")
if ((${#pages[@]} == 0)); then
  pages=(README.md docs/*.md)
fi

# prose PAGE: the page without its fenced code blocks and code spans, so
# that only real links are left.
prose() {
  awk '/^ *```/ { fenced = !fenced; next } !fenced { gsub(/`[^`]*`/, ""); print }' "$1"
}

# anchors PAGE: the anchor of every heading of PAGE, one per line.
anchors() {
  awk '/^ *```/ { fenced = !fenced; next }
       !fenced && /^##?#?#?#?#? / {
         text = $0
         sub(/^#+ +/, "", text); sub(/ +#* *$/, "", text)
         text = tolower(text)
         gsub(/[^a-z0-9 _-]/, "", text)
         gsub(/ /, "-", text)
         anchor = text
         if (text in seen) anchor = text "-" seen[text]
         seen[text]++
         print anchor
       }' "$1"
}

# links PAGE: the target of every inline link and picture, and of every
# reference definition, one per line.
links() {
  prose "$1" | grep -oE '\]\([^)[:space:]]*' | sed 's/^](//'
  prose "$1" | sed -nE 's/^ {0,3}\[[^]]+\]: *([^[:space:]]+).*/\1/p'
}

for page in "${pages[@]}"; do
  [[ -f $page ]] || {
    fail "$page: no such page"
    continue
  }
  dir=$(dirname "$page")
  while IFS= read -r target; do
    [[ -z $target ]] && {
      fail "$page: a link without a target"
      continue
    }
    # Links with a scheme (https:, mailto:) leave the checkout.
    [[ $target =~ ^[A-Za-z][A-Za-z0-9+.-]*: ]] && continue
    path=${target%%#*}
    anchor=
    [[ $target == *#* ]] && anchor=${target#*#}
    if [[ -z $path ]]; then
      file=$page
    else
      file=$dir/$path
      if [[ ! -e $file ]]; then
        fail "$page: link to $target: $file does not exist"
        continue
      fi
      case $(realpath -m "$file")/ in
        "$(realpath "$top")"/*) ;;
        *) fail "$page: link to $target leaves the checkout" ;;
      esac
    fi
    if [[ -n $anchor ]]; then
      if [[ $file != *.md || ! -f $file ]]; then
        fail "$page: link to $target: an anchor into $file, which is not a page"
      elif ! anchors "$file" | grep -qxF -- "$anchor"; then
        fail "$page: link to $target: $file has no heading #$anchor"
      fi
    fi
  done < <(links "$page")
done

# The rest holds for the tree's own pages only.
if (($# > 0)); then
  ((failures == 0)) && echo "all links resolve"
  ((failures == 0)) || echo "$failures check(s) failed"
  ((failures == 0))
  exit
fi

for page in docs/*.md; do
  links README.md | grep -qxE -- "${page}(#.*)?" || fail "README.md does not link to $page"
done

lines=$(wc -l <README.md)
((lines < 200)) || fail "README.md has $lines lines, not under 200"
# The first code block of the README is the quick start, in its first 30 lines.
first_start=$(awk '/^```/ { print NR; exit }' README.md)
first_block=$(awk '/^```/ { if (open) exit; open = 1; next } open { print }' README.md)
expected_block="make run    # installs what fwtool needs, builds only fwtool, runs the main job
make test   # installs the rest, builds everything, runs every test"
((${first_start:-999} <= 30)) ||
  fail "README.md: its first code block starts at line ${first_start:-none}, not in the first 30"
[[ $first_block == "$expected_block" ]] ||
  fail "README.md does not start with the quick start; its first code block: $first_block"

# The Layout: each entry names a folder (or the files of the first line)
# that exists; an indented entry lies in the folder above it.
layout=$(awk '/^## Layout/ { inside = 1; next }
              inside && /^```/ { if (open) exit; open = 1; next }
              inside && open { print }' docs/architecture.md)
[[ -n $layout ]] || fail "docs/architecture.md has no Layout block"
named=()
parent=
while IFS= read -r line; do
  if [[ $line =~ ^([^[:space:]]+/)[[:space:]] ]]; then
    parent=${BASH_REMATCH[1]}
    named+=("${parent%/}")
  elif [[ $line =~ ^\ \ ([^[:space:]]+/)[[:space:]] ]]; then
    named+=("$parent${BASH_REMATCH[1]%/}")
  elif [[ $line =~ ^([^[:space:]].*[^[:space:]])\ \ \  ]]; then
    IFS=', ' read -r -a files <<<"${BASH_REMATCH[1]}"
    for f in "${files[@]}"; do
      [[ -n $f ]] && named+=("$f")
    done
  fi
done <<<"$layout"
for entry in "${named[@]}"; do
  [[ -e $entry ]] || fail "docs/architecture.md Layout: $entry does not exist"
done
# A folder counts as named when the Layout names it or a folder in it.
covered=()
for entry in "${named[@]}"; do
  while [[ -n $entry ]]; do
    covered+=("$entry")
    [[ $entry == */* ]] || break
    entry=${entry%/*}
  done
done
# Every folder of the checkout's top, of src/ and of src/*/ is in the Layout.
while IFS= read -r folder; do
  folder=${folder#./}
  printf '%s\n' "${covered[@]}" | grep -qxF -- "$folder" ||
    fail "docs/architecture.md Layout: $folder is not in it"
done < <(
  find . -mindepth 1 -maxdepth 1 -type d ! -name '.*' ! -name build | sort
  find src -mindepth 1 -maxdepth 2 -type d | sort
)

if ((failures > 0)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
