#!/usr/bin/env bash
# Rewrites the stored golden images in tests/golden/ from the current drawing code: texts and the error
# picture (imaging_tests), the drawer's pictures (render_tests) and whole slides drawn through the show
# pipeline (shell_tests). Review the changed PNGs before committing them.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target imaging_tests render_tests shell_tests
KIV_UPDATE_GOLDENS=1 "$build/tests/imaging/imaging_tests" --gtest_filter='InstalledFontTest.*:ErrorPicture.*'
KIV_UPDATE_GOLDENS=1 "$build/tests/render/render_tests" --gtest_filter='*Golden*'
KIV_UPDATE_GOLDENS=1 "$build/tests/shell/shell_tests" --gtest_filter='SlideGolden.EverySlideMatchesItsGolden:StoredText.*'
git -C "$root" status --short -- tests/golden
