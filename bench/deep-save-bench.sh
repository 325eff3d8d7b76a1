#!/usr/bin/env bash
# A deep save through the command line: a 16-bit PNG through diffusion into an 8-bit PNG,
# against diffusion16 over the 8-bit version of the same picture and against GEGL's
# Floyd–Steinberg dither to 256 levels a channel (when the gegl command is there), in
# interleaved rounds: wall time (median and range), CPU time and peak memory of each.
#
#   bench/deep-save-bench.sh [ROUNDS]    (default 5)
#
# Environment: BUILD (default build/bench-release), SIZE (default 4096), WORK (scratch folder).
set -euo pipefail
cd "$(dirname "$0")/.."

ROUNDS=${1:-5}
SIZE=${SIZE:-4096}
BUILD=${BUILD:-build/bench-release}
WORK=${WORK:-$(mktemp -d)}
mkdir -p "$WORK"

if [ ! -x "$BUILD/app/penamo-filter" ] || [ ! -x "$BUILD/bench/formats/penamo_formats_bench" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPENAMO_GUI=OFF -DPENAMO_TESTS=OFF \
    >/dev/null
  cmake --build "$BUILD" -j2 --target penamo-filter penamo_formats_bench >/dev/null
fi
TOOL=$BUILD/app/penamo-filter

[ -f "$WORK/deep.png" ] || "$BUILD/bench/formats/penamo_formats_bench" --make-deep "$SIZE" "$SIZE" \
  "$WORK/deep.png" >/dev/null
# The 8-bit version: the same picture rounded as every 8-bit read rounds it.
[ -f "$WORK/eight.png" ] || "$TOOL" none "$WORK/deep.png" "$WORK/eight.png"

deep() { "$TOOL" diffusion "$WORK/deep.png" "$WORK/deep-out.png"; }
eight() { "$TOOL" diffusion16 "$WORK/eight.png" "$WORK/eight-out.png"; }
gegl_dither() {
  gegl "$WORK/deep.png" -o "$WORK/gegl-out.png" -- gegl:dither red-levels=256 green-levels=256 \
    blue-levels=256 alpha-levels=256 dither-method=floyd-steinberg >/dev/null 2>&1
}
contenders="deep eight"
command -v gegl >/dev/null && contenders="$contenders gegl_dither"

# Wall milliseconds, CPU seconds and peak resident KiB of one run, each appended to its file;
# dirty data is flushed first so that no run pays for another's writes.
timed() {
  local name=$1 start end
  sync
  start=$(date +%s%N)
  /usr/bin/time -f '%U %S %M' -o "$WORK/$name.time" bash -c \
    "$(declare -f "$name"); WORK='$WORK' TOOL='$TOOL' $name"
  end=$(date +%s%N)
  echo $(((end - start) / 1000000)) >>"$WORK/$name.ms"
  awk '{print $1 + $2 >> "'"$WORK/$name.cpu"'"; print $3 >> "'"$WORK/$name.kib"'"}' "$WORK/$name.time"
}
median() { sort -n "$1" | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
range() { sort -n "$1" | awk 'NR == 1 {lo = $1} {hi = $1} END {printf "%d .. %d", lo, hi}'; }

for name in $contenders; do rm -f "$WORK/$name".{ms,cpu,kib}; done
echo "${SIZE} x ${SIZE} 16-bit PNG to 8-bit PNG, $ROUNDS rounds; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for ((round = 1; round <= ROUNDS; round++)); do
  for name in $contenders; do timed "$name"; done
done
for name in $contenders; do
  printf '  %-12s median %6d ms (%s), CPU %.2f s, peak %6.0f MiB\n' "$name" \
    "$(median "$WORK/$name.ms")" "$(range "$WORK/$name.ms")" "$(median "$WORK/$name.cpu")" \
    "$(echo "$(median "$WORK/$name.kib") / 1024" | bc -l)"
done
printf '  diffusion over the 16-bit picture takes %.2fx diffusion16 over the 8-bit one (target 1.5x)\n' \
  "$(echo "$(median "$WORK/deep.ms") / $(median "$WORK/eight.ms")" | bc -l)"
if [ -f "$WORK/gegl_dither.ms" ]; then
  printf '  GEGL takes %.1fx as long as diffusion (target 10x)\n' \
    "$(echo "$(median "$WORK/gegl_dither.ms") / $(median "$WORK/deep.ms")" | bc -l)"
fi
echo "  load after: $(cut -d' ' -f1-3 /proc/loadavg)"
