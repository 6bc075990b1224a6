#!/usr/bin/env bash
# Installs what is missing, builds Release and starts Sigilon.
set -euo pipefail
cd "$(dirname "$0")"
./tools/install-deps.sh
# The same configuration as ./test.sh, so switching between the two commands
# does not rebuild everything; only the programs are built here.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target sigilon sigilon-brand make-samples

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

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  # The program keeps its settings and finds its manual in the directory it
  # starts in: build/bin, where the build placed Manual.html.
  cd build/bin
  exec ./sigilon
else
  echo "No display to show the window program on; branding a sample folder with the command line instead."
  brand_sample
fi
