#!/usr/bin/env bash
# Builds one fuzz target with clang and libFuzzer and runs it.
#   ./fuzz.sh TARGET SECONDS [libFuzzer options...]   fuzz for that long
#   ./fuzz.sh TARGET merge                            fold what the runs found
#                                                     into the committed seeds
# Targets: bmp jpeg png tiff webp heif metadata drawing fonttext config. Runs start from the committed
# seeds in tests/fuzz/corpus/TARGET (plus the public picture corpora beside
# the project for the picture readers); what a run adds stays in build-fuzz/corpus.
# Crashes land in build-fuzz/artifacts/TARGET: fix them, and commit the
# minimised input to tests/fuzz/regressions/TARGET under a name that says
# what it caught.
set -euo pipefail
cd "$(dirname "$0")"

targets="bmp jpeg png tiff webp heif metadata drawing fonttext config"
target=${1:-}
mode=${2:-}
if [[ -z "$target" || -z "$mode" || " $targets " != *" $target "* ]] ||
   [[ "$mode" != merge && ! "$mode" =~ ^[0-9]+$ ]]; then
  echo "usage: $0 TARGET SECONDS [libFuzzer options...] | $0 TARGET merge" >&2
  echo "targets: $targets" >&2
  exit 2
fi
shift 2

./tools/install-deps.sh
# Only fuzzing needs clang and its runtime (libFuzzer, the sanitizers).
missing=()
for p in clang libclang-rt-14-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

build=build-fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DSIGILON_FUZZ=ON \
  -DSIGILON_BUILD_TESTS=OFF -DSIGILON_BUILD_GUI=OFF -DSIGILON_BUILD_BENCH=OFF >/dev/null
nice cmake --build "$build" --target "fuzz_$target"

seeds=tests/fuzz/corpus/$target
work=$build/corpus/$target
artifacts=$build/artifacts/$target
mkdir -p "$seeds" "$work" "$artifacts"
extra=()
case "$target" in
  bmp) [ -d ../shared/corpora/bmpsuite ] && extra+=(../shared/corpora/bmpsuite) ;;
  jpeg | metadata) [ -d ../shared/corpora/jpeg ] && extra+=(../shared/corpora/jpeg) ;;
  png) [ -d ../shared/corpora/png ] && extra+=(../shared/corpora/png) ;;
esac
# Inputs stay small: the pixels-per-byte gates let 2 KB claim 2 megapixels
# already, which under the sanitizers takes seconds; bigger inputs only slow
# every run down and reach the 10-second limit on a busy machine.
max_len=2048
# Marker segments are read, not pictures decoded: room for whole segments.
[[ "$target" == metadata ]] && max_len=32768
# The limits at which a run counts as a finding: 10 s, 2 GB.
options=(-timeout=10 -rss_limit_mb=2048 -max_len="$max_len" -artifact_prefix="$artifacts/")
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export ASAN_OPTIONS=detect_leaks=1
[[ "$target" == heif ]] && export LSAN_OPTIONS=suppressions=$PWD/tests/fuzz/heif.supp

if [[ "$mode" == merge ]]; then
  merged=$(mktemp -d)
  "$build/bin/fuzz_$target" -merge=1 "${options[@]}" "$merged" "$seeds" "$work"
  rm -f "$seeds"/*
  mv "$merged"/* "$seeds"/ 2>/dev/null || true
  rmdir "$merged"
  echo "$(ls "$seeds" | wc -l) seeds in $seeds"
  exit 0
fi
exec nice -n 19 "$build/bin/fuzz_$target" "${options[@]}" -max_total_time="$mode" \
  -print_final_stats=1 "$@" "$work" "$seeds" "${extra[@]}"
