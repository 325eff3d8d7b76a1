#!/usr/bin/env bash
# Times the whole save of a 4096 × 4096 24-bit picture with smooth gradations (read, convert,
# filter, write) for the fast filters, the straightforward extended-precision filters and
# ImageMagick 6, in interleaved rounds, and reports medians, ratios and peak memory; then runs
# the preview-refresh benchmark.
#
#   bench/save-bench.sh [ROUNDS]        (default 5; the straightforward saves take seconds each)
#
# Environment: BUILD (build folder, default build/bench-release), SIZE (default 4096),
# WORK (scratch folder, default a new temporary one).
set -euo pipefail
cd "$(dirname "$0")/.."

ROUNDS=${1:-5}
SIZE=${SIZE:-4096}
BUILD=${BUILD:-build/bench-release}
WORK=${WORK:-$(mktemp -d)}
mkdir -p "$WORK"

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPENAMO_GUI=OFF -DPENAMO_TESTS=OFF \
  >/dev/null
cmake --build "$BUILD" -j2 >/dev/null

SAVE_BENCH=$BUILD/bench/penamo_save_bench
FILTER_TOOL=$BUILD/app/penamo-filter
if [ ! -x "$SAVE_BENCH" ]; then
  echo "penamo_save_bench was not built: bitmap reading and writing are not in this tree yet."
  echo "Filter throughput alone:"
  "$BUILD/bench/penamo_bench" --benchmark_min_time=1
  exit 0
fi
if [ -x "$FILTER_TOOL" ]; then
  FAST=("$FILTER_TOOL")
  FAST_NAME=penamo-filter
else
  FAST=("$SAVE_BENCH")
  FAST_NAME="penamo_save_bench (penamo-filter not built yet)"
fi

IN=$WORK/in.bmp
[ -f "$IN" ] || "$SAVE_BENCH" --make-gradient "$SIZE" "$SIZE" "$IN"
PICTURE_BYTES=$((SIZE * SIZE * 3))

declare -A COMMANDS
COMMANDS[fast-pattern16]="${FAST[*]} pattern16 $IN $WORK/fast-pattern16.bmp"
COMMANDS[slow-pattern16]="$SAVE_BENCH --straightforward pattern16 $IN $WORK/slow-pattern16.bmp"
COMMANDS[magick-pattern16]="convert $IN -colorspace YCbCr -channel R -ordered-dither o4x4,16 +channel -colorspace sRGB -type TrueColor BMP3:$WORK/magick-pattern16.bmp"
COMMANDS[fast-diffusion16]="${FAST[*]} diffusion16 $IN $WORK/fast-diffusion16.bmp"
COMMANDS[slow-diffusion16]="$SAVE_BENCH --straightforward diffusion16 $IN $WORK/slow-diffusion16.bmp"
COMMANDS[magick-diffusion16]="convert $IN -colorspace YCbCr -channel R -dither FloydSteinberg -posterize 16 +channel -colorspace sRGB -type TrueColor BMP3:$WORK/magick-diffusion16.bmp"
ORDER=(fast-pattern16 magick-pattern16 slow-pattern16 fast-diffusion16 magick-diffusion16
  slow-diffusion16)

# One run: wall microseconds, peak resident KiB and CPU seconds (user + system, all threads)
# appended to the contender's files. CPU time says less about the wait but more about the work
# when other processes share the machine.
run() {
  local name=$1 start end
  start=$(date +%s%N)
  # shellcheck disable=SC2086
  /usr/bin/time -f '%M %U %S' -o "$WORK/$name.time" ${COMMANDS[$name]}
  end=$(date +%s%N)
  echo $(((end - start) / 1000)) >>"$WORK/$name.us"
  read -r rss user system <"$WORK/$name.time"
  echo "$rss" >>"$WORK/$name.rss"
  echo "$user + $system" | bc -l >>"$WORK/$name.cpu"
}

for name in "${ORDER[@]}"; do rm -f "$WORK/$name.us" "$WORK/$name.rss" "$WORK/$name.cpu"; done
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)," \
  "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "picture: ${SIZE} x ${SIZE}, 24 bits, $((PICTURE_BYTES / 1048576)) MiB of pixels; fast: $FAST_NAME"
for ((round = 1; round <= ROUNDS; round++)); do
  for name in "${ORDER[@]}"; do run "$name"; done
  echo "round $round done"
done

median() { sort -n "$1" | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

printf '\n%-20s %12s %14s %14s\n' contender "median ms" "median CPU s" "peak RSS MiB"
declare -A MS CPU
for name in "${ORDER[@]}"; do
  MS[$name]=$(median "$WORK/$name.us")
  CPU[$name]=$(median "$WORK/$name.cpu")
  printf '%-20s %12.1f %14.2f %14.1f\n' "$name" "$(echo "${MS[$name]} / 1000" | bc -l)" \
    "${CPU[$name]}" "$(echo "$(sort -n "$WORK/$name.rss" | tail -1) / 1024" | bc -l)"
done

LIMIT_KIB=$(((PICTURE_BYTES * 22 / 10 + 30 * 1048576) / 1024))
echo
for kind in pattern16 diffusion16; do
  printf '%-12s fast is %6.1fx ImageMagick, %6.1fx straightforward (wall);' "$kind" \
    "$(echo "${MS[magick-$kind]} / ${MS[fast-$kind]}" | bc -l)" \
    "$(echo "${MS[slow-$kind]} / ${MS[fast-$kind]}" | bc -l)"
  printf ' %.1fx, %.1fx (CPU)\n' "$(echo "${CPU[magick-$kind]} / ${CPU[fast-$kind]}" | bc -l)" \
    "$(echo "${CPU[slow-$kind]} / ${CPU[fast-$kind]}" | bc -l)"
  peak=$(sort -n "$WORK/fast-$kind.rss" | tail -1)
  echo "             fast peak memory $((peak / 1024)) MiB, limit 2.2 x picture + 30 MiB = $((LIMIT_KIB / 1024)) MiB:" \
    "$([ "$peak" -lt "$LIMIT_KIB" ] && echo within || echo OVER)"
  if cmp -s "$WORK/fast-$kind.bmp" "$WORK/slow-$kind.bmp"; then
    echo "             fast and straightforward files are identical"
  else
    echo "             FAST AND STRAIGHTFORWARD FILES DIFFER"
  fi
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

echo
echo "where one save spends its time (penamo_save_bench, one run each):"
for kind in pattern16 diffusion16; do
  printf '  %-28s' "fast $kind:"
  "$SAVE_BENCH" --stage-times "$kind" "$IN" "$WORK/stages.bmp" 2>&1
  printf '  %-28s' "straightforward $kind:"
  "$SAVE_BENCH" --straightforward --stage-times "$kind" "$IN" "$WORK/stages.bmp" 2>&1
done

echo
"$BUILD/bench/penamo_bench" --benchmark_filter=UpdateSamples --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true

# The PNG save against ImageMagick, and the picture formats' stage times.
echo
BUILD=$BUILD WORK=$WORK SIZE=$SIZE bench/png-save-bench.sh "$ROUNDS"
