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
