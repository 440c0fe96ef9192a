#!/usr/bin/env bash
# Installs what is missing, builds, then does the most the player can do with the demo show so far:
# packs it, inspects and checks it, locates it the way the player does, and renders a scene of every
# drawing operation offscreen to PNG.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" build -DKIV_TESTS=OFF -DKIV_BENCH=OFF
bin="$root/build"
kivpack="$bin/tools/kivpack/kivpack"
show="$bin/demo/demo.KvShow"

echo "== kivpack info $show"; "$kivpack" info "$show"
echo "== kivpack list $show"; "$kivpack" list "$show"
echo "== kivpack check $show"; "$kivpack" check "$show"
echo "== kivviewer -exename $show -info"
"$bin/src/shell/kivviewer" -exename "$show" -info
echo "== kivpack thumb $show pictures\\sea.bmp"
"$kivpack" thumb "$show" 'pictures\sea.bmp' -o "$bin/demo/sea.png" && echo "wrote $bin/demo/sea.png"
echo "== drawtest"
"$bin/tools/drawtest/drawtest" -o "$bin/demo/drawtest.png" && echo "wrote $bin/demo/drawtest.png"
