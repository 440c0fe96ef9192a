#!/usr/bin/env bash
# Runs ctest in the build folder BUILD with the given extra arguments. Skipped tests are listed at the end;
# with KIV_FAIL_ON_SKIP=1 (as CI runs it) any skipped test fails the run.
set -euo pipefail
build=$1; shift
log=$(mktemp)
trap 'rm -f "$log"' EXIT
rc=0
(cd "$build" && ctest --output-on-failure -j "$(nproc)" "$@") 2>&1 | tee "$log" || rc=$?
skipped=$(grep -E '^[[:space:]]*[0-9]+ - .* \(Skipped\)$' "$log" || true)
if [ -n "$skipped" ]; then
  echo "== skipped tests (each printed its reason above):"
  printf '%s\n' "$skipped"
  if [ "${KIV_FAIL_ON_SKIP:-0}" = 1 ] && [ "$rc" -eq 0 ]; then
    echo "run_ctest: tests were skipped"
    rc=1
  fi
fi
exit "$rc"
