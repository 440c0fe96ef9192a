#!/usr/bin/env bash
# Installs every Debian package the build and the tests need. Idempotent; silent when all is present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev
  libegl-dev libgl-dev libegl-mesa0 libgl1-mesa-dri libsdl2-dev
  libpng-dev libjpeg62-turbo-dev libfreetype-dev libfontconfig-dev fonts-dejavu-core
  libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev
  libmpg123-dev libvorbis-dev
  # tools the tests use to make and check media
  ffmpeg libjpeg-turbo-progs sox lame
  # the window test: a virtual X display, a driver for it (ffmpeg's x11grab takes the screenshots) and
  # Xlib to watch the windows a program maps
  xvfb xdotool libx11-dev
  # printing: PDF pages through cairo, CUPS destinations, and poppler to check the pages in tests
  libcairo2-dev libcups2-dev poppler-utils
  # packaging and the desktop: the .deb (dpkg-shlibdeps, fakeroot), the .desktop, MIME and thumbnailer
  # files and the man pages, each checked by the packaging tests
  dpkg-dev fakeroot file desktop-file-utils shared-mime-info xdg-utils libfile-mimeinfo-perl groff-base man-db
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
