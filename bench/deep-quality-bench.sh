#!/bin/sh
# The quality of the filters for deep pictures beside GEGL's Floyd–Steinberg dither (256 levels
# a channel), measured on the same 16-bit pictures in one run, with GEGL's time for each.
#   bench/deep-quality-bench.sh [BUILD]   (BUILD defaults to build/release)
set -eu
build=${1:-build/release}
bench="$build/bench/penamo_deep_quality_bench"
[ -x "$bench" ] || { echo "build $bench first" >&2; exit 1; }
command -v gegl >/dev/null || { echo "gegl is not installed" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bench" --write "$work"
for picture in sky dark-ramp grey-ramp; do
  start=$(date +%s.%N)
  gegl -i "$work/$picture.png" -o "$work/$picture-other.png" -- gegl:dither \
    red-levels=256 green-levels=256 blue-levels=256 alpha-levels=256 dither-method=floyd-steinberg
  end=$(date +%s.%N)
  echo "gegl:dither $picture: $(echo "$end - $start" | bc) s"
done
echo "(\"other tool\" below is gegl:dither, Floyd-Steinberg, 256 levels a channel)"
"$bench" --compare "$work"
