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
