#!/usr/bin/env bash
# Runs ctest in the build tree $1 with the remaining arguments, and fails when the tree has no
# tests or when any test was skipped: a test whose real part is missing has not passed.
set -uo pipefail
dir=$1
shift
log=$(mktemp)
trap 'rm -f "$log"' EXIT
(cd "$dir" && ctest --no-tests=error "$@") 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
[ "$status" -eq 0 ] || exit "$status"
if grep -qE '\*\*\*Skipped|The following tests did not run' "$log"; then
  echo "ctest.sh: tests were skipped in $dir; a skipped test counts as failed" >&2
  exit 1
fi
