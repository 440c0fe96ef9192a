#!/usr/bin/env bash
# Installs what is missing, builds, then shows the demo show as far as the player goes today: packs it,
# inspects and checks it, locates it the way the player does, and draws frames of it offscreen to PNG.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" build -DKIV_TESTS=OFF -DKIV_BENCH=OFF
bin="$root/build"
kivpack="$bin/tools/kivpack/kivpack"
kivviewer="$bin/src/shell/kivviewer"
show="$bin/demo/demo.KvShow"

echo "== kivpack info $show"; "$kivpack" info "$show"
echo "== kivpack list $show"; "$kivpack" list "$show"
echo "== kivpack check $show"; "$kivpack" check "$show"
echo "== kivviewer -exename $show -info"
"$kivviewer" -exename "$show" -info

# The demo's slides start every 4000 ms: half a second into each, and the cat of slide 2 on its way in.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "== no display: frames of the show drawn offscreen"
else
  echo "== the player cannot play shows in a window yet: frames of the show drawn offscreen"
fi
for time in 500 4500 4750 8500 12500; do
  frame="$bin/demo/frame-$time.png"
  "$kivviewer" -render "$frame" -time "$time" "$show" >/dev/null
  echo "$frame"
done
