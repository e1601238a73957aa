#!/usr/bin/env bash
# Each program's manual page and its --help name the same options: every option line of the
# help (an indented line that starts with a dash; the option and its argument end at the first
# two blanks) has a tagged paragraph (.TP) under OPTIONS in the manual page whose tag reads the
# same, and the page tags no option that the help does not list. Both programs, lirenta and
# lirenta-console, take the one set of options.
#
# The tags are rendered by groff, so any markup in them reads as the reader sees it.
set -euo pipefail
build=$1 source=$2

fail() { echo "FAIL: $*" >&2; exit 1; }
command -v groff >/dev/null || fail "groff is missing (make deps installs it)"

for name in lirenta-console lirenta; do
  program=$build/bin/$name
  page=$source/data/man/$name.1
  [ -x "$program" ] || fail "$program is not built"
  [ -f "$page" ] || fail "$page is missing"

  help=$(DISPLAY= "$program" --help) || fail "$name --help failed"
  help_options=$(sed -nE 's/^ +(-[^ ].*)$/\1/p' <<<"$help" | sed -E 's/  .*//; s/ +$//' | sort)
  [ -n "$help_options" ] || fail "no option lines in $name --help:"$'\n'"$help"

  # Each tag of OPTIONS is rendered on a line of its own, after a marker line.
  marker=@@option-tag@@
  page_options=$(awk -v marker="$marker" '
      /^\.SH/ { in_options = ($0 ~ /^\.SH +"?OPTIONS"?[ \t]*$/); print; next }
      in_options && /^\.TP/ {
        print ".PP"; print ".nf"; print marker
        if ((getline tag) > 0) print tag
        print ".fi"; next
      }
      { print }' "$page" |
    groff -man -Tutf8 -P-cbou 2>/dev/null |
    awk -v marker="$marker" 'tagged { print; tagged = 0 } $1 == marker { tagged = 1 }' |
    sed -E 's/\xe2\x88\x92|\xe2\x80\x90/-/g; s/^ +//; s/ +$//; s/ +/ /g' | sort)
  [ -n "$page_options" ] || fail "no tagged paragraphs under OPTIONS in $page"

  only_help=$(comm -23 <(echo "$help_options") <(echo "$page_options"))
  only_page=$(comm -13 <(echo "$help_options") <(echo "$page_options"))
  [ -z "$only_help" ] || fail "listed by $name --help but not in $page:"$'\n'"$only_help"
  [ -z "$only_page" ] || fail "in $page but not listed by $name --help:"$'\n'"$only_page"
  echo "$name --help and its manual page name the same options:"
  echo "$help_options" | sed 's/^/  /'
done
