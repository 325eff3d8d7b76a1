#!/usr/bin/env bash
# Fuzzes the bitmap reader, the conversion to 24 bits, the filters and the writer with
# libFuzzer under AddressSanitizer and UndefinedBehaviorSanitizer, starting from the shared
# bitmap suite.
#
#   bench/fuzz-bitmaps.sh [seconds]        (default 600)
#
# The machine is shared, so a slow input is reported only after a minute.
# Findings land in build/fuzz/findings; the grown corpus stays in build/fuzz/corpus for the
# next run. fuzz/corpus is the small corpus kept in the repository (merge new finds into it with
# `build/fuzz/bitmap_fuzzer -merge=1 fuzz/corpus build/fuzz/corpus`).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
build=build/fuzz
cmake -S fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2
mkdir -p "$build/corpus" "$build/findings"
if [ -d ../shared/bmpsuite ]; then
  find ../shared/bmpsuite -name '*.bmp' -exec cp -n {} "$build/corpus/" \;
fi
exec "$build/bitmap_fuzzer" "$build/corpus" fuzz/corpus -artifact_prefix="$build/findings/" \
  -max_total_time="$seconds" -timeout=60 -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1
