#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: a Release build with warnings as
# errors (every layer); the picture and filter layers under AddressSanitizer and
# UndefinedBehaviorSanitizer; every fuzz target over its kept corpus and then fuzzing for a short
# while; and the picture, filter and format layers' threads under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
penamo_install_deps
penamo_build build/test -DCMAKE_BUILD_TYPE=Release -DPENAMO_WERROR=ON
ctest --test-dir build/test --output-on-failure -j2
penamo_build build/sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPENAMO_WERROR=ON \
  -DPENAMO_SANITIZE=ON -DPENAMO_GUI=OFF -DPENAMO_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  LSAN_OPTIONS=suppressions=$PWD/scripts/lsan-suppressions.txt \
  ctest --test-dir build/sanitize --output-on-failure -j2

# Every kept corpus replayed (a regression test of past findings), then each target fuzzed.
scripts/fuzz.sh build
scripts/fuzz.sh replay
scripts/fuzz.sh run "${PENAMO_FUZZ_SECONDS:-30}"

penamo_build build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPENAMO_WERROR=ON \
  -DPENAMO_SANITIZE_THREAD=ON -DPENAMO_GUI=OFF -DPENAMO_BENCH=OFF
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan-suppressions.txt \
  ctest --test-dir build/tsan -L '^(image|reduce|formats)$' --output-on-failure -j2
