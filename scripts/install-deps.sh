#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need;
# does nothing when all are present.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  unicode-data
  zlib1g-dev
  libimage-exiftool-perl
  libjpeg62-turbo-dev libjpeg-turbo-progs imagemagick python3-pil
  liblcms2-dev liblcms2-utils icc-profiles-free colord-data
  libpng-dev
  libsdl2-dev libasound2-dev
  libegl-dev libgl-dev libegl-mesa0 libgl1-mesa-dri
  xvfb xauth xdotool xclip x11-utils libxfixes3 libx11-dev libxcb1-dev xfonts-base openbox
  libdbus-1-dev dbus-daemon zenity
  desktop-file-utils shared-mime-info
  libfontconfig-dev libfreetype-dev libharfbuzz-dev libfribidi-dev libharfbuzz-bin
  fonts-dejavu-core fonts-liberation2 fonts-noto-core fonts-noto-cjk
  libcairo2-dev libpango1.0-dev libpixman-1-dev
  libcups2-dev cups-daemon poppler-utils
  libmpg123-dev libvorbis-dev mpg123 lame vorbis-tools sox
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev ffmpeg
  espeak-ng
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
