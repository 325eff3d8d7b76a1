#include "Buffers.h"

#include <cstring>
#include <string>

#include "Context.h"
#include "FormatSupport.h"
#include "Machine.h"

namespace penamo::capi {

namespace {

std::uint16_t Sample16(const std::uint8_t* row, std::size_t index) {
  std::uint16_t value;
  std::memcpy(&value, row + 2 * index, sizeof value);
  return value;
}

// One row of a buffer into blue, green, red at 8 bits.
void RowTo8(const std::uint8_t* in, const TBufferShape& shape, std::uint8_t* out) {
  const auto width = static_cast<std::size_t>(shape.Width);
  const auto samples = static_cast<std::size_t>(shape.Samples);
  if (shape.Depth == 8) {
    if (shape.Grey()) {
      for (std::size_t x = 0; x < width; ++x, out += 3) {
        const std::uint8_t grey = in[x * samples];
        out[0] = out[1] = out[2] = grey;
      }
    } else {
      for (std::size_t x = 0; x < width; ++x, in += samples, out += 3) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
      }
    }
    return;
  }
  using formats::To8Bits;
  if (shape.Grey()) {
    for (std::size_t x = 0; x < width; ++x, out += 3)
      out[0] = out[1] = out[2] = To8Bits(Sample16(in, x * samples));
  } else {
    for (std::size_t x = 0; x < width; ++x, out += 3) {
      out[0] = To8Bits(Sample16(in, x * samples + 2));
      out[1] = To8Bits(Sample16(in, x * samples + 1));
      out[2] = To8Bits(Sample16(in, x * samples));
    }
  }
}

// One row of a buffer into blue, green, red at 16 bits.
void RowTo16(const std::uint8_t* in, const TBufferShape& shape, std::uint16_t* out) {
  const auto width = static_cast<std::size_t>(shape.Width);
  const auto samples = static_cast<std::size_t>(shape.Samples);
  if (shape.Depth == 8) {
    if (shape.Grey()) {
      for (std::size_t x = 0; x < width; ++x, out += 3)
        out[0] = out[1] = out[2] = static_cast<std::uint16_t>(in[x * samples] * 257u);
    } else {
      for (std::size_t x = 0; x < width; ++x, in += samples, out += 3) {
        out[0] = static_cast<std::uint16_t>(in[2] * 257u);
        out[1] = static_cast<std::uint16_t>(in[1] * 257u);
        out[2] = static_cast<std::uint16_t>(in[0] * 257u);
      }
    }
    return;
  }
  if (shape.Grey()) {
    for (std::size_t x = 0; x < width; ++x, out += 3)
      out[0] = out[1] = out[2] = Sample16(in, x * samples);
  } else {
    for (std::size_t x = 0; x < width; ++x, out += 3) {
      out[0] = Sample16(in, x * samples + 2);
      out[1] = Sample16(in, x * samples + 1);
      out[2] = Sample16(in, x * samples);
    }
  }
}

const std::uint8_t* RowAt(const std::uint8_t* pixels, std::size_t stride, std::int32_t base,
                          std::int32_t y) {
  return pixels + static_cast<std::size_t>(y - base) * stride;
}

}  // namespace

TBufferShape CheckShape(std::int32_t width, std::int32_t height, int layout, int depth,
                        std::size_t stride, const char* what) {
  const std::string name(what);
  if (layout < PENAMO_GREY || layout > PENAMO_RGBA)
    RaiseInvalid(name + " の画素の並びが不正です (" + std::to_string(layout) + ")", "bad-layout");
  if (depth != 8 && depth != 16)
    RaiseInvalid(name + " のサンプルのビット数は 8 または 16 です: " + std::to_string(depth),
                 "bad-depth");
  if (width < 1 || height < 1)
    RaiseInvalid(name + " の幅と高さは 1 以上です: " + std::to_string(width) + " x " +
                     std::to_string(height),
                 "bad-size");
  TBufferShape shape{width, height, layout, depth, stride};
  if (stride < shape.RowBytes())
    RaiseInvalid(name + " の行の間隔 (stride) " + std::to_string(stride) + " バイトは一行の " +
                     std::to_string(shape.RowBytes()) + " バイトより短いです",
                 "bad-stride");
  if (stride > SIZE_MAX / static_cast<std::size_t>(height))
    RaiseInvalid(name + " の行の間隔 (stride) が大きすぎます", "bad-stride");
  return shape;
}

TBufferShape CheckImage(const penamo_image* image, const char* what) {
  RequireNotNull(image, what);
  RequireNotNull(image->pixels, (std::string(what) + "->pixels").c_str());
  return CheckShape(image->width, image->height, image->layout, image->depth, image->stride, what);
}

void AlphaRow(const std::uint8_t* row, const TBufferShape& shape, std::uint8_t* alpha) {
  const auto width = static_cast<std::size_t>(shape.Width);
  const auto samples = static_cast<std::size_t>(shape.Samples);
  if (!shape.HasAlpha()) {
    std::memset(alpha, 255, width);
  } else if (shape.Depth == 8) {
    for (std::size_t x = 0; x < width; ++x)
      alpha[x] = row[x * samples + samples - 1];
  } else {
    for (std::size_t x = 0; x < width; ++x)
      alpha[x] = formats::To8Bits(Sample16(row, x * samples + samples - 1));
  }
}

TBufferRows::TBufferRows(const void* pixels, const TBufferShape& shape,
                         const penamo_context* progress)
    : FPixels(static_cast<const std::uint8_t*>(pixels)), FShape(shape), FProgress(progress) {}

void TBufferRows::Rebase(const void* pixels, std::size_t stride, std::int32_t first) {
  FPixels = static_cast<const std::uint8_t*>(pixels);
  FShape.Stride = stride;
  FBase = first;
}

void TBufferRows::ReadBand(std::int32_t first, std::int32_t count) {
  if (FProgress != nullptr)
    ReportProgress(*FProgress, static_cast<double>(first) / static_cast<double>(FShape.Height));
  const std::size_t rowBytes = 3 * static_cast<std::size_t>(FShape.Width);
  WithMemory("band-allocation-failed",
             [&] { FBand.resize(rowBytes * static_cast<std::size_t>(count)); });
  FFirst = first;
  for (std::int32_t i = 0; i < count; ++i)
    RowTo8(RowAt(FPixels, FShape.Stride, FBase, first + i), FShape,
           FBand.data() + rowBytes * static_cast<std::size_t>(i));
}

const std::uint8_t* TBufferRows::Row(std::int32_t y) const {
  return FBand.data() +
         3 * static_cast<std::size_t>(FShape.Width) * static_cast<std::size_t>(y - FFirst);
}

TBufferDeepRows::TBufferDeepRows(const void* pixels, const TBufferShape& shape,
                                 const penamo_context* progress)
    : FPixels(static_cast<const std::uint8_t*>(pixels)), FShape(shape), FProgress(progress) {}

void TBufferDeepRows::Rebase(const void* pixels, std::size_t stride, std::int32_t first) {
  FPixels = static_cast<const std::uint8_t*>(pixels);
  FShape.Stride = stride;
  FBase = first;
}

void TBufferDeepRows::ReadBand(std::int32_t first, std::int32_t count) {
  if (FProgress != nullptr)
    ReportProgress(*FProgress, static_cast<double>(first) / static_cast<double>(FShape.Height));
  const std::size_t rowSamples = 3 * static_cast<std::size_t>(FShape.Width);
  WithMemory("band-allocation-failed",
             [&] { FBand.resize(rowSamples * static_cast<std::size_t>(count)); });
  FFirst = first;
  for (std::int32_t i = 0; i < count; ++i)
    RowTo16(RowAt(FPixels, FShape.Stride, FBase, first + i), FShape,
            FBand.data() + rowSamples * static_cast<std::size_t>(i));
}

const std::uint16_t* TBufferDeepRows::Row(std::int32_t y) const {
  return FBand.data() +
         3 * static_cast<std::size_t>(FShape.Width) * static_cast<std::size_t>(y - FFirst);
}

TBufferWriter::TBufferWriter(void* pixels, const TBufferShape& out, const void* in,
                             const TBufferShape& inShape)
    : FPixels(static_cast<std::uint8_t*>(pixels)),
      FShape(out),
      FIn(static_cast<const std::uint8_t*>(in)),
      FInShape(inShape) {}

void TBufferWriter::Rebase(void* out, std::size_t outStride, const void* in, std::size_t inStride,
                           std::int32_t first) {
  FPixels = static_cast<std::uint8_t*>(out);
  FShape.Stride = outStride;
  FIn = static_cast<const std::uint8_t*>(in);
  FInShape.Stride = inStride;
  FBase = first;
}

void TBufferWriter::WriteBand(std::int32_t first, std::int32_t count, const std::uint8_t* rows,
                              std::size_t stride) {
  const auto width = static_cast<std::size_t>(FShape.Width);
  const auto samples = static_cast<std::size_t>(FShape.Samples);
  for (std::int32_t i = 0; i < count; ++i) {
    const std::int32_t y = first + i;
    const std::uint8_t* bgr = rows + static_cast<std::size_t>(i) * stride;
    std::uint8_t* out = FPixels + static_cast<std::size_t>(y - FBase) * FShape.Stride;
    if (FShape.Grey()) {
      for (std::size_t x = 0; x < width; ++x)
        out[x * samples] = bgr[3 * x];
    } else {
      for (std::size_t x = 0; x < width; ++x) {
        out[x * samples] = bgr[3 * x + 2];
        out[x * samples + 1] = bgr[3 * x + 1];
        out[x * samples + 2] = bgr[3 * x];
      }
    }
    if (!FShape.HasAlpha()) continue;
    const std::uint8_t* in = FIn + static_cast<std::size_t>(y - FBase) * FInShape.Stride;
    const std::size_t alphaAt = samples - 1;
    if (!FInShape.HasAlpha()) {
      for (std::size_t x = 0; x < width; ++x)
        out[x * samples + alphaAt] = 255;
    } else {
      const auto inSamples = static_cast<std::size_t>(FInShape.Samples);
      for (std::size_t x = 0; x < width; ++x)
        out[x * samples + alphaAt] =
            FInShape.Depth == 8 ? in[x * inSamples + inSamples - 1]
                                : formats::To8Bits(Sample16(in, x * inSamples + inSamples - 1));
    }
  }
}

}  // namespace penamo::capi
