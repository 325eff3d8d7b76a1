#!/usr/bin/env bash
# Many pictures into one folder: one picture at a time with every core (a loop of
# penamo-filter runs, each sharing its picture between the cores), several pictures at once
# (one penamo-filter process a core, xargs -P), and the batch form (penamo-filter FILTER
# INPUT... -o FOLDER), in interleaved rounds, for each filter.
#
#   bench/batch-bench.sh [ROUNDS]    (default 5)
#
# Environment: BUILD (default build/bench-release), COUNT pictures (default 12) of WIDTH ×
# HEIGHT (default 2000 × 1500), KIND jpg or png (default jpg: photographs), FILTERS (default
# "diffusion16 pattern16 diffusion"), WORK (scratch folder).
set -euo pipefail
cd "$(dirname "$0")/.."

ROUNDS=${1:-5}
BUILD=${BUILD:-build/bench-release}
COUNT=${COUNT:-12}
WIDTH=${WIDTH:-2000}
HEIGHT=${HEIGHT:-1500}
KIND=${KIND:-jpg}
FILTERS=${FILTERS:-diffusion16 pattern16 diffusion}
WORK=${WORK:-$(mktemp -d)}
CORES=$(nproc)
mkdir -p "$WORK"

if [ ! -x "$BUILD/app/penamo-filter" ] || [ ! -x "$BUILD/bench/penamo_save_bench" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPENAMO_GUI=OFF -DPENAMO_TESTS=OFF \
    >/dev/null
  cmake --build "$BUILD" -j2 --target penamo-filter penamo_save_bench >/dev/null
fi
TOOL=$BUILD/app/penamo-filter

# The pictures: smooth gradations, each a little different (cropped at another place), stored
# as ImageMagick stores them.
"$BUILD/bench/penamo_save_bench" --make-gradient $((WIDTH + COUNT)) "$HEIGHT" "$WORK/gradient.bmp" \
  >/dev/null
inputs=()
for ((i = 0; i < COUNT; i++)); do
  file=$WORK/picture-$i.$KIND
  [ -f "$file" ] || convert "$WORK/gradient.bmp" -crop "${WIDTH}x${HEIGHT}+${i}+0" +repage \
    -quality 92 "$file"
  inputs+=("$file")
done

one_at_a_time() {
  local f
  for f in "${inputs[@]}"; do
    "$TOOL" "$filter" "$f" "$WORK/out/$(basename "${f%.*}").png"
  done
}
side_by_side() {
  printf '%s\0' "${inputs[@]}" |
    xargs -0 -P "$CORES" -I{} sh -c 'f=$1; n=${f##*/}; "$2" "$3" "$f" "$4/${n%.*}.png"' _ {} \
      "$TOOL" "$filter" "$WORK/out"
}
batch() { "$TOOL" "$filter" "${inputs[@]}" -o "$WORK/out"; }

# Wall milliseconds of one run, appended to its file; dirty data is flushed first so that no
# run pays for another's writes.
timed() {
  local mode=$1 start end
  rm -rf "$WORK/out" && mkdir "$WORK/out"
  sync
  start=$(date +%s%N)
  "$mode"
  end=$(date +%s%N)
  echo $(((end - start) / 1000000)) >>"$WORK/$filter-$mode.ms"
}
median() { sort -n "$1" | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
range() { sort -n "$1" | awk 'NR == 1 {lo = $1} {hi = $1} END {printf "%d .. %d", lo, hi}'; }

echo "$COUNT pictures of $WIDTH x $HEIGHT ($KIND) to PNG, $CORES cores, $ROUNDS rounds;" \
  "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for filter in $FILTERS; do
  rm -f "$WORK/$filter"-*.ms
  for ((round = 1; round <= ROUNDS; round++)); do
    timed one_at_a_time
    timed side_by_side
    timed batch
  done
  echo "$filter:"
  for mode in one_at_a_time side_by_side batch; do
    m=$(median "$WORK/$filter-$mode.ms")
    printf '  %-14s median %6d ms (%s), %5.0f ms a picture\n' "$mode" "$m" \
      "$(range "$WORK/$filter-$mode.ms")" "$(echo "$m / $COUNT" | bc -l)"
  done
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
