#!/usr/bin/env bash
# Writes small seed pictures of every layout the decoders meet into one folder per format, for
# starting a fuzz target's corpus (the minimised corpora kept in fuzz/corpus grew from these):
#
#   fuzz/make-seeds.sh FOLDER
#
# Uses ImageMagick, heif-enc, avifenc and cjxl (installed by scripts/setup.sh). Each picture is a few dozen pixels, so the
# decoders' glue, not the pixel loops, gets the fuzzer's time.
set -euo pipefail
out=${1:?folder}
mkdir -p "$out"/png "$out"/jpeg "$out"/tiff "$out"/webp "$out"/gif "$out"/heif "$out"/jxl
icc=/usr/share/color/icc/ghostscript/srgb.icc
src=$(mktemp --suffix=.ppm)
alpha=$(mktemp --suffix=.png)
trap 'rm -f "$src" "$alpha"' EXIT
# A gradient with a few colours, and the same with a soft alpha ramp.
convert -size 13x7 gradient:red-blue -fill green -draw 'point 3,3' -depth 8 "$src"
convert "$src" \( -size 13x7 gradient:white-black \) -alpha off -compose CopyOpacity -composite -depth 8 "$alpha"

# PNG: every colour type and depth, interlaced or not, with and without profile and gamma.
convert "$src" -colorspace Gray -depth 1 "$out/png/gray1.png"
convert "$src" -colorspace Gray -depth 2 PNG8:"$out/png/gray2-palette.png"
convert "$src" -colorspace Gray -depth 8 "$out/png/gray8.png"
convert "$src" -colorspace Gray -depth 16 "$out/png/gray16.png"
convert "$alpha" -colorspace Gray -depth 8 -define png:color-type=4 "$out/png/gray-alpha8.png"
convert "$alpha" -colorspace Gray -depth 16 -define png:color-type=4 "$out/png/gray-alpha16.png"
convert "$src" -define png:color-type=2 "$out/png/rgb8.png"
convert "$src" PNG48:"$out/png/rgb16.png"
convert "$src" -colors 6 PNG8:"$out/png/palette.png"
convert "$alpha" -colors 6 PNG8:"$out/png/palette-trns.png"
convert "$alpha" -define png:color-type=6 "$out/png/rgba8.png"
convert "$alpha" PNG64:"$out/png/rgba16.png"
convert "$src" -interlace PNG PNG24:"$out/png/rgb8-interlaced.png"
convert "$alpha" -interlace PNG PNG32:"$out/png/rgba8-interlaced.png"
convert "$src" -profile "$icc" PNG24:"$out/png/rgb8-iccp.png"
convert "$src" -gamma 0.8 -define png:include-chunk=gAMA PNG24:"$out/png/rgb8-gamma.png"

# JPEG: every orientation, grey, CMYK (plain and Adobe-inverted), progressive, subsamplings.
# The orientation travels in a minimal Exif segment (one tag) right after the start marker.
for orientation in 1 2 3 4 5 6 7 8; do
  convert "$src" -quality 80 "$alpha.jpg"
  {
    head -c 2 "$alpha.jpg"
    printf '\xff\xe1\x00\x22Exif\x00\x00II*\x00\x08\x00\x00\x00\x01\x00'
    printf '\x12\x01\x03\x00\x01\x00\x00\x00'
    printf "\\x0$orientation"
    printf '\x00\x00\x00\x00\x00\x00\x00'
    tail -c +3 "$alpha.jpg"
  } >"$out/jpeg/orientation$orientation.jpg"
  rm -f "$alpha.jpg"
done
convert "$src" -colorspace Gray -quality 70 "$out/jpeg/gray.jpg"
convert "$src" -colorspace CMYK -quality 70 "$out/jpeg/cmyk.jpg"
convert "$src" -interlace JPEG -quality 60 "$out/jpeg/progressive.jpg"
convert "$src" -sampling-factor 4:2:0 -quality 60 "$out/jpeg/subsampled420.jpg"
convert "$src" -sampling-factor 4:2:2 -quality 60 "$out/jpeg/subsampled422.jpg"
convert "$src" -profile "$icc" -quality 70 "$out/jpeg/rgb-icc.jpg"

# TIFF: strips and tiles, contiguous and planar, the usual compressions, depths, alpha, CMYK,
# and orientations.
convert "$src" -compress None "$out/tiff/rgb8.tif"
convert "$src" -compress LZW "$out/tiff/rgb8-lzw.tif"
convert "$src" -compress Zip "$out/tiff/rgb8-deflate.tif"
convert "$src" -compress RLE "$out/tiff/rgb8-packbits.tif"
convert "$src" -compress JPEG "$out/tiff/rgb8-jpeg.tif"
convert "$src" -define tiff:tile-geometry=16x16 "$out/tiff/rgb8-tiled.tif"
convert "$src" -interlace Plane "$out/tiff/rgb8-planar.tif"
convert "$src" -define tiff:rows-per-strip=2 "$out/tiff/rgb8-strips2.tif"
convert "$src" -depth 16 "$out/tiff/rgb16.tif"
convert "$src" -colorspace Gray -depth 1 -compress Group4 "$out/tiff/bilevel-g4.tif"
convert "$src" -colorspace Gray "$out/tiff/gray8.tif"
convert "$src" -colors 6 -type Palette "$out/tiff/palette.tif"
convert "$alpha" "$out/tiff/rgba8.tif"
convert "$alpha" -define tiff:alpha=associated "$out/tiff/rgba8-associated.tif"
convert "$src" -colorspace CMYK "$out/tiff/cmyk.tif"
convert "$src" -orient BottomRight "$out/tiff/orientation3.tif"
convert "$src" -orient RightTop "$out/tiff/orientation6.tif"
convert "$src" -profile "$icc" "$out/tiff/rgb8-icc.tif"
convert "$src" "$src" -adjoin "$out/tiff/two-pages.tif"

# WebP: lossy, lossless, with alpha, with a profile.
convert "$src" -quality 60 "$out/webp/lossy.webp"
convert "$src" -define webp:lossless=true "$out/webp/lossless.webp"
convert "$alpha" -quality 60 "$out/webp/lossy-alpha.webp"
convert "$alpha" -define webp:lossless=true "$out/webp/lossless-alpha.webp"
convert "$src" -profile "$icc" -quality 60 "$out/webp/lossy-icc.webp"

# GIF: a palette, transparency, interlacing, an animation whose frames do not cover the screen.
convert "$src" -colors 16 "$out/gif/palette.gif"
convert "$alpha" -channel A -threshold 50% +channel -colors 8 "$out/gif/transparent.gif"
convert "$src" -colors 16 -interlace GIF "$out/gif/interlaced.gif"
convert -size 13x7 xc:none \( "$src" -crop 5x4+2+1 \) -geometry +2+1 -composite \
  \( "$src" -colors 4 \) -loop 0 -set dispose previous "$out/gif/animated.gif"

# HEIF: HEIC (heif-enc) and AVIF (avifenc), 8 bits and deeper, alpha.
png16=$(mktemp --suffix=.png)
trap 'rm -f "$src" "$alpha" "$png16"' EXIT
convert "$src" PNG48:"$png16"
heif-enc -q 40 -o "$out/heif/rgb8.heic" "$alpha" >/dev/null
heif-enc -q 40 -b 10 -o "$out/heif/rgb10.heic" "$png16" >/dev/null
avifenc -s 8 --min 20 --max 40 "$alpha" "$out/heif/rgba8.avif" >/dev/null
avifenc -s 8 -d 12 --min 20 --max 40 "$png16" "$out/heif/rgb12.avif" >/dev/null
# Limited ("video") range: monochrome and colour AVIF, grey HEIC, expanded by the reader.
grey=$(mktemp --suffix=.png)
trap 'rm -f "$src" "$alpha" "$png16" "$grey"' EXIT
convert "$src" -colorspace Gray -depth 8 "$grey"
avifenc -s 8 -y 400 -r limited --min 20 --max 40 "$grey" "$out/heif/grey8-limited.avif" >/dev/null
avifenc -s 8 -y 400 -r limited -d 10 --min 20 --max 40 "$png16" "$out/heif/grey10-limited.avif" >/dev/null
avifenc -s 8 -r limited --min 20 --max 40 "$alpha" "$out/heif/rgba8-limited.avif" >/dev/null
heif-enc -q 40 --full_range_flag=0 -o "$out/heif/grey8-limited.heic" "$grey" >/dev/null

# JPEG XL: lossy and lossless, alpha, 16 bits, the bare codestream and the container.
cjxl -q 70 -e 3 "$alpha" "$out/jxl/rgba8-lossy.jxl" >/dev/null 2>&1
cjxl -d 0 -e 3 "$src" "$out/jxl/rgb8-lossless.jxl" >/dev/null 2>&1
cjxl -d 0 -e 3 "$png16" "$out/jxl/rgb16-lossless.jxl" >/dev/null 2>&1
cjxl -q 70 -e 3 --container=1 "$src" "$out/jxl/container.jxl" >/dev/null 2>&1
# Colour the reader asks for or converts: grey with a grey profile of its own (lossy and
# lossless), and linear light.
greyicc=/usr/share/color/icc/ghostscript/default_gray.icc
convert "$grey" -profile "$greyicc" "$out/jxl/.grey-icc.png"
cjxl -q 70 -e 3 "$out/jxl/.grey-icc.png" "$out/jxl/grey-icc-lossy.jxl" >/dev/null 2>&1
cjxl -d 0 -e 3 "$out/jxl/.grey-icc.png" "$out/jxl/grey-icc-lossless.jxl" >/dev/null 2>&1
rm -f "$out/jxl/.grey-icc.png"
# (the PNG's own colour chunks left out, or they would name the colour space instead)
convert "$png16" -define png:exclude-chunks=gAMA,cHRM,sRGB,iCCP PNG48:"$out/jxl/.linear.png"
cjxl -q 70 -e 3 -x color_space=RGB_D65_SRG_Rel_Lin "$out/jxl/.linear.png" \
  "$out/jxl/linear-lossy.jxl" >/dev/null 2>&1
rm -f "$out/jxl/.linear.png"
