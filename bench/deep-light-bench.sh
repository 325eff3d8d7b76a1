#!/bin/sh
# The deep filters in linear light against encoded values and against GEGL's dither
# (gegl:gray, then gegl:dither to the same level count, Floyd-Steinberg), on the same 16-bit
# pictures: block-mean errors in linear light, then the speed of the two lights, interleaved.
# Needs: gegl (apt-get install -y gegl); GEGL=0 leaves it out.
#   bench/deep-light-bench.sh [BUILD] [ROUNDS]   (BUILD defaults to build/release)
set -eu
build=${1:-build/release}
rounds=${2:-5}
GEGL=${GEGL:-1}
bench="$build/bench/penamo_deep_quality_bench"
[ -x "$bench" ] || { echo "build $bench first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ "$GEGL" = 1 ]; then
  command -v gegl >/dev/null || { echo "gegl is not installed (GEGL=0 leaves it out)" >&2; exit 1; }
  "$bench" --light-write "$work"
  for picture in ramp16 sky dark-ramp grey-ramp; do
    for levels in 2 4 16; do
      # GEGL prints leak warnings at exit; a failure still stops the script.
      gegl -i "$work/$picture.png" -o "$work/$picture-gegl-$levels.png" -- gegl:gray \
        gegl:dither red-levels=$levels green-levels=$levels blue-levels=$levels \
        alpha-levels=256 dither-method=floyd-steinberg >/dev/null 2>&1
    done
  done
  "$bench" --light "$work"
else
  "$bench" --light
fi
echo "load before the speed rounds: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
"$bench" --speed "$rounds"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

# The whole save through the command line (reading and writing beside the filter), interleaved.
tool=${TOOL:-$build/app/penamo-filter}
if [ -x "$tool" ]; then
  "$bench" --speed-write "$work/speed.png"
  for run in $(seq "$rounds"); do
    for filter in diffusion ordered; do
      for light in encoded linear; do
        start=$(date +%s%N)
        "$tool" --light $light $filter "$work/speed.png" "$work/out.png"
        echo $((($(date +%s%N) - start) / 1000000)) >>"$work/$filter-$light.ms"
      done
    done
  done
  median() { sort -n "$1" | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
  echo "penamo-filter, 4096 x 4096 16-bit PNG to an 8-bit PNG, $rounds interleaved rounds (wall ms):"
  for filter in diffusion ordered; do
    for light in encoded linear; do
      printf '  %-9s --light %-7s median %6s (%s .. %s)\n' $filter $light \
        "$(median "$work/$filter-$light.ms")" "$(sort -n "$work/$filter-$light.ms" | head -1)" \
        "$(sort -n "$work/$filter-$light.ms" | tail -1)"
    done
    printf '  %-9s linear / encoded %.2fx (target at most 1.2x)\n' $filter \
      "$(echo "$(median "$work/$filter-linear.ms") / $(median "$work/$filter-encoded.ms")" | bc -l)"
  done
  echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
else
  echo "no $tool: TOOL=path/to/penamo-filter times the whole save too"
fi
