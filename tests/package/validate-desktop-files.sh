#!/usr/bin/env bash
# The desktop entry passes desktop-file-validate without a word (hints included) and the
# AppStream metainfo passes appstreamcli's validation without the network.
# Usage: validate-desktop-files.sh DESKTOP-ENTRY METAINFO
set -euo pipefail
desktop=$1 metainfo=$2

report=$(desktop-file-validate "$desktop" 2>&1) || { echo "$report"; exit 1; }
if [ -n "$report" ]; then
  echo "$report"
  exit 1
fi
echo "desktop-file-validate: $(basename "$desktop") is valid"
appstreamcli validate --no-net --pedantic "$metainfo"
