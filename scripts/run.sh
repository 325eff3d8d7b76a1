#!/usr/bin/env bash
# Installs what is missing, builds in Release and starts the window program.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
penamo_install_deps
penamo_build build/release -DCMAKE_BUILD_TYPE=Release
exec build/release/app/penamo "$@"
