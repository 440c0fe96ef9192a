#!/usr/bin/env bash
# Rewrites the stored golden images in tests/golden/ from the current drawing code: texts, the error
# picture, preset masks and a button body in its three states (imaging_tests), the drawer's pictures
# (render_tests), whole slides drawn through the show pipeline, a slide with the logo and navigation
# panel over it, a slide under the video-style bar, and the transitions of every family (the clock, broom,
# rolls, flip and swap included) at a quarter and three quarters of their way (shell_tests).
# Review the changed PNGs before committing them.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target imaging_tests render_tests shell_tests
KIV_UPDATE_GOLDENS=1 "$build/tests/imaging/imaging_tests" --gtest_filter='InstalledFontTest.*:ErrorPicture.*:PresetMask.*Golden*:ButtonBody.*Golden*'
KIV_UPDATE_GOLDENS=1 "$build/tests/render/render_tests" --gtest_filter='*Golden*'
KIV_UPDATE_GOLDENS=1 "$build/tests/shell/shell_tests" --gtest_filter='SlideGolden.EverySlideMatchesItsGolden:OverlayGolden.*Golden:VideoBarGolden.*Golden:StoredText.*:TransitionGolden.*Golden'
git -C "$root" status --short -- tests/golden
