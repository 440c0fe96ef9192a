#!/usr/bin/env bash
# Draws the README's pictures with the built player: the demo show's four slides half way through each, and
# a strip of frames across a transition (the demo with a page roll into its second slide). Usage:
# readme_pictures.sh [BUILD [OUTDIR]]  (defaults: build, docs/pictures). Needs ffmpeg to join the frames.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
out=${2:-$root/docs/pictures}
viewer="$build/src/shell/kivviewer"
kivpack="$build/tools/kivpack/kivpack"
show="$build/demo/demo.KvShow"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$out"
size=240x180

# Frames side by side with a white gap, as one JPEG.
join() {
  local target=$1; shift
  local inputs=() pads="" labels="" n=0
  for f in "$@"; do
    inputs+=(-i "$f")
    pads+="[$n]pad=iw+6:ih+6:3:3:white[p$n];"
    labels+="[p$n]"
    n=$((n + 1))
  done
  ffmpeg -v error -y "${inputs[@]}" -filter_complex "${pads}${labels}hstack=inputs=$n" -q:v 3 "$target"
}

frames=()
for slide in 1 2 3 4; do
  frame="$tmp/slide$slide.png"
  "$viewer" -render "$frame" -time $(((slide - 1) * 4000 + 2000)) -size $size "$show"
  frames+=("$frame")
done
join "$out/demo-slides.jpg" "${frames[@]}"

# The demo with transitions on and a page roll of 1.6 s into slide 2.
cp -r "$root/demo" "$tmp/fx"
sed -i -e 's/^opt_fx_enable=0\r$/opt_fx_enable=1\r\nopt_fx_time=1600\r\nopt_fx_eff1=1\r/' \
  -e 's/^\[Slide2\]\r$/[Slide2]\r\nUsePersonal=1\r\nPers_Effect=1\r\nEffect_Class=15\r\nEffect_Type=2\r\nEffectTime=1600\r\nEffectRollDiameter=200\r\nEffectRoll3D=1\r\nEffectRollCurving=0.5\r/' \
  "$tmp/fx/Project.kiv"
"$kivpack" create "$tmp/fx" -o "$tmp/fx.KvShow" >/dev/null
frames=()
for step in 0 1 2 3 4; do
  frame="$tmp/fx$step.png"
  "$viewer" -render "$frame" -time $((4000 + step * 400)) -size $size "$tmp/fx.KvShow"
  frames+=("$frame")
done
join "$out/transition-strip.jpg" "${frames[@]}"
ls -l "$out"
