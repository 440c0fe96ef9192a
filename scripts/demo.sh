#!/usr/bin/env bash
# Installs what is missing, builds, packs and checks the demo show, then plays it in a window when there is
# a display, or exports it as a video with its sound (build/demo/demo.mp4) when there is none.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" build -DKIV_TESTS=OFF -DKIV_BENCH=OFF
bin="$root/build"
kivpack="$bin/tools/kivpack/kivpack"
kivviewer="$bin/src/shell/kivviewer"
show="$bin/demo/demo.KvShow"

echo "== kivpack info $show"; "$kivpack" info "$show"
echo "== kivpack check $show"; "$kivpack" check "$show"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  echo "== kivviewer $show (Right/Left: next/previous slide, Space: pause, Escape: end)"
  exec "$kivviewer" "$show"
fi
echo "== no display: the show exported as a video"
"$kivviewer" -export "$bin/demo/demo.mp4" "$show"
