#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a share of SECONDS (default 60).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
total=${1:-60}
CC=clang CXX=clang++ "$root/scripts/build.sh" build-fuzz -DKIV_FUZZ=ON -DKIV_BENCH=OFF -DKIV_TESTS=OFF
targets=("$root"/build-fuzz/fuzz/*_fuzz)
[ -e "${targets[0]}" ] || { echo "fuzz: no targets"; exit 0; }
each=$(( total / ${#targets[@]} )); [ "$each" -ge 5 ] || each=5
for t in "${targets[@]}"; do
  name=$(basename "$t")
  corpus="$root/build-fuzz/corpus/$name"
  mkdir -p "$corpus"
  seeds="$root/build-fuzz/fuzz/seeds/${name%_fuzz}"
  echo "== $name for ${each}s"
  args=("$corpus")
  [ -d "$seeds" ] && args+=("$seeds")
  "$t" -max_total_time="$each" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
       -artifact_prefix="$root/build-fuzz/" "${args[@]}" 2>&1 | grep -E '^(stat::number_of_executed_units|#[0-9]+ *DONE|==[0-9]+==ERROR|SUMMARY)' || true
  test "${PIPESTATUS[0]}" -eq 0
done
