#!/usr/bin/env bash
# The save of a picture of 2 GB or more through penamo-filter (pattern16 and diffusion16)
# against a durable copy of the same file (dd bs=1M conv=fsync), in interleaved rounds, dirty
# data flushed (sync) before each timed command. While each command runs its memory is polled
# from /proc: the largest anonymous resident memory (RssAnon; target under 64 MiB), the largest
# file-backed resident memory (RssFile) and the peak (VmHWM). Target: each save at most 3x the
# durable copy. Writes about 6.5 GB of files (the input, the copy, one output at a time) and
# removes them at the end.
#
#   bench/big-save-bench.sh [ROUNDS]     (default 3)
#
# Environment: BUILD (default build/bench-release), WIDTH and HEIGHT (default 30000 x 24000),
# WORK (scratch folder on the disk, default a new one under /var/tmp, removed at the end),
# BEFORE (optional: a penamo-filter built before the banded save, run once per filter).
set -euo pipefail
cd "$(dirname "$0")/.."

ROUNDS=${1:-3}
WIDTH=${WIDTH:-30000}
HEIGHT=${HEIGHT:-24000}
BUILD=${BUILD:-build/bench-release}
if [ -z "${WORK:-}" ]; then
  WORK=$(mktemp -d /var/tmp/penamo-big-XXXXXX)
  trap 'rm -rf "$WORK"' EXIT
fi
mkdir -p "$WORK"

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPENAMO_GUI=OFF -DPENAMO_TESTS=OFF \
  >/dev/null
nice -n 10 cmake --build "$BUILD" -j2 --target penamo-filter penamo_save_bench >/dev/null
SAVE_BENCH=$BUILD/bench/penamo_save_bench
FILTER_TOOL=$BUILD/app/penamo-filter

IN=$WORK/in.bmp
echo "making a ${WIDTH} x ${HEIGHT} picture (band by band)..."
"$SAVE_BENCH" --make-gradient "$WIDTH" "$HEIGHT" "$IN"
echo "input: $(($(stat -c %s "$IN") / 1000000)) MB; free memory $(free -m | awk '/Mem:/ {print $7}') MiB;" \
  "load $(cut -d' ' -f1-3 /proc/loadavg)"

declare -A COMMANDS
COMMANDS[dd]="dd if=$IN of=$WORK/out.bmp bs=1M conv=fsync status=none"
COMMANDS[pattern16]="$FILTER_TOOL pattern16 $IN $WORK/out.bmp"
COMMANDS[diffusion16]="$FILTER_TOOL diffusion16 $IN $WORK/out.bmp"
TIMED=(dd pattern16 diffusion16)

# Runs one command, polling its memory every 20 ms; prints wall ms, largest RssAnon, RssFile,
# and VmHWM (KiB).
measure() {
  rm -f "$WORK/out.bmp"
  sync
  local start end pid anon=0 file=0 hwm=0 a f h
  start=$(date +%s%N)
  # shellcheck disable=SC2086
  $1 &
  pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    if read -r a f h < <(awk '/^RssAnon/ {a=$2} /^RssFile/ {f=$2} /^VmHWM/ {h=$2} END {print a+0, f+0, h+0}' \
      "/proc/$pid/status" 2>/dev/null); then
      ((a > anon)) && anon=$a
      ((f > file)) && file=$f
      ((h > hwm)) && hwm=$h
    fi
    sleep 0.02
  done
  wait "$pid"
  end=$(date +%s%N)
  echo "$(((end - start) / 1000000)) $anon $file $hwm"
}

for name in "${TIMED[@]}"; do : >"$WORK/$name.runs"; done
for ((round = 1; round <= ROUNDS; round++)); do
  mapfile -t order < <(printf '%s\n' "${TIMED[@]}" | shuf)
  for name in "${order[@]}"; do
    result=$(measure "${COMMANDS[$name]}")
    echo "$result" >>"$WORK/$name.runs"
    read -r ms anon file hwm <<<"$result"
    printf 'round %d %-12s %7d ms  RssAnon max %6d KiB  RssFile max %6d KiB  VmHWM %6d KiB  (load %s)\n' \
      "$round" "$name" "$ms" "$anon" "$file" "$hwm" "$(cut -d' ' -f1 /proc/loadavg)"
  done
done

median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
echo
declare -A MS
for name in "${TIMED[@]}"; do
  MS[$name]=$(cut -d' ' -f1 "$WORK/$name.runs" | median)
  printf '%-12s median %7.0f ms, range %s – %s ms, largest RssAnon %d KiB\n' "$name" "${MS[$name]}" \
    "$(cut -d' ' -f1 "$WORK/$name.runs" | sort -n | head -1)" \
    "$(cut -d' ' -f1 "$WORK/$name.runs" | sort -n | tail -1)" \
    "$(cut -d' ' -f2 "$WORK/$name.runs" | sort -n | tail -1)"
done
for kind in pattern16 diffusion16; do
  ratio=$(echo "${MS[$kind]} / ${MS[dd]}" | bc -l)
  anon=$(cut -d' ' -f2 "$WORK/$kind.runs" | sort -n | tail -1)
  printf '%-12s %.2fx the durable copy (target at most 3): %s; RssAnon under 64 MiB: %s\n' "$kind" \
    "$ratio" "$([ "$(echo "$ratio <= 3" | bc)" = 1 ] && echo met || echo MISSED)" \
    "$([ "$anon" -lt 65536 ] && echo met || echo MISSED)"
done

if [ -n "${BEFORE:-}" ]; then
  echo
  for kind in pattern16 diffusion16; do
    read -r ms anon file hwm <<<"$(measure "$BEFORE $kind $IN $WORK/out.bmp")"
    printf 'before, %-12s %7d ms  RssAnon max %d KiB  VmHWM %d KiB\n' "$kind" "$ms" "$anon" "$hwm"
  done
fi
rm -f "$WORK/out.bmp" "$IN"
