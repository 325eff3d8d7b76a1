#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: a Release build with
# warnings as errors (every layer), and a build of the picture and filter layers under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
penamo_install_deps
penamo_build build/test -DCMAKE_BUILD_TYPE=Release -DPENAMO_WERROR=ON
ctest --test-dir build/test --output-on-failure -j2
penamo_build build/sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPENAMO_WERROR=ON \
  -DPENAMO_SANITIZE=ON -DPENAMO_GUI=OFF -DPENAMO_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/sanitize --output-on-failure -j2
