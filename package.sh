#!/usr/bin/env bash
# Builds the Debian package build/sigilon_VERSION_ARCH.deb: installs what is
# missing, builds only what the package holds and packs it with CPack.
# Install it with:  apt-get install ./build/sigilon_*.deb
set -euo pipefail
cd "$(dirname "$0")"
./tools/install-deps.sh
# The same configuration as ./test.sh and ./run.sh, so nothing is rebuilt twice.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target sigilon sigilon-brand sigilon_packaging_files
(cd build && cpack -G DEB)
