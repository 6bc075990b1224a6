#!/usr/bin/env bash
# Installs what is missing, builds Release and starts Sigilon.
set -euo pipefail
cd "$(dirname "$0")"
./tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DSIGILON_BUILD_TESTS=OFF >/dev/null
cmake --build build -j "$(nproc)"
