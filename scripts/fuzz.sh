#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a share of SECONDS (default 60).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
total=${1:-60}
names=()
for src in "$root"/fuzz/*_fuzz.cpp; do [ -e "$src" ] && names+=("$(basename "$src" .cpp)"); done
[ ${#names[@]} -gt 0 ] || { echo "fuzz: no targets"; exit 0; }
# Only the fuzz targets and what they link: the rest of the tree is built and tested elsewhere.
CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-fuzz" -G Ninja -DKIV_FUZZ=ON -DKIV_BENCH=OFF -DKIV_TESTS=OFF >/dev/null
cmake --build "$root/build-fuzz" --target "${names[@]}"
targets=()
for n in "${names[@]}"; do targets+=("$root/build-fuzz/fuzz/$n"); done
each=$(( total / ${#targets[@]} )); [ "$each" -ge 5 ] || each=5
for t in "${targets[@]}"; do
  name=$(basename "$t")
  corpus="$root/build-fuzz/corpus/$name"
  mkdir -p "$corpus"
  seeds="$root/build-fuzz/fuzz/seeds/${name%_fuzz}"
  echo "== $name for ${each}s"
  args=("$corpus")
  [ -d "$seeds" ] && args+=("$seeds")
  log="$root/build-fuzz/$name.log"
  rc=0
  "$t" -max_total_time="$each" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
       -artifact_prefix="$root/build-fuzz/$name-" "${args[@]}" >"$log" 2>&1 || rc=$?
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==ERROR|SUMMARY)' "$log" || true
  if [ "$rc" -ne 0 ]; then
    tail -n 60 "$log"
    echo "fuzz: $name failed (exit $rc)"
    exit 1
  fi
done
