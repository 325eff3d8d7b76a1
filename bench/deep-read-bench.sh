#!/usr/bin/env bash
# The deep PNG and TIFF reads band by band: time and peak memory over a 16-bit picture of any
# size, which must stay a few bands of rows (three bands of the height asked for, and for the
# TIFF one band of strips) above the process's start. The TIFF is the PNG converted by
# ImageMagick (LZW, its own strips), left out when convert is not installed.
#
#   bench/deep-read-bench.sh [WIDTH HEIGHT [BAND_ROWS...]]   (default 6000 4000, bands 16 64 256)
set -euo pipefail
cd "$(dirname "$0")/.."
bench=${BENCH:-build/release/bench/formats/penamo_formats_bench}
width=${1:-6000}
height=${2:-4000}
shift $(($# > 2 ? 2 : $#))
bands=("$@")
[ ${#bands[@]} -gt 0 ] || bands=(16 64 256)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bench" --make-deep "$width" "$height" "$work/deep.png"
for rows in "${bands[@]}"; do
  "$bench" --deep-rows "$rows" "$work/deep.png"
done
if command -v convert >/dev/null; then
  convert "$work/deep.png" -depth 16 -compress lzw "$work/deep.tif"
  for rows in "${bands[@]}"; do
    "$bench" --deep-rows "$rows" "$work/deep.tif"
  done
fi
