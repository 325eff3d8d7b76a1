#!/usr/bin/env bash
# Reading a 4000 × 3000 HEIC, AVIF and JPEG XL: our readers against the libraries' own
# command-line decoders (heif-convert, avifdec, djxl) and ImageMagick where it reads the format,
# each run as a process of its own, in interleaved rounds; medians of wall and CPU time. The
# tools write their pixels to raw files (Y4M, PPM) on a memory file system, the cheapest output
# each has; ours keeps them in memory. Then our decoding alone, in one process (no start-up,
# no file reading).
#
#   bench/heif-jxl-read-bench.sh [ROUNDS]    (default 7)
#
# Environment: BUILD (default build/bench-release), WORK (scratch folder, default under
# /dev/shm), WIDTH and HEIGHT (default 4000 and 3000).
set -euo pipefail
cd "$(dirname "$0")/.."

ROUNDS=${1:-7}
WIDTH=${WIDTH:-4000}
HEIGHT=${HEIGHT:-3000}
BUILD=${BUILD:-build/bench-release}
WORK=${WORK:-$(mktemp -d -p /dev/shm)}
mkdir -p "$WORK"

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPENAMO_GUI=OFF -DPENAMO_TESTS=OFF \
  >/dev/null
cmake --build "$BUILD" -j2 --target penamo_formats_bench penamo_save_bench >/dev/null
FORMATS_BENCH=$BUILD/bench/formats/penamo_formats_bench

# The pictures: smooth gradations, as a photograph has them, coded as cameras and exporters
# code them (4:2:0 at a photograph's quality; JPEG XL at its default effort).
[ -f "$WORK/gradient.bmp" ] ||
  "$BUILD/bench/penamo_save_bench" --make-gradient "$WIDTH" "$HEIGHT" "$WORK/gradient.bmp"
[ -f "$WORK/in.png" ] || convert "$WORK/gradient.bmp" "$WORK/in.png"
[ -f "$WORK/in.heic" ] || heif-enc -q 85 -o "$WORK/in.heic" "$WORK/in.png" >/dev/null
[ -f "$WORK/in.avif" ] || avifenc -s 8 --min 10 --max 30 "$WORK/in.png" "$WORK/in.avif" >/dev/null
[ -f "$WORK/in.jxl" ] || cjxl -q 90 "$WORK/in.png" "$WORK/in.jxl" >/dev/null 2>&1

ours_heic() { "$FORMATS_BENCH" --decode 1 "$WORK/in.heic" >/dev/null; }
tool_heic() { heif-convert --quiet "$WORK/in.heic" "$WORK/out-heic.y4m" >/dev/null; }
magick_heic() { convert "$WORK/in.heic" "$WORK/out-heic.ppm"; }
ours_avif() { "$FORMATS_BENCH" --decode 1 "$WORK/in.avif" >/dev/null; }
tool_avif() { avifdec -j all "$WORK/in.avif" "$WORK/out-avif.y4m" >/dev/null; }
magick_avif() { convert "$WORK/in.avif" "$WORK/out-avif.ppm"; }
ours_jxl() { "$FORMATS_BENCH" --decode 1 "$WORK/in.jxl" >/dev/null; }
tool_jxl() { djxl "$WORK/in.jxl" "$WORK/out-jxl.ppm" >/dev/null 2>&1; }
CONTENDERS=(ours_heic tool_heic magick_heic ours_avif tool_avif magick_avif ours_jxl tool_jxl)

# Wall microseconds and CPU seconds (user + system, every thread) of one run.
timed() {
  local name=$1 start end user system
  start=$(date +%s%N)
  /usr/bin/time -f '%U %S' -o "$WORK/$name.time" bash -c \
    "$(declare -f "$name"); WORK='$WORK' FORMATS_BENCH='$FORMATS_BENCH' $name"
  end=$(date +%s%N)
  echo $(((end - start) / 1000)) >>"$WORK/$name.us"
  read -r user system <"$WORK/$name.time"
  echo "$user + $system" | bc -l >>"$WORK/$name.cpu"
}

for name in "${CONTENDERS[@]}"; do rm -f "$WORK/$name.us" "$WORK/$name.cpu"; done
echo "Reading ${WIDTH} x ${HEIGHT}, $ROUNDS interleaved rounds, $(nproc) cores;" \
  "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "  files: HEIC $(stat -c %s "$WORK/in.heic"), AVIF $(stat -c %s "$WORK/in.avif")," \
  "JPEG XL $(stat -c %s "$WORK/in.jxl") bytes"
for ((round = 1; round <= ROUNDS; round++)); do
  for name in "${CONTENDERS[@]}"; do timed "$name"; done
done

median() { sort -n "$1" | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
for name in "${CONTENDERS[@]}"; do
  printf '  %-12s median %7.0f ms wall, %6.2f s CPU\n' "$name" \
    "$(echo "$(median "$WORK/$name.us") / 1000" | bc -l)" "$(median "$WORK/$name.cpu")"
done
echo "  load after: $(cut -d' ' -f1-3 /proc/loadavg)"

echo
echo "our decoding alone, in one process:"
for file in in.heic in.avif in.jxl; do
  printf '  %-8s ' "$file"
  "$FORMATS_BENCH" --decode "$ROUNDS" "$WORK/$file"
done
