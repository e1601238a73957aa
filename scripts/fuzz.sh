#!/usr/bin/env bash
# Builds the libFuzzer targets (clang-14, AddressSanitizer and UndefinedBehaviorSanitizer) in
# their own tree and runs each for a number of seconds over its seed corpus.
#
#   scripts/fuzz.sh SECONDS           each target for SECONDS, its new inputs kept in the tree's
#                                     corpus (build-fuzz/corpus/<target>) for the next run
#   scripts/fuzz.sh --smoke SECONDS   the seeds plus SECONDS of new inputs each, in a throw-away
#                                     corpus (the run `make test` does)
#
# A crash, a broken property or a leak stops that target; its input is kept as
# build-fuzz/crashes/<target>-crash-... and the script fails after running every target.
# Environment: FUZZ_DIR (build tree, default build-fuzz), JOBS (build jobs, default 2),
# FUZZ_TARGETS (names to run, default all).
set -euo pipefail

smoke=0
if [ "${1:-}" = "--smoke" ]; then
  smoke=1
  shift
fi
seconds="${1:-60}"
case "$seconds" in
  '' | *[!0-9]*) echo "usage: $0 [--smoke] SECONDS" >&2; exit 2 ;;
esac

root="$(cd "$(dirname "$0")/.." && pwd)"
fuzz_dir="${FUZZ_DIR:-$root/build-fuzz}"
case "$fuzz_dir" in /*) ;; *) fuzz_dir="$root/$fuzz_dir" ;; esac
jobs="${JOBS:-2}"
# Longest a single input may take before it counts as a hang.
input_timeout=10
# A target stuck past its time by this much is stopped from outside.
grace=60

if [ ! -f "$fuzz_dir/Makefile" ]; then
  CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$fuzz_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLIRENTA_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
fi
cmake --build "$fuzz_dir" -j"$jobs"

targets="${FUZZ_TARGETS:-}"
if [ -z "$targets" ]; then
  for exe in "$fuzz_dir"/bin/fuzz_*; do targets+=" ${exe##*/fuzz_}"; done
fi

mkdir -p "$fuzz_dir/crashes" "$fuzz_dir/logs"
work_root="$fuzz_dir/corpus"
if [ "$smoke" -eq 1 ]; then
  work_root="$(mktemp -d)"
  trap 'rm -rf "$work_root"' EXIT
fi

# UndefinedBehaviorSanitizer findings stop the target like any crash.
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"

failed=()
printf '%-14s %8s %12s %8s  %s\n' target seconds executions corpus result
for t in $targets; do
  exe="$fuzz_dir/bin/fuzz_$t"
  seeds="$root/fuzz/corpus/$t"
  work="$work_root/$t"
  log="$fuzz_dir/logs/$t.log"
  mkdir -p "$work"
  args=(-max_total_time="$seconds" -timeout="$input_timeout" -rss_limit_mb=2048
        -print_final_stats=1 -artifact_prefix="$fuzz_dir/crashes/$t-")
  [ -f "$root/fuzz/dict/$t.dict" ] && args+=(-dict="$root/fuzz/dict/$t.dict")
  result=ok
  if ! timeout $((seconds + grace)) "$exe" "${args[@]}" "$work" "$seeds" >"$log" 2>&1; then
    result="FAILED (see $log)"
    failed+=("$t")
  fi
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
  size="$(ls "$work" | wc -l)"
  printf '%-14s %8s %12s %8s  %s\n' "$t" "$seconds" "${runs:-?}" "$size" "$result"
done

if [ "${#failed[@]}" -gt 0 ]; then
  echo "fuzz targets that failed: ${failed[*]}" >&2
  exit 1
fi
