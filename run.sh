#!/usr/bin/env bash
# Installs what is missing, builds Release and starts Sigilon.
set -euo pipefail
cd "$(dirname "$0")"
./tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DSIGILON_BUILD_TESTS=OFF >/dev/null
cmake --build build -j "$(nproc)"

# Makes a folder of generated pictures (JPEG and bitmap files, and one text
# file that is left alone), brands it with the command line and says where
# the results are.
brand_sample() {
  local sample="$PWD/build/sample"
  rm -rf "$sample"
  mkdir -p "$sample/source" "$sample/target"
  build/bin/make-samples "$sample/source"
  local status=0
  build/bin/sigilon-brand --font '"DejaVu Sans", 12, [Bold], [clWhite]' \
    "© Sigilon Sample" "$sample/source" "$sample/target" || status=$?
  echo
  echo "Sample pictures:  $sample/source"
  echo "Branded results:  $sample/target"
  return "$status"
}

brand_sample
