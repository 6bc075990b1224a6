#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole suite.
set -euo pipefail
cd "$(dirname "$0")"
./tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j "$(nproc)" --timeout 300

# The fuzz targets' replay once more under AddressSanitizer and UBSan, which
# stop at what the plain build lets pass silently (overflow, reads past a
# buffer, leaks). Only the engine, settings and replay programs are built.
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSIGILON_SANITIZE=ON \
  -DSIGILON_BUILD_GUI=OFF -DSIGILON_BUILD_BENCH=OFF >/dev/null
cmake --build build-sanitize -j "$(nproc)" --target fuzz_replay test_failing_writer
ctest --test-dir build-sanitize -L fuzz --output-on-failure -j "$(nproc)" --timeout 300
