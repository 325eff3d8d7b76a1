#!/usr/bin/env bash
# Installs what is missing, builds in Release with warnings as errors and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
penamo_install_deps
penamo_build build/test -DCMAKE_BUILD_TYPE=Release -DPENAMO_WERROR=ON
ctest --test-dir build/test --output-on-failure -j2
