#include "Buffers.h"

#include <cstring>
#include <string>

#include "Context.h"
#include "FormatSupport.h"
#include "Machine.h"
#include "RedBlue.h"

namespace penamo::capi {

namespace {

std::uint16_t Sample16(const std::uint8_t* row, std::size_t index) {
  std::uint16_t value;
  std::memcpy(&value, row + 2 * index, sizeof value);
  return value;
}

// Sample i of a row of Depth bits a sample.
template <int Depth>
unsigned SampleAt(const std::uint8_t* row, std::size_t i) {
  if constexpr (Depth == 8)
    return row[i];
  else
    return Sample16(row, i);
}

// A sample of Depth bits as the filters of Out samples read it: 16 bits rounded to 8 as the
// readers round them, 8 widened to 16 as v × 257.
template <class Out, int Depth>
Out AsFilterSample(unsigned value) {
  if constexpr (sizeof(Out) == 1 && Depth == 16)
    return formats::To8Bits(value);
  else if constexpr (sizeof(Out) == 2 && Depth == 8)
    return static_cast<Out>(value * 257u);
  else
    return static_cast<Out>(value);
}

// One row of Samples samples a pixel into blue, green, red; one loop per layout and depth, each
// simple enough for the compiler to vectorise.
template <int Samples, int Depth, class Out>
[[gnu::always_inline]] inline void ConvertPixels(const std::uint8_t* __restrict in,
                                                 Out* __restrict out, std::size_t width) {
  for (std::size_t x = 0; x < width; ++x) {
    const std::size_t at = x * Samples;
    if constexpr (Samples <= 2) {
      const Out grey = AsFilterSample<Out, Depth>(SampleAt<Depth>(in, at));
      out[3 * x] = grey;
      out[3 * x + 1] = grey;
      out[3 * x + 2] = grey;
    } else {
      out[3 * x] = AsFilterSample<Out, Depth>(SampleAt<Depth>(in, at + 2));
      out[3 * x + 1] = AsFilterSample<Out, Depth>(SampleAt<Depth>(in, at + 1));
      out[3 * x + 2] = AsFilterSample<Out, Depth>(SampleAt<Depth>(in, at));
    }
  }
}

template <class Out>
[[gnu::always_inline]] inline void ConvertRowBody(const std::uint8_t* in, const TBufferShape& shape,
                                                  Out* out) {
  const auto width = static_cast<std::size_t>(shape.Width);
  const bool deep = shape.Depth == 16;
  switch (shape.Samples) {
    case 1:
      return deep ? ConvertPixels<1, 16>(in, out, width) : ConvertPixels<1, 8>(in, out, width);
    case 2:
      return deep ? ConvertPixels<2, 16>(in, out, width) : ConvertPixels<2, 8>(in, out, width);
    case 3:
      return deep ? ConvertPixels<3, 16>(in, out, width) : ConvertPixels<3, 8>(in, out, width);
    default:
      return deep ? ConvertPixels<4, 16>(in, out, width) : ConvertPixels<4, 8>(in, out, width);
  }
}

// Blue, green, red into a row of OutSamples samples a pixel: red, green, blue or grey (the blue
// of a grey pixel), leaving the alpha sample alone.
template <int OutSamples>
[[gnu::always_inline]] inline void WriteColours(const std::uint8_t* __restrict bgr,
                                                std::uint8_t* __restrict out, std::size_t width) {
  for (std::size_t x = 0; x < width; ++x) {
    if constexpr (OutSamples <= 2) {
      out[x * OutSamples] = bgr[3 * x];
    } else {
      out[x * OutSamples] = bgr[3 * x + 2];
      out[x * OutSamples + 1] = bgr[3 * x + 1];
      out[x * OutSamples + 2] = bgr[3 * x];
    }
  }
}

[[gnu::always_inline]] inline void WriteColoursBody(const std::uint8_t* bgr, std::uint8_t* out,
                                                    std::size_t width, int samples) {
  switch (samples) {
    case 1:
      return WriteColours<1>(bgr, out, width);
    case 2:
      return WriteColours<2>(bgr, out, width);
    case 3:
      return WriteColours<3>(bgr, out, width);
    default:
      return WriteColours<4>(bgr, out, width);
  }
}

// The other layouts: one build of the loops above for processors with byte shuffles, which the
// compiler uses where it can, and one for the baseline, chosen once at run time.
template <class Out>
[[gnu::target("ssse3")]] void ConvertRowShuffling(const std::uint8_t* in, const TBufferShape& shape,
                                                  Out* out) {
  if constexpr (sizeof(Out) == 1) {
    if (shape.Depth == 8 && shape.Samples == 3)
      return ExchangeRedBlueShuffling(in, out, static_cast<std::size_t>(shape.Width));
  }
  ConvertRowBody(in, shape, out);
}
template <class Out>
void ConvertRowBaseline(const std::uint8_t* in, const TBufferShape& shape, Out* out) {
  ConvertRowBody(in, shape, out);
}
[[gnu::target("ssse3")]] void WriteColoursShuffling(const std::uint8_t* bgr, std::uint8_t* out,
                                                    std::size_t width, int samples) {
  if (samples == 3) return ExchangeRedBlueShuffling(bgr, out, width);
  WriteColoursBody(bgr, out, width, samples);
}
void WriteColoursBaseline(const std::uint8_t* bgr, std::uint8_t* out, std::size_t width,
                          int samples) {
  WriteColoursBody(bgr, out, width, samples);
}

// One row of a buffer into blue, green, red at the filter's depth.
template <class Out>
void ConvertRow(const std::uint8_t* in, const TBufferShape& shape, Out* out) {
  if (HasByteShuffles())
    ConvertRowShuffling(in, shape, out);
  else
    ConvertRowBaseline(in, shape, out);
}

const std::uint8_t* RowAt(const std::uint8_t* pixels, std::size_t stride, std::int32_t base,
                          std::int32_t y) {
  return pixels + static_cast<std::size_t>(y - base) * stride;
}

}  // namespace

TBufferShape CheckLayout(std::int32_t width, std::int32_t height, int layout, int depth,
                         const char* what) {
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
  TBufferShape shape{width, height, layout, depth, 0};
  shape.Stride = shape.RowBytes();
  return shape;
}

TBufferShape CheckShape(std::int32_t width, std::int32_t height, int layout, int depth,
                        std::size_t stride, const char* what) {
  TBufferShape shape = CheckLayout(width, height, layout, depth, what);
  const std::string name(what);
  if (stride < shape.RowBytes())
    RaiseInvalid(name + " の行の間隔 (stride) " + std::to_string(stride) + " バイトは一行の " +
                     std::to_string(shape.RowBytes()) + " バイトより短いです",
                 "bad-stride");
  if (stride > SIZE_MAX / static_cast<std::size_t>(height))
    RaiseInvalid(name + " の行の間隔 (stride) が大きすぎます", "bad-stride");
  shape.Stride = stride;
  return shape;
}

TBufferShape CheckImage(const penamo_image* image, const char* what) {
  RequireNotNull(image, what);
  RequireNotNull(image->pixels, (std::string(what) + "->pixels").c_str());
  return CheckShape(image->width, image->height, EnumValue(image->layout), image->depth,
                    image->stride, what);
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

template <class Source, class Sample>
TBufferRowsOf<Source, Sample>::TBufferRowsOf(const void* pixels, const TBufferShape& shape,
                                             const penamo_context* progress)
    : FPixels(static_cast<const std::uint8_t*>(pixels)), FShape(shape), FProgress(progress) {}

template <class Source, class Sample>
void TBufferRowsOf<Source, Sample>::Rebase(const void* pixels, std::size_t stride,
                                           std::int32_t first) {
  FPixels = static_cast<const std::uint8_t*>(pixels);
  FShape.Stride = stride;
  FBase = first;
}

template <class Source, class Sample>
void TBufferRowsOf<Source, Sample>::ReadBand(std::int32_t first, std::int32_t count) {
  if (FProgress != nullptr)
    ReportProgress(*FProgress, static_cast<double>(first) / static_cast<double>(FShape.Height));
  const std::size_t rowSamples = 3 * static_cast<std::size_t>(FShape.Width);
  WithMemory("band-allocation-failed",
             [&] { FBand.resize(rowSamples * static_cast<std::size_t>(count)); });
  FFirst = first;
  for (std::int32_t i = 0; i < count; ++i)
    ConvertRow(RowAt(FPixels, FShape.Stride, FBase, first + i), FShape,
               FBand.data() + rowSamples * static_cast<std::size_t>(i));
}

template <class Source, class Sample>
const Sample* TBufferRowsOf<Source, Sample>::Row(std::int32_t y) const {
  return FBand.data() +
         3 * static_cast<std::size_t>(FShape.Width) * static_cast<std::size_t>(y - FFirst);
}

template class TBufferRowsOf<TRowSource, std::uint8_t>;
template class TBufferRowsOf<TDeepRowSource, std::uint16_t>;

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
    if (HasByteShuffles())
      WriteColoursShuffling(bgr, out, width, FShape.Samples);
    else
      WriteColoursBaseline(bgr, out, width, FShape.Samples);
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
