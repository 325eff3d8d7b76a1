#!/usr/bin/env bash
# Decoding TIFF pictures in every layout the reader takes (8-bit and 16-bit RGB, 16-bit RGBA in
# planes with premultiplied alpha, CMYK, 4-bit grey, palette, and subsampled YCbCr through
# libtiff's RGBA interface), the 8-bit read and the deep one, from memory (no file reading):
# penamo_formats_bench --decode. Given a second bench binary (BEFORE, say a build of an earlier
# commit), both are run in interleaved rounds on the same files, so that the load of a busy
# machine falls on both alike; medians of each round's median.
#
#   bench/tiff-read-bench.sh [ROUNDS]    (default 5)
#
# Environment: BENCH (default build/release/bench/formats/penamo_formats_bench), BEFORE (none by
# default), WORK (scratch folder, default under /dev/shm), WIDTH and HEIGHT (default 3000 and
# 2000), KINDS (default all).
set -euo pipefail
cd "$(dirname "$0")/.."
ROUNDS=${1:-5}
BENCH=${BENCH:-build/release/bench/formats/penamo_formats_bench}
BEFORE=${BEFORE:-}
WIDTH=${WIDTH:-3000}
HEIGHT=${HEIGHT:-2000}
KINDS=${KINDS:-rgb8 rgb16 rgba16-planar cmyk8 grey4 palette8 ycbcr}
WORK=${WORK:-$(mktemp -d -p /dev/shm)}
mkdir -p "$WORK"

for kind in $KINDS; do
  [ -f "$WORK/$kind.tif" ] || "$BENCH" --make-tiff "$kind" "$WIDTH" "$HEIGHT" "$WORK/$kind.tif"
done
binaries=(after)
[ -n "$BEFORE" ] && binaries=(before after)
binary() { if [ "$1" = before ]; then echo "$BEFORE"; else echo "$BENCH"; fi; }

for ((round = 1; round <= ROUNDS; round++)); do
  for kind in $KINDS; do
    for depth in 8 deep; do
      for which in "${binaries[@]}"; do
        args=(--decode 3 "$WORK/$kind.tif")
        [ "$depth" = deep ] && args+=(deep)
        "$(binary "$which")" "${args[@]}" | awk '{print $1}' >>"$WORK/$kind-$depth-$which.ms"
      done
    done
  done
done

median() { sort -n "$1" | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
echo "TIFF decoding, ${WIDTH} x ${HEIGHT}, $ROUNDS interleaved rounds; load $(cut -d' ' -f1-3 /proc/loadavg)"
for kind in $KINDS; do
  for depth in 8 deep; do
    line=$(printf '  %-14s %-5s' "$kind" "$depth")
    for which in "${binaries[@]}"; do
      line+=$(printf ' %s %7.1f ms' "$which" "$(median "$WORK/$kind-$depth-$which.ms")")
    done
    echo "$line"
    rm -f "$WORK"/"$kind-$depth"-*.ms
  done
done
