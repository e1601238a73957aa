#!/usr/bin/env bash
# The benchmarks: bash scripts/bench.sh BUILD_DIR [--smoke]
#
# Runs every comparison benchmark of BUILD_DIR/bin and collects their tables in
# BUILD_DIR/bench/results.md, headed by the machine and the commands. With --smoke every one
# runs with tiny counts into BUILD_DIR/bench/smoke-results.md: that run only checks that they
# build, run and do their work, never how fast. Missed targets never fail either run.
set -euo pipefail
build=${1:?usage: bench.sh BUILD_DIR [--smoke]}
mode=${2:-full}
build=$(cd "$build" && pwd)
bin="$build/bin"
mkdir -p "$build/bench"

if [ "$mode" = --smoke ]; then
  results="$build/bench/smoke-results.md"
  runs=(
    "bench_http_get --gets 60 --rounds 3"
    "bench_tls_get --gets 30 --new-connections 6 --rounds 3"
    "bench_update --updates 60 --rounds 3"
    "bench_whole_run --sizes 30,90 --rounds 1"
    "bench_startup --starts 2"
  )
else
  results="$build/bench/results.md"
  runs=(
    "bench_http_get --gets 10000 --rounds 20"
    "bench_tls_get --gets 5000 --new-connections 500 --rounds 10"
    "bench_update --updates 10000 --rounds 20"
    "bench_whole_run --sizes 1000,10000,100000 --rounds 5"
    "bench_startup --starts 20"
  )
fi

cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//' || true)
{
  echo "# Lirenta benchmark results"
  echo
  echo "- date: $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "- machine: $(nproc) CPUs ($cpu), $(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo) memory, Linux $(uname -r)"
  echo "- build: $build ($(grep -m1 '^CMAKE_BUILD_TYPE' "$build/CMakeCache.txt" | cut -d= -f2))"
  echo "- commands (in $bin):"
  for run in "${runs[@]}"; do echo "  - \`$run\`"; done
  echo
} > "$results"

status=0
for run in "${runs[@]}"; do
  read -r -a words <<< "$run"
  echo "== $run"
  if ! "$bin/${words[0]}" "${words[@]:1}" --results "$results"; then
    echo "${words[0]} failed" >&2
    echo "**${words[0]} failed to run.**" >> "$results"
    status=1
  fi
  echo
done

if [ "$mode" != --smoke ]; then
  # The Google Benchmark programs of the units, as they print themselves.
  for program in "$bin"/bench_query_walk "$bin"/bench_read_line; do
    [ -x "$program" ] || continue
    name=$(basename "$program")
    echo "== $name"
    if output=$("$program" 2>&1); then
      echo "$output"
      printf '### %s (Google Benchmark)\n\n```\n%s\n```\n\n' "$name" "$output" >> "$results"
    else
      echo "$output"; echo "$name failed" >&2; status=1
    fi
  done
fi

echo "Results: $results"
exit $status
