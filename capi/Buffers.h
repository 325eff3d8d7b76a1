// The caller's pixels as the band filter's rows, and the band filter's rows into the caller's
// pixels: converted a band at a time as the bands go by, never the whole picture at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "BandWriter.h"
#include "DeepRowSource.h"
#include "RowSource.h"
#include "penamo.h"

struct penamo_context;

namespace penamo::capi {

// One buffer's shape: checked once, then read or written row by row.
struct TBufferShape {
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  int Samples = 0;  // a pixel's samples: the layout's value
  int Depth = 8;
  std::size_t Stride = 0;

  bool HasAlpha() const { return Samples == 2 || Samples == 4; }
  bool Grey() const { return Samples <= 2; }
  std::size_t RowBytes() const {
    return static_cast<std::size_t>(Width) * static_cast<std::size_t>(Samples) *
           static_cast<std::size_t>(Depth / 8);
  }
};

// Raises EInvalidArgument when layout, depth or size are not a buffer's (what names the buffer
// in the message); the stride is that of rows packed one after the other.
TBufferShape CheckLayout(std::int32_t width, std::int32_t height, int layout, int depth,
                         const char* what);
// The same, and a stride that holds a row and whose rows can be addressed.
TBufferShape CheckShape(std::int32_t width, std::int32_t height, int layout, int depth,
                        std::size_t stride, const char* what);
TBufferShape CheckImage(const penamo_image* image, const char* what);

// The rows (blue, green, red) of a caller's buffer as a band filter reads them, a band's rows
// converted when the band is read; the progress callback is told before each band and may
// cancel there. At 8 bits (TBufferRows) as the five filters read them: a 16-bit sample rounded
// as the readers round it (To8Bits). At 16 bits (TBufferDeepRows) as the deep filters read them:
// an 8-bit sample v as v × 257. Grey is repeated in the three.
template <class Source, class Sample>
class TBufferRowsOf final : public Source {
 public:
  TBufferRowsOf(const void* pixels, const TBufferShape& shape, const penamo_context* progress);

  std::int32_t Width() const override { return FShape.Width; }
  std::int32_t Height() const override { return FShape.Height; }
  void ReadBand(std::int32_t first, std::int32_t count) override;
  const Sample* Row(std::int32_t y) const override;
  // The rows of a later push (band by band): row first of the picture at pixels.
  void Rebase(const void* pixels, std::size_t stride, std::int32_t first);

 private:
  const std::uint8_t* FPixels;
  TBufferShape FShape;
  const penamo_context* FProgress;
  std::int32_t FBase = 0;   // the picture row at FPixels
  std::int32_t FFirst = 0;  // the band's first row
  std::vector<Sample> FBand;
};

using TBufferRows = TBufferRowsOf<TRowSource, std::uint8_t>;
using TBufferDeepRows = TBufferRowsOf<TDeepRowSource, std::uint16_t>;
extern template class TBufferRowsOf<TRowSource, std::uint8_t>;
extern template class TBufferRowsOf<TDeepRowSource, std::uint16_t>;

// The band filter's rows into a caller's 8-bit buffer of the out layout: RGB, RGBA, grey (the
// blue of a grey pixel) or grey and alpha; the alpha from the input's row (rounded to 8 bits as
// the readers round it; 255 where the input has none).
class TBufferWriter final : public TBandWriter {
 public:
  TBufferWriter(void* pixels, const TBufferShape& out, const void* in, const TBufferShape& inShape);

  void WriteBand(std::int32_t first, std::int32_t count, const std::uint8_t* rows,
                 std::size_t stride) override;
  void Commit() override {}
  // The rows of a later push (band by band): row first of the picture at out, and of the input
  // at in.
  void Rebase(void* out, std::size_t outStride, const void* in, std::size_t inStride,
              std::int32_t first);

 private:
  std::uint8_t* FPixels;
  TBufferShape FShape;
  const std::uint8_t* FIn;
  TBufferShape FInShape;
  std::int32_t FBase = 0;
};

// Row y's alpha of a buffer that has it, at 8 bits, into alpha (Width bytes).
void AlphaRow(const std::uint8_t* row, const TBufferShape& shape, std::uint8_t* alpha);

}  // namespace penamo::capi
