#!/usr/bin/env bash
# The deep save: a SIZE × SIZE 16-bit PNG through `diffusion` (256 levels) to an 8-bit PNG, made
# by the command line's calls (penamo_deep_save_bench --save), in interleaved rounds with
# penamo-filter diffusion16 over the 8-bit rounding of the same picture and with GEGL's
# Floyd–Steinberg dither of the 16-bit picture (256 levels a channel); then each stage of the
# deep save on its own.
#
#   bench/deep-save-bench.sh [ROUNDS]    (default 5)
#
# Environment: BUILD (default build/bench-release), SIZE (default 4096), WORK (scratch folder),
# GEGL=0 to leave GEGL out (it takes tens of seconds a round).
set -euo pipefail
cd "$(dirname "$0")/.."

ROUNDS=${1:-5}
SIZE=${SIZE:-4096}
BUILD=${BUILD:-build/bench-release}
WORK=${WORK:-$(mktemp -d)}
GEGL=${GEGL:-1}
mkdir -p "$WORK"

# A build folder of one's own is configured once; an existing one (BUILD=build/dev) is kept.
[ -f "$BUILD/build.ninja" ] || cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DPENAMO_GUI=OFF -DPENAMO_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j2 --target penamo-filter penamo_deep_save_bench >/dev/null

TOOL=$BUILD/app/penamo-filter
DEEP_BENCH=$BUILD/bench/formats/penamo_deep_save_bench
[ -f "$WORK/deep-$SIZE.png" ] ||
  "$DEEP_BENCH" --make "$SIZE" "$WORK/deep-$SIZE.png" "$WORK/eight-$SIZE.png"
if [ "$GEGL" = 1 ] && ! command -v gegl >/dev/null; then
  echo "gegl is not installed: GEGL=0 leaves it out" >&2
  exit 1
fi

deep() { "$DEEP_BENCH" --save diffusion "$WORK/deep-$SIZE.png" "$WORK/deep-out.png" >/dev/null; }
eight() { "$TOOL" diffusion16 "$WORK/eight-$SIZE.png" "$WORK/eight-out.png"; }
other() {
  gegl -i "$WORK/deep-$SIZE.png" -o "$WORK/gegl-out.png" -- gegl:dither red-levels=256 \
    green-levels=256 blue-levels=256 alpha-levels=256 dither-method=floyd-steinberg
}

# Wall microseconds, CPU seconds (user + system, every thread) and peak resident KiB of one run,
# appended to the contender's files; dirty data is flushed first so that no one pays for
# another's writes.
timed() {
  local name=$1 start end user system rss
  sync
  start=$(date +%s%N)
  /usr/bin/time -f '%U %S %M' -o "$WORK/$name.time" bash -c \
    "$(declare -f "$name"); WORK='$WORK' TOOL='$TOOL' DEEP_BENCH='$DEEP_BENCH' SIZE='$SIZE' $name"
  end=$(date +%s%N)
  echo $(((end - start) / 1000)) >>"$WORK/$name.us"
  read -r user system rss <"$WORK/$name.time"
  echo "$user + $system" | bc -l >>"$WORK/$name.cpu"
  echo "$rss" >>"$WORK/$name.rss"
}

median() { sort -n "$1" | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
range() { sort -n "$1" | awk 'NR == 1 {lo = $1} {hi = $1} END {printf "%.0f .. %.0f", lo / 1000, hi / 1000}'; }

contenders="deep eight"
[ "$GEGL" = 1 ] && contenders="$contenders other"
for name in $contenders; do rm -f "$WORK/$name.us" "$WORK/$name.cpu" "$WORK/$name.rss"; done
echo "Deep save, ${SIZE} x ${SIZE}, $ROUNDS rounds; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for ((round = 1; round <= ROUNDS; round++)); do
  for name in $contenders; do timed "$name"; done
done

label() {
  case $1 in
    deep) echo "diffusion, 16-bit PNG  " ;;
    eight) echo "diffusion16, 8-bit PNG " ;;
    other) echo "gegl:dither, 16-bit PNG" ;;
  esac
}
for name in $contenders; do
  printf '  %s median %7.0f ms (%s), CPU %.2f s, peak RSS %.0f MiB\n' "$(label "$name")" \
    "$(echo "$(median "$WORK/$name.us") / 1000" | bc -l)" "$(range "$WORK/$name.us")" \
    "$(median "$WORK/$name.cpu")" "$(echo "$(sort -n "$WORK/$name.rss" | tail -1) / 1024" | bc -l)"
done
DEEP=$(median "$WORK/deep.us")
printf '  diffusion / diffusion16: %.2fx (target at most 1.5x)\n' \
  "$(echo "$DEEP / $(median "$WORK/eight.us")" | bc -l)"
[ "$GEGL" = 1 ] && printf '  gegl / diffusion: %.1fx (target at least 10x)\n' \
  "$(echo "$(median "$WORK/other.us") / $DEEP" | bc -l)"
echo "  load after: $(cut -d' ' -f1-3 /proc/loadavg)"

echo
echo "stages of the deep save, each on its own (the save reads, filters and writes at once):"
for ((round = 1; round <= 3; round++)); do
  printf '  '
  "$DEEP_BENCH" --stages diffusion "$WORK/deep-$SIZE.png" "$WORK/stages.png"
done
