#!/usr/bin/env bash
# Installs what is missing, builds, then does the most the project can do with the demo show:
# packs it, inspects it and checks it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" build -DKIV_TESTS=OFF -DKIV_BENCH=OFF
kivpack="$root/build/tools/kivpack/kivpack"
show="$root/build/demo/demo.KvShow"
if [ -f "$show" ]; then
  echo "== kivpack info $show"; "$kivpack" info "$show"
  echo "== kivpack list $show"; "$kivpack" list "$show"
  echo "== kivpack check $show"; "$kivpack" check "$show"
fi
echo "== Project.kiv, main section"
"$kivpack" ini "$root/demo/Project.kiv" main opt_scr_caption
