#!/usr/bin/env bash
# Times the save of a 4096 × 4096 24-bit picture with smooth gradations through penamo-filter
# (pattern16 and diffusion16) against a durable copy of the same file (dd bs=1M conv=fsync), as
# a user lives: in interleaved rounds, with ImageMagick or the straightforward filters working
# just before every timed command (they take memory and leave dirty pages, as other programs
# do), dirty data flushed (sync) before each timed command. The page cache is not dropped: a
# user saves a picture just opened, whose file is in memory, and dd reads it from there too.
# Reports medians and ranges, the ratio to the durable copy (target: at most 2), the peak
# resident memory (target: at most the input file + 16 MiB), and where one save spends its time,
# whole-picture (before) and banded (after); then the preview-refresh benchmark.
#
#   bench/save-bench.sh [ROUNDS]        (default 5; the straightforward filters take seconds)
#
# Environment: BUILD (build folder, default build/bench-release), SIZE (default 4096),
# WORK (scratch folder, default a new temporary one, removed at the end), BEFORE (optional: a
# penamo-filter built before the banded save, timed as one more contender).
set -euo pipefail
cd "$(dirname "$0")/.."

ROUNDS=${1:-5}
SIZE=${SIZE:-4096}
BUILD=${BUILD:-build/bench-release}
if [ -z "${WORK:-}" ]; then
  WORK=$(mktemp -d)
  trap 'rm -rf "$WORK"' EXIT
fi
mkdir -p "$WORK"

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPENAMO_GUI=OFF -DPENAMO_TESTS=OFF \
  >/dev/null
nice -n 10 cmake --build "$BUILD" -j2 >/dev/null

SAVE_BENCH=$BUILD/bench/penamo_save_bench
FILTER_TOOL=$BUILD/app/penamo-filter
IN=$WORK/in.bmp
[ -f "$IN" ] || "$SAVE_BENCH" --make-gradient "$SIZE" "$SIZE" "$IN"
IN_KIB=$(($(stat -c %s "$IN") / 1024))

declare -A COMMANDS
COMMANDS[dd]="dd if=$IN of=$WORK/dd.bmp bs=1M conv=fsync status=none"
COMMANDS[pattern16]="$FILTER_TOOL pattern16 $IN $WORK/pattern16.bmp"
COMMANDS[diffusion16]="$FILTER_TOOL diffusion16 $IN $WORK/diffusion16.bmp"
TIMED=(dd pattern16 diffusion16)
if [ -n "${BEFORE:-}" ]; then
  COMMANDS[before-pattern16]="$BEFORE pattern16 $IN $WORK/before-pattern16.bmp"
  COMMANDS[before-diffusion16]="$BEFORE diffusion16 $IN $WORK/before-diffusion16.bmp"
  TIMED+=(before-pattern16 before-diffusion16)
fi
# The other programs, taking turns before the timed commands.
DISTURBERS=(
  "convert $IN -colorspace YCbCr -channel R -ordered-dither o4x4,16 +channel -colorspace sRGB -type TrueColor BMP3:$WORK/magick.bmp"
  "$SAVE_BENCH --straightforward pattern16 $IN $WORK/straightforward-pattern16.bmp"
  "convert $IN -colorspace YCbCr -channel R -dither FloydSteinberg -posterize 16 +channel -colorspace sRGB -type TrueColor BMP3:$WORK/magick.bmp"
  "$SAVE_BENCH --straightforward diffusion16 $IN $WORK/straightforward-diffusion16.bmp"
)
turn=0
disturb() {
  # shellcheck disable=SC2086
  ${DISTURBERS[$((turn % ${#DISTURBERS[@]}))]} >/dev/null
  turn=$((turn + 1))
  sync
}

# One timed run: wall microseconds and peak resident KiB appended to the contender's files.
run() {
  local name=$1 start end
  disturb
  start=$(date +%s%N)
  # shellcheck disable=SC2086
  /usr/bin/time -f '%M' -o "$WORK/$name.time" ${COMMANDS[$name]}
  end=$(date +%s%N)
  echo $(((end - start) / 1000)) >>"$WORK/$name.us"
  cat "$WORK/$name.time" >>"$WORK/$name.rss"
}

for name in "${TIMED[@]}"; do rm -f "$WORK/$name.us" "$WORK/$name.rss"; done
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)," \
  "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "picture: ${SIZE} x ${SIZE}, 24 bits, file $((IN_KIB / 1024)) MiB"
for ((round = 1; round <= ROUNDS; round++)); do
  # Each round in another order, so that no contender always follows the same disturber.
  mapfile -t order < <(printf '%s\n' "${TIMED[@]}" | shuf)
  for name in "${order[@]}"; do run "$name"; done
  echo "round $round done (load $(cut -d' ' -f1 /proc/loadavg))"
done

median() { sort -n "$1" | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
low() { sort -n "$1" | head -1; }
high() { sort -n "$1" | tail -1; }

printf '\n%-20s %10s %20s %14s\n' contender "median ms" "range ms" "peak RSS MiB"
declare -A MS
for name in "${TIMED[@]}"; do
  MS[$name]=$(median "$WORK/$name.us")
  printf '%-20s %10.1f %9.1f – %8.1f %14.1f\n' "$name" "$(echo "${MS[$name]} / 1000" | bc -l)" \
    "$(echo "$(low "$WORK/$name.us") / 1000" | bc -l)" \
    "$(echo "$(high "$WORK/$name.us") / 1000" | bc -l)" \
    "$(echo "$(high "$WORK/$name.rss") / 1024" | bc -l)"
done

echo
LIMIT_KIB=$((IN_KIB + 16 * 1024))
for kind in pattern16 diffusion16; do
  ratio=$(echo "${MS[$kind]} / ${MS[dd]}" | bc -l)
  printf '%-12s median %.2fx the durable copy (target at most 2): %s\n' "$kind" "$ratio" \
    "$([ "$(echo "$ratio <= 2" | bc)" = 1 ] && echo met || echo MISSED)"
  if [ -n "${BEFORE:-}" ]; then
    printf '             before: %.2fx the durable copy\n' \
      "$(echo "${MS[before-$kind]} / ${MS[dd]}" | bc -l)"
  fi
  peak=$(high "$WORK/$kind.rss")
  echo "             peak RSS $((peak / 1024)) MiB, target input + 16 MiB = $((LIMIT_KIB / 1024)) MiB:" \
    "$([ "$peak" -le "$LIMIT_KIB" ] && echo met || echo MISSED)"
  if cmp -s "$WORK/$kind.bmp" "$WORK/straightforward-$kind.bmp"; then
    echo "             the saved file is identical to the straightforward filter's"
  else
    echo "             THE SAVED FILE DIFFERS FROM THE STRAIGHTFORWARD FILTER'S"
  fi
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

echo
echo "where one save spends its time (penamo_save_bench, after a disturber and sync, one run each):"
for kind in pattern16 diffusion16; do
  disturb
  printf '  %-28s' "before, whole picture, $kind:"
  "$SAVE_BENCH" --whole --stage-times "$kind" "$IN" "$WORK/stages.bmp" 2>&1
  disturb
  printf '  %-28s' "after, banded, $kind:"
  "$SAVE_BENCH" --stage-times "$kind" "$IN" "$WORK/stages.bmp" 2>&1
done

if [ -x "$BUILD/bench/penamo_bench" ]; then
  echo
  "$BUILD/bench/penamo_bench" --benchmark_filter=UpdateSamples --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true
fi

# The PNG save against ImageMagick, and the picture formats' stage times.
echo
BUILD=$BUILD WORK=$WORK SIZE=$SIZE bench/png-save-bench.sh "$ROUNDS"
