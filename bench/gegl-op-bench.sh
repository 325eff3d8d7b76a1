#!/usr/bin/env bash
# The GEGL operation against GEGL's own dither, both through the `gegl` command on the same
# SIZE × SIZE 16-bit PNG (load, operation, save): penamo:dither's diffusion and ordered dither
# (256 levels) and gegl:dither's Floyd–Steinberg (256 levels a channel, its default method for
# a picture brought to 8 bits), in interleaved rounds; medians and ranges of wall time, CPU
# seconds. The load and save are the same for all, so the ratio understates the operations'
# own difference; `gegl:nop` (load and save alone) is timed beside them to show that share.
#
#   bench/gegl-op-bench.sh [ROUNDS]    BUILD=build/test reuses a build folder with the operation
set -euo pipefail
cd "$(dirname "$0")/.."

ROUNDS=${1:-5}
SIZE=${SIZE:-4096}
BUILD=${BUILD:-build/bench-release}
WORK=${WORK:-$(mktemp -d)}
mkdir -p "$WORK"
command -v gegl >/dev/null || { echo "the gegl command is missing (Debian package gegl)" >&2; exit 1; }

[ -f "$BUILD/build.ninja" ] || cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DPENAMO_GUI=OFF -DPENAMO_TESTS=OFF -DPENAMO_BENCH=OFF -DPENAMO_PYTHON=OFF -DPENAMO_GEGL=ON >/dev/null
cmake --build "$BUILD" -j2 --target penamo_gegl >/dev/null

# The picture: smooth ramps with a little noise at 16 bits (tests/python/pictures.py).
[ -f "$WORK/deep-$SIZE.png" ] || PYTHONPATH=tests/python /usr/bin/python3 -c "
import sys; from pictures import gradient, write_png
write_png(sys.argv[1], gradient($SIZE, $SIZE, 3, 16))" "$WORK/deep-$SIZE.png"

export GEGL_PATH=$PWD/$BUILD/gegl-module:$(pkg-config gegl-0.4 --variable=pluginsdir)
# The module has no run path, as installed: the build's library is named here.
export LD_LIBRARY_PATH=$PWD/$BUILD/capi
export XDG_CACHE_HOME=$WORK/cache GEGL_SWAP=$WORK/swap
# GEGL prints leak warnings at exit; a failure still stops the script.
run() { gegl "$WORK/deep-$SIZE.png" -o "$WORK/$1-out.png" -- "${@:2}" >/dev/null 2>&1; }
diffusion() { run diffusion penamo:dither filter=diffusion levels=256; }
ordered() { run ordered penamo:dither filter=ordered levels=256; }
dither() {
  run dither gegl:dither red-levels=256 green-levels=256 blue-levels=256 alpha-levels=256 \
    dither-method=floyd-steinberg
}
nop() { run nop gegl:nop; }

timed() {
  local name=$1 start end user system
  start=$(date +%s%N)
  /usr/bin/time -f '%U %S' -o "$WORK/$name.time" bash -c \
    "$(declare -f run "$name"); WORK='$WORK' SIZE='$SIZE' $name"
  end=$(date +%s%N)
  echo $(((end - start) / 1000)) >>"$WORK/$name.us"
  read -r user system <"$WORK/$name.time"
  echo "$user + $system" | bc -l >>"$WORK/$name.cpu"
}
median() { sort -n "$1" | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
range() { sort -n "$1" | awk 'NR == 1 {lo = $1} {hi = $1} END {printf "%.0f .. %.0f", lo / 1000, hi / 1000}'; }

contenders="diffusion ordered dither nop"
for name in $contenders; do rm -f "$WORK/$name.us" "$WORK/$name.cpu"; done
echo "gegl command, ${SIZE} x ${SIZE} 16-bit PNG, $ROUNDS interleaved rounds; $(nproc) cores; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for ((round = 1; round <= ROUNDS; round++)); do
  for name in $contenders; do timed "$name"; done
done
label() {
  case $1 in
    diffusion) echo "penamo:dither diffusion     " ;;
    ordered) echo "penamo:dither ordered       " ;;
    dither) echo "gegl:dither Floyd-Steinberg " ;;
    nop) echo "gegl:nop (load and save)    " ;;
  esac
}
for name in $contenders; do
  printf '  %s median %7.0f ms (%s), CPU %.2f s\n' "$(label "$name")" \
    "$(echo "$(median "$WORK/$name.us") / 1000" | bc -l)" "$(range "$WORK/$name.us")" \
    "$(median "$WORK/$name.cpu")"
done
ratio() { echo "$(median "$WORK/$1.us") / $(median "$WORK/$2.us")" | bc -l; }
printf '  gegl:dither / penamo:dither diffusion: %.1fx, / ordered: %.1fx (target at least 4x)\n' \
  "$(ratio dither diffusion)" "$(ratio dither ordered)"
# The operations' own cost: CPU seconds above gegl:nop's (wall time above nop's is within the
# noise of a shared machine's load and save).
own() { echo "$(median "$WORK/$1.cpu") - $(median "$WORK/nop.cpu")" | bc -l; }
printf '  CPU above gegl:nop: diffusion %.2f s, ordered %.2f s, gegl:dither %.2f s\n' \
  "$(own diffusion)" "$(own ordered)" "$(own dither)"
echo "  load after: $(cut -d' ' -f1-3 /proc/loadavg) (the machine is shared: compare within a run)"
