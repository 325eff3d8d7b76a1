#include "BitmapCanvas.h"

#include <algorithm>

#include "Bitmap.h"
#include "PixelCodecs.h"

namespace penamo {

void TBitmapCanvas::CopyRectangle(const TRect& dest, const TBitmapCanvas& sourceCanvas,
                                  const TRect& source) {
  FOwner.PrepareForChange();
  TBitmapImage& target = *FOwner.FImage;
  const TBitmapImage& from = *sourceCanvas.FOwner.FImage;
  const std::int32_t dw = dest.Width(), dh = dest.Height();
  const std::int32_t sw = source.Width(), sh = source.Height();
  if (target.HasPixels() && from.HasPixels() && dw > 0 && dh > 0 && sw > 0 && sh > 0) {
    target.MakeExplicit();
    if (dw == sw && dh == sh) {
      // Clip both rectangles together, so only pixels present in both pictures move.
      const std::int64_t left = std::max<std::int64_t>(
          {0, -static_cast<std::int64_t>(dest.Left), -static_cast<std::int64_t>(source.Left)});
      const std::int64_t top = std::max<std::int64_t>(
          {0, -static_cast<std::int64_t>(dest.Top), -static_cast<std::int64_t>(source.Top)});
      const std::int64_t right = std::min<std::int64_t>(
          {static_cast<std::int64_t>(dw), static_cast<std::int64_t>(target.Width()) - dest.Left,
           static_cast<std::int64_t>(from.Width()) - source.Left});
      const std::int64_t bottom = std::min<std::int64_t>(
          {static_cast<std::int64_t>(dh), static_cast<std::int64_t>(target.Height()) - dest.Top,
           static_cast<std::int64_t>(from.Height()) - source.Top});
      if (right > left && bottom > top) {
        CopyPixels(
            from, static_cast<std::int32_t>(source.Left + left),
            static_cast<std::int32_t>(source.Top + top), target,
            static_cast<std::int32_t>(dest.Left + left), static_cast<std::int32_t>(dest.Top + top),
            static_cast<std::int32_t>(right - left), static_cast<std::int32_t>(bottom - top));
      }
    } else {
      // Stretching or shrinking: each target pixel takes the nearest source pixel.
      const std::int64_t x0 = std::max<std::int64_t>(0, dest.Left);
      const std::int64_t x1 = std::min<std::int64_t>(target.Width(), dest.Right);
      const std::int64_t y0 = std::max<std::int64_t>(0, dest.Top);
      const std::int64_t y1 = std::min<std::int64_t>(target.Height(), dest.Bottom);
      const TPixelDecoder decoder(from);
      const TPixelEncoder encoder(target);
      std::uint8_t bgr[3];
      for (std::int64_t y = y0; y < y1; ++y) {
        const std::int64_t sy = source.Top + (y - dest.Top) * sh / dh;
        if (sy < 0 || sy >= from.Height()) continue;
        for (std::int64_t x = x0; x < x1; ++x) {
          const std::int64_t sx = source.Left + (x - dest.Left) * sw / dw;
          if (sx < 0 || sx >= from.Width()) continue;
          decoder.DecodeRow(static_cast<std::int32_t>(sy), static_cast<std::int32_t>(sx), 1, bgr);
          encoder.EncodeRow(static_cast<std::int32_t>(y), static_cast<std::int32_t>(x), 1, bgr);
        }
      }
    }
  }
  FOwner.Changed();
}

}  // namespace penamo
