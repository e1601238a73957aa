#!/usr/bin/env bash
# Fails when a C or C++ source of the repository differs from what clang-format makes of it with
# the repository's .clang-format, and shows the difference. `--fix` rewrites the files instead.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || { echo "format-check: clang-format is missing (make deps)" >&2; exit 1; }
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files --cached --others --exclude-standard '*.c' '*.cpp' '*.h')
else
  mapfile -t files < <(find app bench db fuzz http runtime tests tools ui -name '*.c' -o -name '*.cpp' -o -name '*.h')
fi
if [ "${1:-}" = --fix ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
status=0
for f in "${files[@]}"; do
  if ! clang-format "$f" | diff -u --label "$f" --label "$f (formatted)" "$f" -; then
    status=1
  fi
done
[ "$status" -eq 0 ] || echo "format-check: the files above differ from .clang-format; 'bash scripts/format-check.sh --fix' formats them" >&2
exit "$status"
