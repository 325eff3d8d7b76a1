#!/usr/bin/env bash
# The deep save: a SIZE × SIZE 16-bit PNG through `penamo-filter diffusion` (256 levels) to an
# 8-bit PNG, in interleaved rounds with penamo-filter diffusion16 over the 8-bit rounding of the
# same picture and with GEGL's Floyd–Steinberg dither of the 16-bit picture (256 levels a
# channel); then each stage of the deep save on its own.
#
# The 16-bit file is written as most tools write PNG (spng: zlib level 6, the library's row
# filter heuristic, which picks Paeth for these rows). The 8-bit rounding is timed twice: as
# this tool writes PNG (Up rows, a smaller file) and as the 16-bit file was written (the same
# encoder and settings). The 16-bit picture with Up rows is timed too: the read's cost hangs on
# the encoder's filter choice more than on anything this tool does.
set -euo pipefail
cd "$(dirname "$0")/.."

ROUNDS=${1:-5}
SIZE=${SIZE:-4096}
BUILD=${BUILD:-build/bench-release}
WORK=${WORK:-$(mktemp -d)}
GEGL=${GEGL:-1}
BUSY=${BUSY:-0}
mkdir -p "$WORK"

# A build folder of one's own is configured once; an existing one (BUILD=build/dev) is kept.
[ -f "$BUILD/build.ninja" ] || cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DPENAMO_GUI=OFF -DPENAMO_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j2 --target penamo-filter penamo_deep_save_bench >/dev/null

TOOL=$BUILD/app/penamo-filter
DEEP_BENCH=$BUILD/bench/formats/penamo_deep_save_bench
[ -f "$WORK/deep-up-$SIZE.png" ] ||
  "$DEEP_BENCH" --make "$SIZE" "$WORK/deep-$SIZE.png" "$WORK/eight-$SIZE.png" \
    "$WORK/eight-spng-$SIZE.png" "$WORK/deep-up-$SIZE.png"
if [ "$GEGL" = 1 ] && ! command -v gegl >/dev/null; then
  echo "gegl is not installed: GEGL=0 leaves it out" >&2
  exit 1
fi

deep() { "$TOOL" diffusion "$WORK/deep-$SIZE.png" "$WORK/deep-out.png"; }
eight() { "$TOOL" diffusion16 "$WORK/eight-$SIZE.png" "$WORK/eight-out.png"; }
same() { "$TOOL" diffusion16 "$WORK/eight-spng-$SIZE.png" "$WORK/same-out.png"; }
up() { "$TOOL" diffusion "$WORK/deep-up-$SIZE.png" "$WORK/up-out.png"; }
other() {
  gegl -i "$WORK/deep-$SIZE.png" -o "$WORK/gegl-out.png" -- gegl:dither red-levels=256 \
    green-levels=256 blue-levels=256 alpha-levels=256 dither-method=floyd-steinberg \
    >/dev/null 2>&1  # GEGL prints leak warnings at exit; a failure still stops the script
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

contenders="deep eight same up"
[ "$GEGL" = 1 ] && contenders="$contenders other"
for name in $contenders; do rm -f "$WORK/$name.us" "$WORK/$name.cpu" "$WORK/$name.rss"; done
echo "Deep save, ${SIZE} x ${SIZE}, $ROUNDS rounds, busy core: $([ "$BUSY" = 1 ] && echo yes || echo no); load before: $(cut -d' ' -f1-3 /proc/loadavg)"
BUSY_PID=
stop_busy() { if [ -n "$BUSY_PID" ]; then kill "$BUSY_PID" 2>/dev/null || true; fi; }
trap stop_busy EXIT
if [ "$BUSY" = 1 ]; then
  sh -c 'while :; do :; done' &
  BUSY_PID=$!
fi
for ((round = 1; round <= ROUNDS; round++)); do
  for name in $contenders; do timed "$name"; done
done
stop_busy

label() {
  case $1 in
    deep) echo "diffusion, 16-bit PNG        " ;;
    eight) echo "diffusion16, 8-bit PNG (ours)" ;;
    same) echo "diffusion16, 8-bit PNG (spng)" ;;
    up) echo "diffusion, 16-bit PNG, Up    " ;;
    other) echo "gegl:dither, 16-bit PNG      " ;;
  esac
}
for name in $contenders; do
  printf '  %s median %7.0f ms (%s), CPU %.2f s, peak RSS %.0f MiB\n' "$(label "$name")" \
    "$(echo "$(median "$WORK/$name.us") / 1000" | bc -l)" "$(range "$WORK/$name.us")" \
    "$(median "$WORK/$name.cpu")" "$(echo "$(sort -n "$WORK/$name.rss" | tail -1) / 1024" | bc -l)"
done
DEEP=$(median "$WORK/deep.us")
ratio() { echo "$(median "$WORK/$1.us") / $(median "$WORK/$2.us")" | bc -l; }
printf '  diffusion / diffusion16: %.2fx against ours, %.2fx against the same encoder (target at most 1.5x)\n' \
  "$(ratio deep eight)" "$(ratio deep same)"
printf '  Up rows: diffusion / diffusion16: %.2fx against ours, %.2fx against the same encoder\n' \
  "$(ratio up eight)" "$(ratio up same)"
[ "$GEGL" = 1 ] && printf '  gegl / diffusion: %.1fx (target at least 10x)\n' \
  "$(echo "$(median "$WORK/other.us") / $DEEP" | bc -l)"
echo "  load after: $(cut -d' ' -f1-3 /proc/loadavg)"

echo
echo "stages of the deep save, each on its own (the save reads, filters and writes at once):"
for ((round = 1; round <= 3; round++)); do
  for rows in deep deep-up; do
    printf '  %-8s' "$rows:"
    "$DEEP_BENCH" --stages diffusion "$WORK/$rows-$SIZE.png" "$WORK/stages.png"
  done
done
