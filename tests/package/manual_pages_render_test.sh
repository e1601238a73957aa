#!/usr/bin/env bash
# Both manual pages render without a warning, read as lintian reads them (man --warnings in
# UTF-8), and each has the sections a reader looks for.
set -euo pipefail
source=$2

fail() { echo "FAIL: $*" >&2; exit 1; }
command -v man >/dev/null || fail "man is missing (make deps installs man-db)"

for name in lirenta lirenta-console; do
  page=$source/data/man/$name.1
  [ -f "$page" ] || fail "$page is missing"
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
    man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null) || fail "man cannot render $page"
  [ -z "$warnings" ] || fail "$page renders with warnings:"$'\n'"$warnings"
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" ENVIRONMENT FILES EXAMPLES; do
    grep -Eq "^\.SH +\"?$section\"?[[:space:]]*\$" "$page" || fail "$page has no $section section"
  done
  for variable in LIRENTA_LYRICS_URL LIRENTA_REPORT LIRENTA_MAX_WAIT SSL_CERT_FILE SSL_CERT_DIR FIREBIRD_LOCK \
      http_proxy https_proxy no_proxy; do
    grep -q "$variable" "$page" || fail "$page does not describe $variable"
  done
  echo "$name(1) renders cleanly and has its sections"
done
