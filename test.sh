#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole suite.
set -euo pipefail
cd "$(dirname "$0")"
./tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j "$(nproc)" --timeout 300

# The fuzz targets' replay and the tests labelled asan once more under
# AddressSanitizer and UBSan, which stop at what the plain build lets pass
# silently (overflow, reads past a buffer, leaks). Only the engine, settings
# and those programs are built.
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSIGILON_SANITIZE=address \
  -DSIGILON_BUILD_GUI=OFF -DSIGILON_BUILD_BENCH=OFF >/dev/null
cmake --build build-sanitize -j "$(nproc)" --target fuzz_replay asan_tests
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-sanitize -L 'fuzz|asan' --output-on-failure \
  -j "$(nproc)" --timeout 300

# The threaded tests (bands, jobs, the command line, text drawn at once)
# under ThreadSanitizer: any report fails the test.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSIGILON_SANITIZE=thread \
  -DSIGILON_BUILD_GUI=OFF -DSIGILON_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan -j "$(nproc)" --target tsan_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --test-dir build-tsan -L tsan \
  --output-on-failure -j "$(nproc)" --timeout 300
