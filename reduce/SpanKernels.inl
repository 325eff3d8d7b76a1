// The span loops; included by SpanKernelsBaseline.cpp and SpanKernelsAvx2.cpp with
// PENAMO_SPAN_NAMESPACE naming the version. Everything here has internal linkage.
//
// The integer forms (Coefficients.h) are explained in FastYCbCr.h. Divisions of possibly
// negative numerators are biased to stay non-negative, so that they truncate as floors do:
// floor(1402·(cr - 128) / 1000) = (1402·cr + 544) / 1000 - 180, and likewise for blue and green.

namespace penamo::PENAMO_SPAN_NAMESPACE {
namespace {

std::uint32_t Bit(const std::uint32_t* words, std::uint32_t index) {
  return (words[index >> 5] >> (index & 31)) & 1u;
}

std::int32_t ClampToByte(std::int32_t value) {
  value = value < 0 ? 0 : value;
  return value > 255 ? 255 : value;
}

using namespace Coefficients;

// floor(c·(x − 128) / s) for x in 0..255 is (c·x + FloorBias) / s − FloorOffset, the numerator
// never negative: FloorOffset = ceil(c·128 / s).
constexpr std::int32_t FloorOffset(std::int32_t c, std::int32_t s) {
  return (c * kChromaCentre + s - 1) / s;
}
constexpr std::uint32_t FloorBias(std::int32_t c, std::int32_t s) {
  return static_cast<std::uint32_t>(FloorOffset(c, s) * s - c * kChromaCentre);
}
constexpr std::int32_t kRedOffset = FloorOffset(kCrToRed, kRebuildScale);
constexpr std::uint32_t kRedBias = FloorBias(kCrToRed, kRebuildScale);
constexpr std::int32_t kBlueOffset = FloorOffset(kCbToBlue, kRebuildScale);
constexpr std::uint32_t kBlueBias = FloorBias(kCbToBlue, kRebuildScale);
// Green subtracts: floor(−(c·dCb + d·dCr) / s) = (offset·s + (c + d)·128 − c·cb − d·cr) / s −
// offset.
constexpr std::int32_t kGreenOffset = FloorOffset(kCbToGreen + kCrToGreen, kGreenRebuildScale);
constexpr auto kGreenBias = static_cast<std::uint32_t>(kGreenOffset * kGreenRebuildScale +
                                                       (kCbToGreen + kCrToGreen) * kChromaCentre);
static_assert(kGreenBias >= static_cast<std::uint32_t>(kCbToGreen + kCrToGreen) * 255u,
              "the green numerator stays non-negative");
constexpr std::uint32_t kChromaBias = kChromaCentre * kChromaScale;

constexpr int kLumaWhole = 1;
constexpr int kCbWhole = 2;
constexpr int kCrWhole = 4;

// BlueAt: where a pixel's blue byte lies, 0 (blue, green, red) or 2 (red, green, blue); red
// lies at the other end. The arithmetic is the same for both.
template <int BlueAt>
void Convert(const TConversionExceptions& exceptions, const std::uint8_t* in, int count,
             std::int32_t* luma, std::int32_t* cb, std::int32_t* cr) {
  constexpr int kRedAt = 2 - BlueAt;
  // First the quotients, noting where a numerator is a whole multiple; that is rare except in
  // greys, and only there can the extended result be one lower.
  std::uint8_t whole[512 + 8];
  std::uint32_t anyWhole = 0;
  for (int start = 0; start < count; start += 512) {
    const int n = count - start < 512 ? count - start : 512;
    const std::uint8_t* pixel = in + 3 * start;
    for (int i = 0; i < n; ++i) {
      const std::uint32_t blue = pixel[3 * i + BlueAt];
      const std::uint32_t green = pixel[3 * i + 1];
      const std::uint32_t red = pixel[3 * i + kRedAt];
      const std::uint32_t sumY = kRedToY * red + kGreenToY * green + kBlueToY * blue;
      const std::uint32_t sumCb = kChromaBias + kHalf * blue - kRedToCb * red - kGreenToCb * green;
      const std::uint32_t sumCr = kChromaBias + kHalf * red - kGreenToCr * green - kBlueToCr * blue;
      const std::uint32_t y = sumY / kLumaScale;
      const std::uint32_t b = sumCb / kChromaScale;
      const std::uint32_t r = sumCr / kChromaScale;
      luma[start + i] = static_cast<std::int32_t>(y);
      cb[start + i] = static_cast<std::int32_t>(b);
      cr[start + i] = static_cast<std::int32_t>(r);
      const std::uint32_t flags = (sumY == y * kLumaScale ? kLumaWhole : 0) |
                                  (sumCb == b * kChromaScale ? kCbWhole : 0) |
                                  (sumCr == r * kChromaScale ? kCrWhole : 0);
      whole[i] = static_cast<std::uint8_t>(flags);
      anyWhole |= flags;
    }
    if (anyWhole == 0) continue;
    // Eight flags at a time: most groups have none.
    for (int i = n; i < n + 8; ++i)
      whole[i] = 0;
    for (int i = 0; i < n; ++i) {
      if ((i & 7) == 0) {
        std::uint64_t group;
        std::memcpy(&group, whole + i, sizeof group);
        if (group == 0) {
          i += 7;
          continue;
        }
      }
      const std::uint32_t flags = whole[i];
      if (flags == 0) continue;
      const std::uint32_t blue = pixel[3 * i + BlueAt];
      const std::uint32_t green = pixel[3 * i + 1];
      const std::uint32_t red = pixel[3 * i + kRedAt];
      if (flags & kLumaWhole) {
        luma[start + i] -=
            static_cast<std::int32_t>(Bit(exceptions.LumaOneLower, red << 8 | green));
      }
      if (flags & kCbWhole) {
        cb[start + i] -= static_cast<std::int32_t>(Bit(exceptions.CbOneLower, green << 8 | blue));
      }
      if (flags & kCrWhole) {
        cr[start + i] -= static_cast<std::int32_t>(Bit(exceptions.CrOneLower, red << 8 | green));
      }
    }
    anyWhole = 0;
  }
}

template <int BlueAt>
void Rebuild(const std::int32_t* luma, const std::int32_t* cb, const std::int32_t* cr, int count,
             std::uint8_t* out) {
  constexpr int kRedAt = 2 - BlueAt;
  for (int i = 0; i < count; ++i) {
    const std::int32_t l = luma[i];
    const auto b = static_cast<std::uint32_t>(cb[i]);
    const auto r = static_cast<std::uint32_t>(cr[i]);
    // floor(1402·dCr / 1000), floor(1772·dCb / 1000), and -ceil((34414·dCb + 71414·dCr) / 100000).
    const auto redOffset =
        static_cast<std::int32_t>((kCrToRed * r + kRedBias) / kRebuildScale) - kRedOffset;
    const auto blueOffset =
        static_cast<std::int32_t>((kCbToBlue * b + kBlueBias) / kRebuildScale) - kBlueOffset;
    const auto greenOffset =
        static_cast<std::int32_t>((kGreenBias - kCbToGreen * b - kCrToGreen * r) /
                                  kGreenRebuildScale) -
        kGreenOffset;
    out[3 * i + BlueAt] = static_cast<std::uint8_t>(ClampToByte(l + blueOffset));
    out[3 * i + 1] = static_cast<std::uint8_t>(ClampToByte(l + greenOffset));
    out[3 * i + kRedAt] = static_cast<std::uint8_t>(ClampToByte(l + redOffset));
  }
}

}  // namespace

extern const TSpanKernels kKernels{Convert<0>, Rebuild<0>, PENAMO_SPAN_NAME};
extern const TSpanKernels kRgbKernels{Convert<2>, Rebuild<2>, PENAMO_SPAN_NAME " rgb"};

}  // namespace penamo::PENAMO_SPAN_NAMESPACE
