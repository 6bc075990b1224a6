#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Sigilon need,
# only when something is missing (so repeated runs stay fast and offline).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libjpeg62-turbo-dev libpng-dev libfreetype-dev libfontconfig-dev librsvg2-dev
  libwebp-dev libheif-dev
  libgtest-dev googletest libbenchmark-dev
  fonts-dejavu-core xdg-utils zlib1g-dev
  libtiff-dev
  help2man dpkg-dev desktop-file-utils man-db appstream lintian
  python3-pil libheif-examples
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
