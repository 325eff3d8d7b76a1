#!/usr/bin/env bash
# Every save while another program keeps one core busy: each of the seven filters, to a bitmap
# (from a bitmap) and to a PNG (from a PNG), against a durable copy of its own output (dd with
# fsync), in interleaved rounds, dirty data flushed (sync) before each timed command. The five
# 8-bit filters are saved by penamo-filter; diffusion and ordered through the command line's
# calls (penamo_deep_save_bench --save). Target: every save at most 1.5x its copy.
#
#   bench/loaded-save-bench.sh [ROUNDS]    (default 5)
#
# Environment: BUILD (default build/bench-release), SIZE (default 4096), WORK (scratch folder),
# BUSY=0 to run without the busy core (the same figures at rest), FILTERS (names to time, default
# all seven), FORMATS (default "bmp png").
set -euo pipefail
cd "$(dirname "$0")/.."

ROUNDS=${1:-5}
SIZE=${SIZE:-4096}
BUILD=${BUILD:-build/bench-release}
BUSY=${BUSY:-1}
FILTERS=${FILTERS:-pattern4 pattern16 diffusion64 diffusion32 diffusion16 diffusion ordered}
FORMATS=${FORMATS:-bmp png}
OWN_WORK=
if [ -z "${WORK:-}" ]; then
  WORK=$(mktemp -d)
  OWN_WORK=$WORK
fi
mkdir -p "$WORK"

# A build folder of one's own is configured once; an existing one (BUILD=build/dev) is kept.
[ -f "$BUILD/build.ninja" ] || cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DPENAMO_GUI=OFF -DPENAMO_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j2 --target penamo-filter penamo_save_bench penamo_deep_save_bench \
  >/dev/null

TOOL=$BUILD/app/penamo-filter
DEEP_BENCH=$BUILD/bench/formats/penamo_deep_save_bench
[ -f "$WORK/in.bmp" ] ||
  "$BUILD/bench/penamo_save_bench" --make-gradient "$SIZE" "$SIZE" "$WORK/in.bmp"
[ -f "$WORK/in.png" ] || "$TOOL" none "$WORK/in.bmp" "$WORK/in.png"

save() {
  local filter=$1 format=$2
  case $filter in
    diffusion | ordered)
      "$DEEP_BENCH" --save "$filter" "$WORK/in.$format" "$WORK/$filter.$format" >/dev/null ;;
    *) "$TOOL" "$filter" "$WORK/in.$format" "$WORK/$filter.$format" ;;
  esac
}
copy() { dd if="$WORK/$1.$2" of="$WORK/copy.$2" bs=1M conv=fsync status=none; }

# Wall microseconds of one command, appended to the named file.
timed() {
  local file=$1 start end
  shift
  sync
  start=$(date +%s%N)
  "$@"
  end=$(date +%s%N)
  echo $(((end - start) / 1000)) >>"$WORK/$file.us"
}

BUSY_PID=
stop_busy() { if [ -n "$BUSY_PID" ]; then kill "$BUSY_PID" 2>/dev/null || true; fi; }
trap 'stop_busy; [ -z "$OWN_WORK" ] || rm -rf "$OWN_WORK"' EXIT
if [ "$BUSY" = 1 ]; then
  # One core kept busy by a process of its own, from the first round to the last.
  sh -c 'while :; do :; done' &
  BUSY_PID=$!
fi

rm -f "$WORK"/*.us
echo "Saves, ${SIZE} x ${SIZE}, $ROUNDS rounds, busy core: $([ "$BUSY" = 1 ] && echo yes || echo no);" \
  "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for ((round = 1; round <= ROUNDS; round++)); do
  for format in $FORMATS; do
    for filter in $FILTERS; do
      timed "$filter-$format" save "$filter" "$format"
      timed "$filter-$format-copy" copy "$filter" "$format"
    done
  done
done

median() { sort -n "$1" | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
range() { sort -n "$1" | awk 'NR == 1 {lo = $1} {hi = $1} END {printf "%.0f .. %.0f", lo / 1000, hi / 1000}'; }
printf '%-16s %10s %16s %10s %16s %7s\n' save "median ms" "range ms" "copy ms" "range ms" ratio
for format in $FORMATS; do
  for filter in $FILTERS; do
    saved=$(median "$WORK/$filter-$format.us")
    copied=$(median "$WORK/$filter-$format-copy.us")
    ratio=$(echo "$saved / $copied" | bc -l)
    printf '%-16s %10.0f %16s %10.0f %16s %6.2fx %s\n' "$filter.$format" \
      "$(echo "$saved / 1000" | bc -l)" "$(range "$WORK/$filter-$format.us")" \
      "$(echo "$copied / 1000" | bc -l)" "$(range "$WORK/$filter-$format-copy.us")" "$ratio" \
      "$([ "$(echo "$ratio <= 1.5" | bc)" = 1 ] && echo met || echo MISSED)"
  done
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
