#include "RunLength.h"

#include <algorithm>
#include <array>

namespace penamo {

namespace {

using TColor = std::array<std::uint8_t, 3>;  // blue, green, red

// The whole range of indexes a byte can hold, so no index is ever looked up past the end.
std::array<TColor, 256> ColorsByIndex(const std::vector<TRGBQuad>& colorTable) {
  std::array<TColor, 256> colors{};
  const std::size_t count = std::min<std::size_t>(colorTable.size(), colors.size());
  for (std::size_t i = 0; i < count; ++i)
    colors[i] = {colorTable[i].rgbBlue, colorTable[i].rgbGreen, colorTable[i].rgbRed};
  return colors;
}

// The write position. Columns and rows only ever grow, by at most 255 per two bytes of data,
// so 64 bits cannot overflow whatever the data.
class TPen {
 public:
  TPen(TBitmapImage& image, const std::array<TColor, 256>& colors)
      : FImage(image), FColors(colors), FWidth(image.Width()), FHeight(image.Height()) {
    SelectRow();
  }

  bool PastLastRow() const { return FLine >= FHeight; }

  void Paint(unsigned index) {
    if (FRow != nullptr && FX < FWidth) {
      const TColor& color = FColors[index];
      std::uint8_t* pixel = FRow + 3 * FX;
      pixel[0] = color[0];
      pixel[1] = color[1];
      pixel[2] = color[2];
    }
    ++FX;
  }

  // A run of count pixels; the part past the right edge is dropped.
  void PaintRun(std::int64_t count, unsigned first, unsigned second) {
    const std::int64_t visible =
        FRow == nullptr ? 0 : std::clamp<std::int64_t>(FWidth - FX, 0, count);
    for (std::int64_t i = 0; i < visible; ++i)
      Paint(i % 2 == 0 ? first : second);
    FX += count - visible;
  }

  void EndLine() {
    FX = 0;
    ++FLine;
    SelectRow();
  }

  void Move(unsigned right, unsigned up) {
    FX += right;
    if (up != 0) {
      FLine += up;
      SelectRow();
    }
  }

 private:
  void SelectRow() {
    FRow = FLine < FHeight ? FImage.Row(static_cast<std::int32_t>(FHeight - 1 - FLine)) : nullptr;
  }

  TBitmapImage& FImage;
  const std::array<TColor, 256>& FColors;
  const std::int64_t FWidth;
  const std::int64_t FHeight;
  std::int64_t FX = 0;
  std::int64_t FLine = 0;  // counted from the bottom row
  std::uint8_t* FRow = nullptr;
};

}  // namespace

void DecodeRunLength(const std::uint8_t* data, std::size_t size, int bitsPerPixel,
                     const std::vector<TRGBQuad>& colorTable, TBitmapImage& image) {
  if (!image.HasPixels()) return;
  const bool fourBits = bitsPerPixel == 4;
  const std::array<TColor, 256> colors = ColorsByIndex(colorTable);
  TPen pen(image, colors);
  std::size_t pos = 0;
  while (size - pos >= 2 && !pen.PastLastRow()) {
    const std::uint8_t count = data[pos];
    const std::uint8_t value = data[pos + 1];
    pos += 2;
    if (count != 0) {
      // Encoded run: one byte repeated, or in four bits its two halves taking turns.
      if (fourBits)
        pen.PaintRun(count, value >> 4, value & 0x0F);
      else
        pen.PaintRun(count, value, value);
      continue;
    }
    switch (value) {
      case 0:  // end of line
        pen.EndLine();
        break;
      case 1:  // end of picture
        return;
      case 2:  // delta: right, then up (towards the top of the picture)
        if (size - pos < 2) return;
        pen.Move(data[pos], data[pos + 1]);
        pos += 2;
        break;
      default: {
        // Absolute run of `value` pixels, stored in whole bytes and padded to an even count.
        const std::size_t bytes = fourBits ? (value + 1u) / 2u : value;
        const std::size_t available = std::min(bytes, size - pos);
        const std::uint8_t* run = data + pos;
        for (unsigned i = 0; i < value; ++i) {
          const std::size_t byte = fourBits ? i / 2 : i;
          if (byte >= available) return;  // the data end inside the run
          const unsigned index = !fourBits    ? run[byte]
                                 : i % 2 == 0 ? run[byte] >> 4
                                              : run[byte] & 0x0F;
          pen.Paint(index);
        }
        pos += std::min(bytes + (bytes & 1u), size - pos);
        break;
      }
    }
  }
}

}  // namespace penamo
