#include "TiffConvert.h"

#include <cstring>

#include "DeepSamples.h"
#include "FormatSupport.h"

namespace penamo::formats::tiff {

namespace {

enum class TColour { Grey, InvertedGrey, Palette, Rgb, Cmyk };
enum class TAlpha { None, Straight, Premultiplied };

// Full scale of a sample of Bits bits.
template <int Bits>
constexpr std::uint32_t kTop = (1u << Bits) - 1;

// Sample number index of a row of Bits-bit samples (16-bit ones in the host's order: the
// library has swapped them; fewer than 8 packed from the high bit down).
template <int Bits>
inline std::uint32_t SampleAt(const std::uint8_t* row, std::uint64_t index) {
  if constexpr (Bits == 8) {
    return row[index];
  } else if constexpr (Bits == 16) {
    std::uint16_t value;
    std::memcpy(&value, row + 2 * index, 2);
    return value;
  } else {
    const std::uint64_t bit = index * static_cast<std::uint64_t>(Bits);
    const unsigned shift = static_cast<unsigned>(8 - Bits) - static_cast<unsigned>(bit % 8);
    return (static_cast<std::uint32_t>(row[bit / 8]) >> shift) & kTop<Bits>;
  }
}

// A sample as 8 bits: 16-bit rounded, fewer bits stretched to 0..255.
template <int Bits>
inline std::uint8_t Scaled(std::uint32_t sample) {
  if constexpr (Bits == 16) {
    return To8Bits(sample);
  } else if constexpr (Bits == 8) {
    return static_cast<std::uint8_t>(sample);
  } else {
    return static_cast<std::uint8_t>(sample * 255u / kTop<Bits>);
  }
}

// Ink to light, 16 bits: each colour (65535 - ink) × (65535 - black) / 65535, rounded; the deep
// read keeps these and the 8-bit one rounds them as it rounds any 16-bit sample.
inline std::uint32_t InkLight16(std::uint32_t ink, std::uint32_t black) {
  return ((65535u - ink) * (65535u - black) + 32767u) / 65535u;
}

// An ink as 8-bit light. 8 bits exactly as libtiff's RGBA interface converts it, truncated, so
// that every reader built on that interface shows the same colours.
template <int Bits>
inline std::uint8_t InkLight8(std::uint32_t ink, std::uint32_t black) {
  if constexpr (Bits == 16) {
    return To8Bits(InkLight16(ink, black));
  } else {
    return static_cast<std::uint8_t>((255u - black) * (255u - ink) / 255u);
  }
}

template <int Bits, TColour Colour, TAlpha Alpha>
void RowTo8(const TLayout& f, const std::uint8_t* samples, std::uint8_t* bgr,
            [[maybe_unused]] std::uint8_t* alpha) {
  // Held aside: the rows written may alias anything the layout holds.
  const std::uint32_t width = f.Width;
  const std::uint64_t spp = f.SamplesPerPixel;
  [[maybe_unused]] const auto alphaAt = static_cast<std::uint64_t>(f.Alpha);
  [[maybe_unused]] const std::uint8_t* red = f.Red.data();
  [[maybe_unused]] const std::uint8_t* green = f.Green.data();
  [[maybe_unused]] const std::uint8_t* blue = f.Blue.data();
  for (std::uint32_t x = 0; x < width; ++x, bgr += 3) {
    const std::uint64_t first = std::uint64_t{x} * spp;
    std::uint8_t r, g, b;
    if constexpr (Colour == TColour::Cmyk) {
      const std::uint32_t k = SampleAt<Bits>(samples, first + 3);
      r = InkLight8<Bits>(SampleAt<Bits>(samples, first), k);
      g = InkLight8<Bits>(SampleAt<Bits>(samples, first + 1), k);
      b = InkLight8<Bits>(SampleAt<Bits>(samples, first + 2), k);
    } else if constexpr (Colour == TColour::Rgb) {
      r = Scaled<Bits>(SampleAt<Bits>(samples, first));
      g = Scaled<Bits>(SampleAt<Bits>(samples, first + 1));
      b = Scaled<Bits>(SampleAt<Bits>(samples, first + 2));
    } else if constexpr (Colour == TColour::Palette) {
      const std::uint32_t index = SampleAt<Bits>(samples, first);
      r = red[index];
      g = green[index];
      b = blue[index];
    } else {
      std::uint32_t sample = SampleAt<Bits>(samples, first);
      if constexpr (Colour == TColour::InvertedGrey) sample = kTop<Bits> - sample;
      r = g = b = Scaled<Bits>(sample);
    }
    if constexpr (Alpha != TAlpha::None) {
      const std::uint8_t a = Scaled<Bits>(SampleAt<Bits>(samples, first + alphaAt));
      alpha[x] = a;
      if constexpr (Alpha == TAlpha::Premultiplied) {
        // Premultiplied colours become straight ones, as PNG stores them.
        StraightenColours(r, g, b, a, 255);
      }
    }
    bgr[0] = b;
    bgr[1] = g;
    bgr[2] = r;
  }
}

template <TColour Colour, bool Premultiplied>
void RowToDeep(const TLayout& f, const std::uint8_t* samples, std::uint16_t* bgr) {
  const std::uint32_t width = f.Width;
  const std::uint64_t spp = f.SamplesPerPixel;
  [[maybe_unused]] const auto alphaAt = static_cast<std::uint64_t>(f.Alpha);
  for (std::uint32_t x = 0; x < width; ++x, bgr += 3) {
    const std::uint64_t first = std::uint64_t{x} * spp;
    std::uint32_t r, g, b;
    if constexpr (Colour == TColour::Cmyk) {
      const std::uint32_t k = SampleAt<16>(samples, first + 3);
      r = InkLight16(SampleAt<16>(samples, first), k);
      g = InkLight16(SampleAt<16>(samples, first + 1), k);
      b = InkLight16(SampleAt<16>(samples, first + 2), k);
    } else if constexpr (Colour == TColour::Rgb) {
      r = SampleAt<16>(samples, first);
      g = SampleAt<16>(samples, first + 1);
      b = SampleAt<16>(samples, first + 2);
    } else {
      std::uint32_t sample = SampleAt<16>(samples, first);
      if constexpr (Colour == TColour::InvertedGrey) sample = 65535 - sample;
      r = g = b = sample;
    }
    if constexpr (Premultiplied) {
      StraightenColours(r, g, b, SampleAt<16>(samples, first + alphaAt), 65535);
    }
    bgr[0] = static_cast<std::uint16_t>(b);
    bgr[1] = static_cast<std::uint16_t>(g);
    bgr[2] = static_cast<std::uint16_t>(r);
  }
}

template <int Bits, TColour Colour>
TRowTo8 To8WithAlpha(const TLayout& f) {
  if (f.Alpha < 0) return RowTo8<Bits, Colour, TAlpha::None>;
  // Samples of fewer than 8 bits come one to a pixel: never with alpha.
  if constexpr (Bits < 8) {
    return nullptr;
  } else {
    if (f.Associated) return RowTo8<Bits, Colour, TAlpha::Premultiplied>;
    return RowTo8<Bits, Colour, TAlpha::Straight>;
  }
}

template <int Bits>
TRowTo8 To8OfBits(const TLayout& f) {
  switch (f.Photometric) {
    case PHOTOMETRIC_MINISBLACK:
      return To8WithAlpha<Bits, TColour::Grey>(f);
    case PHOTOMETRIC_MINISWHITE:
      return To8WithAlpha<Bits, TColour::InvertedGrey>(f);
    case PHOTOMETRIC_PALETTE:
      return To8WithAlpha<Bits, TColour::Palette>(f);
    default:
      break;
  }
  // Colour samples of fewer than 8 bits go through the RGBA interface.
  if constexpr (Bits >= 8) {
    if (f.Photometric == PHOTOMETRIC_RGB) return To8WithAlpha<Bits, TColour::Rgb>(f);
    if (f.Photometric == PHOTOMETRIC_SEPARATED) return To8WithAlpha<Bits, TColour::Cmyk>(f);
  }
  return nullptr;
}

template <TColour Colour>
TRowToDeep DeepWithAlpha(const TLayout& f) {
  if (f.Alpha >= 0 && f.Associated) return RowToDeep<Colour, true>;
  return RowToDeep<Colour, false>;
}

TRowToDeep ToDeepOf(const TLayout& f) {
  switch (f.Photometric) {
    case PHOTOMETRIC_SEPARATED:
      return DeepWithAlpha<TColour::Cmyk>(f);
    case PHOTOMETRIC_RGB:
      return DeepWithAlpha<TColour::Rgb>(f);
    case PHOTOMETRIC_MINISWHITE:
      return DeepWithAlpha<TColour::InvertedGrey>(f);
    default:
      return DeepWithAlpha<TColour::Grey>(f);
  }
}

}  // namespace

bool KeepsDepth(const TLayout& f) {
  return f.BitsPerSample == 16 && f.Photometric != PHOTOMETRIC_PALETTE;
}

TRowConverters ChooseConverters(const TLayout& f) {
  TRowConverters converters;
  switch (f.BitsPerSample) {
    case 1:
      converters.To8 = To8OfBits<1>(f);
      break;
    case 2:
      converters.To8 = To8OfBits<2>(f);
      break;
    case 4:
      converters.To8 = To8OfBits<4>(f);
      break;
    case 8:
      converters.To8 = To8OfBits<8>(f);
      break;
    case 16:
      converters.To8 = To8OfBits<16>(f);
      break;
    default:
      break;
  }
  if (converters.To8 == nullptr)
    RaiseUnsupported(f.Refusal.empty() ? std::string("tiff-unsupported-depth") : f.Refusal);
  if (KeepsDepth(f)) converters.ToDeep = ToDeepOf(f);
  return converters;
}

}  // namespace penamo::formats::tiff
