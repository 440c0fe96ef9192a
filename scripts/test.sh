#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" build -DKIV_TESTS=ON -DKIV_BENCH=ON
"$root/scripts/run_ctest.sh" "$root/build"
