#!/usr/bin/env bash
# Opening a large picture in the window against penamo-filter reading the same file: a
# 10000 x 8000 PNG opened in the real main window (from the name chosen to the window painted
# again, previews shown and full view shown), interleaved round by round with
# `penamo-filter none` on the same file. Target: the window's open at most 1.5 x the tool's run.
# Also the read on its own (ReadPicture, as both read), so the rest is the window's own cost.
#
#   bench/open-bench.sh [ROUNDS]    (default 5)
#
# Environment: BUILD (default build/dev, a Release build with the window), BEFORE (optional: the
# penamo_open_bench of another build, timed in the same rounds as "before"), WIDTH and HEIGHT
# (default 10000 x 8000), WORK (scratch folder). The window runs offscreen unless DISPLAY is
# set and QT_QPA_PLATFORM says xcb.
set -euo pipefail
cd "$(dirname "$0")/.."

ROUNDS=${1:-5}
WIDTH=${WIDTH:-10000}
HEIGHT=${HEIGHT:-8000}
BUILD=${BUILD:-build/dev}
WORK=${WORK:-$(mktemp -d)}
mkdir -p "$WORK"
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

cmake --build "$BUILD" --target penamo-filter penamo_open_bench penamo_save_bench >/dev/null
TOOL=$BUILD/app/penamo-filter
OPEN=$BUILD/bench/window/penamo_open_bench

PICTURE=$WORK/open-${WIDTH}x${HEIGHT}.png
if [ ! -f "$PICTURE" ]; then
  "$BUILD/bench/penamo_save_bench" --make-gradient "$WIDTH" "$HEIGHT" "$WORK/gradient.bmp"
  "$TOOL" none "$WORK/gradient.bmp" "$PICTURE"
  rm -f "$WORK/gradient.bmp"
fi

rm -f "$WORK"/open-*.ms "$WORK"/open-*.stages
# Wall milliseconds of one command, appended to its file; dirty data is flushed first so
# that no run pays for the one before.
timed() {
  local name=$1 start end
  shift
  sync
  start=$(date +%s%N)
  "$@" >>"$WORK/open-$name.stages"
  end=$(date +%s%N)
  echo $(((end - start) / 1000000)) >>"$WORK/open-$name.ms"
}

echo "Opening a ${WIDTH} x ${HEIGHT} PNG ($(stat -c %s "$PICTURE") bytes), $ROUNDS rounds;" \
  "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
# Each round runs every contender once, starting one further along each time, so that none
# always follows the tool's large write.
CONTENDERS=(tool previews full read)
[ -n "${BEFORE:-}" ] && CONTENDERS+=(before-previews before-full)
run() {
  case $1 in
    tool) timed tool "$TOOL" none "$PICTURE" "$WORK/out.bmp" && rm -f "$WORK/out.bmp" ;;
    previews) timed previews "$OPEN" "$PICTURE" ;;
    full) timed full "$OPEN" --full "$PICTURE" ;;
    read) timed read "$OPEN" --read-only "$PICTURE" ;;
    before-previews) timed before-previews "$BEFORE" "$PICTURE" ;;
    before-full) timed before-full "$BEFORE" --full "$PICTURE" ;;
  esac
}
for ((round = 0; round < ROUNDS; round++)); do
  for ((i = 0; i < ${#CONTENDERS[@]}; i++)); do
    run "${CONTENDERS[$(((round + i) % ${#CONTENDERS[@]}))]}"
  done
done

median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
range() { sort -n | awk 'NR == 1 {lo = $1} {hi = $1} END {printf "%.0f .. %.0f", lo, hi}'; }
# The median of one key=value field of a contender's stage lines.
stage() { grep -o "$2=[0-9.]*" "$WORK/open-$1.stages" | cut -d= -f2 | median; }

TOOL_MS=$(median <"$WORK/open-tool.ms")
READ_MS=$(stage read read_ms)
printf '  penamo-filter none (read + write)  median %6.0f ms (%s), whole process\n' "$TOOL_MS" \
  "$(range <"$WORK/open-tool.ms")"
printf '  read alone                         median %6.0f ms (in process)\n' "$READ_MS"
VIEWS="previews full"
[ -n "${BEFORE:-}" ] && VIEWS="$VIEWS before-previews before-full"
for view in $VIEWS; do
  OPEN_MS=$(stage $view total_ms)
  RATIO=$(echo "$OPEN_MS / $TOOL_MS" | bc -l)
  printf '  window open, %-15s       median %6.0f ms (%s in process; %s whole process):' \
    "$view" "$OPEN_MS" "$(grep -o 'total_ms=[0-9.]*' "$WORK/open-$view.stages" | cut -d= -f2 | range)" \
    "$(median <"$WORK/open-$view.ms")"
  printf ' open %.0f (read alone %.0f), paint %.0f; %.2fx the tool (target 1.5x): %s\n' \
    "$(stage $view open_ms)" "$READ_MS" "$(stage $view paint_ms)" "$RATIO" \
    "$(echo "$RATIO <= 1.5" | bc -l | sed 's/1/met/;s/0/MISSED/')"
done
echo "  load after: $(cut -d' ' -f1-3 /proc/loadavg)"
