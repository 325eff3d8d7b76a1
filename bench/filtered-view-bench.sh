#!/usr/bin/env bash
# The full view through a filter against penamo-filter saving the same picture: a 6000 x 4000
# (24-megapixel) gradient bitmap opened in the real main window with the full view showing, the
# filter chosen, and the event loop run until the whole picture is shown (penamo_filtered_view_bench,
# timed from the choice), interleaved round by round with `penamo-filter FILTER in out.bmp` (whole
# process: read, filter, write). Each timed command follows a sync. Targets: complete within 1.3x
# the tool's run, the first screenful within 0.3 s of the choice, no gap over 100 ms between two
# ticks of a 10 ms timer on the event loop, at most one more 24-bit copy of the picture.
#
#   bench/filtered-view-bench.sh [ROUNDS]    (default 5)
#
# Environment: BUILD (default build/bench-release, a Release build with benches), FILTER (default
# diffusion16), WIDTH and HEIGHT (default 6000 x 4000), WORK (scratch folder).
set -euo pipefail
cd "$(dirname "$0")/.."

ROUNDS=${1:-5}
FILTER=${FILTER:-diffusion16}
WIDTH=${WIDTH:-6000}
HEIGHT=${HEIGHT:-4000}
BUILD=${BUILD:-build/bench-release}
WORK=${WORK:-$(mktemp -d)}
mkdir -p "$WORK"
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPENAMO_BENCH=ON >/dev/null
fi
cmake --build "$BUILD" --target penamo-filter penamo_filtered_view_bench penamo_save_bench >/dev/null
TOOL=$BUILD/app/penamo-filter
VIEW=$BUILD/bench/window/penamo_filtered_view_bench

PICTURE=$WORK/view-${WIDTH}x${HEIGHT}.bmp
[ -f "$PICTURE" ] || "$BUILD/bench/penamo_save_bench" --make-gradient "$WIDTH" "$HEIGHT" "$PICTURE"

rm -f "$WORK"/view-*.ms "$WORK"/view-*.stages
timed() {
  local name=$1 start end
  shift
  sync
  start=$(date +%s%N)
  "$@" >>"$WORK/view-$name.stages"
  end=$(date +%s%N)
  echo $(((end - start) / 1000000)) >>"$WORK/view-$name.ms"
}

echo "$FILTER over a ${WIDTH} x ${HEIGHT} bitmap, $ROUNDS rounds; load before:" \
  "$(cut -d' ' -f1-3 /proc/loadavg)"
for ((round = 0; round < ROUNDS; round++)); do
  # Each round starts with the other contender than the round before.
  if ((round % 2 == 0)); then order="tool view"; else order="view tool"; fi
  for who in $order; do
    case $who in
      tool) timed tool "$TOOL" "$FILTER" "$PICTURE" "$WORK/out.bmp" && rm -f "$WORK/out.bmp" ;;
      view) timed view "$VIEW" "$FILTER" "$PICTURE" ;;
    esac
  done
done

median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
range() { sort -n | awk 'NR == 1 {lo = $1} {hi = $1} END {printf "%.0f .. %.0f", lo, hi}'; }
field() { grep -o "$1=[0-9.]*" "$WORK/view-view.stages" | cut -d= -f2; }
verdict() { echo "$1" | bc -l | sed 's/^1$/met/;s/^0$/MISSED/'; }

TOOL_MS=$(median <"$WORK/view-tool.ms")
VIEW_MS=$(field complete_ms | median)
FIRST_MS=$(field first_ms | median)
RATIO=$(echo "$VIEW_MS / $TOOL_MS" | bc -l)
printf '  penamo-filter %s (read, filter, write)  median %6.0f ms (%s), whole process\n' "$FILTER" \
  "$TOOL_MS" "$(range <"$WORK/view-tool.ms")"
printf '  full view, choice to complete            median %6.0f ms (%s); %.2fx the tool (target 1.3x): %s\n' \
  "$VIEW_MS" "$(field complete_ms | range)" "$RATIO" "$(verdict "$RATIO <= 1.3")"
printf '  first screenful                          median %6.0f ms (%s) (target 300 ms): %s\n' \
  "$FIRST_MS" "$(field first_ms | range)" "$(verdict "$FIRST_MS <= 300")"
printf '  timer gaps (10 ms ticks): p50 %s, p90 %s, p99 %s ms; longest per round %s ms (target < 100): %s\n' \
  "$(field gap_p50_ms | median)" "$(field gap_p90_ms | median)" "$(field gap_p99_ms | median)" \
  "$(field gap_max_ms | tr '\n' ' ' | sed 's/ $//')" "$(verdict "$(field gap_max_ms | sort -n | tail -1) < 100")"
printf '  memory added: median %s MiB (%s), one 24-bit copy %s MiB: %s\n' "$(field added_MiB | median)" \
  "$(field added_MiB | range)" "$(field copy_MiB | head -1)" \
  "$(verdict "$(field added_MiB | sort -n | tail -1) <= $(field copy_MiB | head -1) * 1.05")"
echo "  load after: $(cut -d' ' -f1-3 /proc/loadavg)"
