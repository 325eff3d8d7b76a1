#!/usr/bin/env bash
# The PNG save: a 4096 × 4096 PNG read, filtered by pattern16 and written as PNG by
# penamo-filter, against ImageMagick 6 doing the same luma-only ordered dither, in interleaved
# rounds; then the reading times of PNG and JPEG and the write time on their own, and (TABLE=1)
# the compression level × row filter table the writer's defaults were chosen from.
#
#   bench/png-save-bench.sh [ROUNDS]    (default 5)
#
# Environment: BUILD (default build/bench-release), SIZE (default 4096), WORK (scratch folder),
# TABLE=1 to print the level × filter table. Called by save-bench.sh; runs alone as well.
set -euo pipefail
cd "$(dirname "$0")/.."

ROUNDS=${1:-5}
SIZE=${SIZE:-4096}
BUILD=${BUILD:-build/bench-release}
WORK=${WORK:-$(mktemp -d)}
mkdir -p "$WORK"

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPENAMO_GUI=OFF -DPENAMO_TESTS=OFF \
  >/dev/null
cmake --build "$BUILD" -j2 --target penamo-filter penamo_formats_bench penamo_save_bench >/dev/null

TOOL=$BUILD/app/penamo-filter
FORMATS_BENCH=$BUILD/bench/formats/penamo_formats_bench
# The picture: smooth gradations in every channel, as a photograph or a rendering has them,
# stored as ImageMagick stores a PNG and a JPEG.
[ -f "$WORK/gradient.bmp" ] || "$BUILD/bench/penamo_save_bench" --make-gradient "$SIZE" "$SIZE" "$WORK/gradient.bmp"
[ -f "$WORK/in.png" ] || convert "$WORK/gradient.bmp" "$WORK/in.png"
[ -f "$WORK/in.jpg" ] || convert "$WORK/gradient.bmp" -quality 92 "$WORK/in.jpg"

ours() { "$TOOL" pattern16 "$WORK/in.png" "$WORK/ours.png"; }
magick() {
  convert "$WORK/in.png" -colorspace YCbCr -channel R -ordered-dither o4x4,16 +channel \
    -colorspace sRGB "$WORK/magick.png"
}

# Wall microseconds and CPU seconds (user + system, every thread) of one run, appended to the
# contender's files; dirty data is flushed first so that neither pays for the other's writes.
# The CPU time says more about the work when other programs share the machine.
timed() {
  local name=$1 start end user system
  sync
  start=$(date +%s%N)
  /usr/bin/time -f '%U %S' -o "$WORK/png-$name.time" bash -c "$(declare -f "$name"); WORK='$WORK' TOOL='$TOOL' $name"
  end=$(date +%s%N)
  echo $(((end - start) / 1000)) >>"$WORK/png-$name.us"
  read -r user system <"$WORK/png-$name.time"
  echo "$user + $system" | bc -l >>"$WORK/png-$name.cpu"
}

rm -f "$WORK/png-ours.us" "$WORK/png-magick.us" "$WORK/png-ours.cpu" "$WORK/png-magick.cpu"
echo "PNG save, ${SIZE} x ${SIZE}: penamo-filter pattern16 against ImageMagick's ordered dither;" \
  "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for ((round = 1; round <= ROUNDS; round++)); do
  timed ours
  timed magick
done

median() { sort -n "$1" | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
range() { sort -n "$1" | awk 'NR == 1 {lo = $1} {hi = $1} END {printf "%.0f .. %.0f", lo / 1000, hi / 1000}'; }

OURS=$(median "$WORK/png-ours.us")
MAGICK=$(median "$WORK/png-magick.us")
OURS_BYTES=$(stat -c %s "$WORK/ours.png")
MAGICK_BYTES=$(stat -c %s "$WORK/magick.png")
RATIO=$(echo "$MAGICK / $OURS" | bc -l)
SIZE_RATIO=$(echo "$OURS_BYTES / $MAGICK_BYTES" | bc -l)
printf '  penamo-filter  median %7.0f ms (%s), %9d bytes\n' "$(echo "$OURS / 1000" | bc -l)" \
  "$(range "$WORK/png-ours.us")" "$OURS_BYTES"
printf '  ImageMagick    median %7.0f ms (%s), %9d bytes\n' "$(echo "$MAGICK / 1000" | bc -l)" \
  "$(range "$WORK/png-magick.us")" "$MAGICK_BYTES"
printf '  CPU seconds, median: penamo-filter %.2f, ImageMagick %.2f (%.1fx)\n' \
  "$(median "$WORK/png-ours.cpu")" "$(median "$WORK/png-magick.cpu")" \
  "$(echo "$(median "$WORK/png-magick.cpu") / $(median "$WORK/png-ours.cpu")" | bc -l)"
printf '  penamo-filter is %.1fx faster (target 15x): %s; its file is %.2fx the size (limit 1.15x): %s\n' \
  "$RATIO" "$(echo "$RATIO >= 15" | bc -l | sed 's/1/met/;s/0/MISSED/')" \
  "$SIZE_RATIO" "$(echo "$SIZE_RATIO <= 1.15" | bc -l | sed 's/1/met/;s/0/OVER/')"
echo "  load after: $(cut -d' ' -f1-3 /proc/loadavg)"

echo
echo "stages, each on its own (penamo_formats_bench; penamo-filter decodes a PNG while it filters"
echo "and writes the bands before, so its save takes less than their sum):"
printf '  read PNG:  '
"$FORMATS_BENCH" --read "$ROUNDS" "$WORK/in.png"
printf '  read JPEG: '
"$FORMATS_BENCH" --read "$ROUNDS" "$WORK/in.jpg"
for ((round = 1; round <= 3; round++)); do
  printf '  save:      '
  "$FORMATS_BENCH" --stages pattern16 "$WORK/in.png" "$WORK/stages.png"
done

if [ "${TABLE:-0}" = 1 ]; then
  echo
  echo "PNG writer: igzip level x row filter over the pattern16 picture (CPU: one thread):"
  "$FORMATS_BENCH" --table pattern16 "$WORK/in.png" "$WORK/table.png"
fi
