// HEIC and AVIF files written by libheif's own encoders (x265, aom), read back by our reader:
// 8-, 10- and 12-bit colour, grey and alpha, lossless where pixels must match exactly, every
// orientation, profiles, damage and the storage limit.
#include <gtest/gtest.h>
#include <libheif/heif.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "DeepSamples.h"
#include "Exceptions.h"
#include "ExpectRefusal.h"
#include "HeifReader.h"
#include "Orientation.h"
#include "PictureKind.h"
#include "PictureMakers.h"
#include "StorageLimitScope.h"

namespace penamo {
namespace {

using test::TBytes;

enum class TLayout { Grey, Rgb, Rgba };

int ChannelsOf(TLayout layout) {
  return layout == TLayout::Grey ? 1 : layout == TLayout::Rgb ? 3 : 4;
}

struct THeifPicture {
  int Width = 0;
  int Height = 0;
  int Bits = 8;
  TLayout Layout = TLayout::Rgb;
  std::vector<std::uint16_t> Samples;  // interleaved, ChannelsOf(Layout) per pixel
};

heif_error WriteToBytes(heif_context*, const void* data, size_t size, void* user) {
  auto* bytes = static_cast<TBytes*>(user);
  const auto* begin = static_cast<const std::uint8_t*>(data);
  bytes->insert(bytes->end(), begin, begin + size);
  return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

void Expect(const heif_error& error) {
  ASSERT_EQ(error.code, heif_error_Ok) << error.message;
}

TBytes EncodeHeif(const THeifPicture& p, heif_compression_format format, bool lossless,
                  int orientation = 1, const TBytes& profile = {}, bool premultiplied = false,
                  const TBytes& exif = {}, const std::string& xmp = {}) {
  heif_image* image = nullptr;
  const bool deep = p.Bits > 8;
  const int channels = ChannelsOf(p.Layout);
  // Lossless colour goes in as 4:4:4 planes coded as they are (green, blue, red in the luma and
  // chroma planes, which the identity matrix names), so no conversion rounds a sample.
  const bool planes = lossless && p.Layout != TLayout::Grey;
  std::vector<std::pair<heif_channel, int>> targets;  // plane, channel of the samples
  if (p.Layout == TLayout::Grey) {
    Expect(heif_image_create(p.Width, p.Height, heif_colorspace_monochrome, heif_chroma_monochrome,
                             &image));
    targets = {{heif_channel_Y, 0}};
  } else if (planes) {
    Expect(heif_image_create(p.Width, p.Height, heif_colorspace_YCbCr, heif_chroma_444, &image));
    targets = {{heif_channel_Y, 1}, {heif_channel_Cb, 2}, {heif_channel_Cr, 0}};
    if (p.Layout == TLayout::Rgba) targets.push_back({heif_channel_Alpha, 3});
  } else {
    const heif_chroma chroma =
        p.Layout == TLayout::Rgba
            ? (deep ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RGBA)
            : (deep ? heif_chroma_interleaved_RRGGBB_LE : heif_chroma_interleaved_RGB);
    Expect(heif_image_create(p.Width, p.Height, heif_colorspace_RGB, chroma, &image));
    targets = {{heif_channel_interleaved, -1}};
  }
  for (const auto& [channel, source] : targets) {
    Expect(heif_image_add_plane(image, channel, p.Width, p.Height, p.Bits));
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image, channel, &stride);
    const int perPixel = source < 0 ? channels : 1;
    for (int y = 0; y < p.Height; ++y) {
      for (int i = 0; i < p.Width * perPixel; ++i) {
        const std::size_t at =
            source < 0 ? static_cast<std::size_t>(y * p.Width * channels + i)
                       : static_cast<std::size_t>((y * p.Width + i) * channels + source);
        const std::uint16_t v = p.Samples[at];
        if (deep) {
          plane[y * stride + 2 * i] = static_cast<std::uint8_t>(v & 0xFF);
          plane[y * stride + 2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
        } else {
          plane[y * stride + i] = static_cast<std::uint8_t>(v);
        }
      }
    }
  }
  if (premultiplied) heif_image_set_premultiplied_alpha(image, 1);
  if (!profile.empty())
    Expect(heif_image_set_raw_color_profile(image, "prof", profile.data(), profile.size()));

  heif_context* ctx = heif_context_alloc();
  heif_encoder* encoder = nullptr;
  Expect(heif_context_get_encoder_for_format(ctx, format, &encoder));
  heif_encoding_options* options = heif_encoding_options_alloc();
  heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
  if (lossless) {
    // Lossless only when nothing is subsampled and the colours are coded as they are.
    Expect(heif_encoder_set_lossless(encoder, 1));
    if (planes) {
      Expect(heif_encoder_set_parameter(encoder, "chroma", "444"));
      nclx->matrix_coefficients = heif_matrix_coefficients_RGB_GBR;
      nclx->full_range_flag = 1;
      Expect(heif_image_set_nclx_color_profile(image, nclx));
      options->output_nclx_profile = nclx;
    }
  } else {
    Expect(heif_encoder_set_lossy_quality(encoder, 90));
    // As cameras write them.
    if (p.Layout != TLayout::Grey) Expect(heif_encoder_set_parameter(encoder, "chroma", "420"));
  }
  options->image_orientation = static_cast<heif_orientation>(orientation);
  heif_image_handle* handle = nullptr;
  Expect(heif_context_encode_image(ctx, image, encoder, options, &handle));
  if (!exif.empty())
    Expect(heif_context_add_exif_metadata(ctx, handle, exif.data(), static_cast<int>(exif.size())));
  if (!xmp.empty())
    Expect(heif_context_add_XMP_metadata(ctx, handle, xmp.data(), static_cast<int>(xmp.size())));
  heif_image_handle_release(handle);
  TBytes bytes;
  heif_writer writer{1, WriteToBytes};
  Expect(heif_context_write(ctx, &writer, &bytes));
  heif_nclx_color_profile_free(nclx);
  heif_encoding_options_free(options);
  heif_encoder_release(encoder);
  heif_context_free(ctx);
  heif_image_release(image);
  return bytes;
}

THeifPicture RandomPicture(int width, int height, int bits, TLayout layout, unsigned seed) {
  THeifPicture p{width, height, bits, layout, {}};
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> sample(0, (1 << bits) - 1);
  const int channels = ChannelsOf(layout);
  for (int i = 0; i < width * height * channels; ++i)
    p.Samples.push_back(static_cast<std::uint16_t>(sample(random)));
  return p;
}

// A smooth picture that lossy coding keeps close.
THeifPicture GradientPicture(int width, int height, int bits, TLayout layout) {
  THeifPicture p{width, height, bits, layout, {}};
  const int top = (1 << bits) - 1;
  const int channels = ChannelsOf(layout);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < channels; ++c)
        p.Samples.push_back(static_cast<std::uint16_t>(c == 0   ? top * x / (width - 1)
                                                       : c == 1 ? top * y / (height - 1)
                                                       : c == 2
                                                           ? top * (x + y) / (width + height - 2)
                                                           : top - top * x / (width - 1)));
  return p;
}

// The picture read both ways against the samples: the 8-bit read rounds each sample through
// its 16-bit value; tolerance is in 8-bit steps (0 for lossless files).
void ExpectPicture(const TBytes& file, const THeifPicture& p, int tolerance) {
  TBitmap picture;
  TPictureExtras extras;
  try {
    ReadHeif(file.data(), file.size(), picture, extras);
  } catch (const Exception& error) {
    FAIL() << test::Describe(error);
  }
  TDeepPicture deep;
  TPictureExtras deepExtras;
  ReadHeifDeep(file.data(), file.size(), deep, deepExtras);
  ASSERT_EQ(picture.Width(), p.Width);
  ASSERT_EQ(picture.Height(), p.Height);
  ASSERT_EQ(deep.Width, p.Width);
  ASSERT_EQ(deep.Height, p.Height);
  const bool alpha = p.Layout == TLayout::Rgba;
  ASSERT_EQ(extras.HasAlpha(), alpha);
  ASSERT_EQ(deepExtras.Alpha, extras.Alpha);
  const int channels = ChannelsOf(p.Layout);
  const int deepTolerance = tolerance * 257;
  int worst = 0;
  for (int y = 0; y < p.Height; ++y) {
    const std::uint8_t* row = picture.ConstRowAddress(y);
    const std::uint16_t* deepRow = deep.Row(y);
    for (int x = 0; x < p.Width; ++x) {
      const std::uint16_t* s = &p.Samples[static_cast<std::size_t>((y * p.Width + x) * channels)];
      for (int c = 0; c < 3; ++c) {
        const std::uint16_t stored = s[p.Layout == TLayout::Grey ? 0 : c];
        const int expected8 = formats::DeepTo8Bits(stored, p.Bits);
        const int expected16 = formats::To16Bits(stored, p.Bits);
        // The rows hold blue, green, red.
        const int got8 = row[3 * x + 2 - c];
        const int got16 = deepRow[3 * x + 2 - c];
        worst = std::max(worst, std::abs(got8 - expected8));
        ASSERT_LE(std::abs(got8 - expected8), tolerance) << x << "," << y << " channel " << c;
        ASSERT_LE(std::abs(got16 - expected16), deepTolerance) << x << "," << y;
        // One picture, one 8-bit answer: the 8-bit read is the 16-bit read rounded.
        ASSERT_EQ(got8, formats::To8Bits(static_cast<std::uint32_t>(got16))) << x << "," << y;
      }
      if (alpha) {
        const int expected = formats::DeepTo8Bits(s[3], p.Bits);
        ASSERT_LE(std::abs(extras.Alpha[static_cast<std::size_t>(y * p.Width + x)] - expected),
                  tolerance)
            << x << "," << y;
      }
    }
  }
  testing::Test::RecordProperty("worst", worst);
}

struct THeifCase {
  const char* Name;
  heif_compression_format Format;
  int Bits;
  TLayout Layout;
  bool Lossless;
};

class HeifLayouts : public testing::TestWithParam<THeifCase> {};

TEST_P(HeifLayouts, EverySampleComesBack) {
  const THeifCase& c = GetParam();
  const THeifPicture p = c.Lossless ? RandomPicture(21, 13, c.Bits, c.Layout, 5)
                                    : GradientPicture(64, 48, c.Bits, c.Layout);
  const TBytes file = EncodeHeif(p, c.Format, c.Lossless);
  ASSERT_FALSE(file.empty());
  EXPECT_EQ(PictureKindOf(file.data(), file.size()) == TPictureKind::Avif,
            c.Format == heif_compression_AV1);
  ExpectPicture(file, p, c.Lossless ? 0 : 10);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, HeifLayouts,
    testing::Values(THeifCase{"HeicRgb8Lossless", heif_compression_HEVC, 8, TLayout::Rgb, true},
                    THeifCase{"HeicRgba8Lossless", heif_compression_HEVC, 8, TLayout::Rgba, true},
                    THeifCase{"HeicGrey8Lossless", heif_compression_HEVC, 8, TLayout::Grey, true},
                    THeifCase{"HeicRgb10Lossless", heif_compression_HEVC, 10, TLayout::Rgb, true},
                    THeifCase{"HeicRgb8Lossy", heif_compression_HEVC, 8, TLayout::Rgb, false},
                    THeifCase{"HeicRgba10Lossy", heif_compression_HEVC, 10, TLayout::Rgba, false},
                    THeifCase{"HeicGrey10Lossy", heif_compression_HEVC, 10, TLayout::Grey, false},
                    THeifCase{"AvifRgb8Lossless", heif_compression_AV1, 8, TLayout::Rgb, true},
                    THeifCase{"AvifRgba8Lossless", heif_compression_AV1, 8, TLayout::Rgba, true},
                    // aom cannot code monochrome losslessly.
                    THeifCase{"AvifGrey8Lossy", heif_compression_AV1, 8, TLayout::Grey, false},
                    // Debian's aom encodes no 10-bit colour; 12 bits take the same deep path.
                    THeifCase{"AvifRgba12Lossless", heif_compression_AV1, 12, TLayout::Rgba, true},
                    THeifCase{"AvifRgb8Lossy", heif_compression_AV1, 8, TLayout::Rgb, false},
                    THeifCase{"AvifRgb12Lossy", heif_compression_AV1, 12, TLayout::Rgb, false},
                    THeifCase{"AvifGrey12Lossy", heif_compression_AV1, 12, TLayout::Grey, false}),
    [](const testing::TestParamInfo<THeifCase>& param) { return std::string(param.param.Name); });

TEST(HeifReader, EveryOrientationComesUpright) {
  for (const heif_compression_format format : {heif_compression_HEVC, heif_compression_AV1}) {
    for (int orientation = 1; orientation <= 8; ++orientation) {
      SCOPED_TRACE(testing::Message() << "format " << format << " orientation " << orientation);
      const THeifPicture stored = RandomPicture(11, 6, 8, TLayout::Rgb, 9);
      const TBytes file = EncodeHeif(stored, format, true, orientation);
      THeifPicture shown = stored;
      shown.Samples = test::Oriented(stored.Samples, shown.Width, shown.Height, 3, orientation);
      ExpectPicture(file, shown, 0);
    }
  }
}

TEST(HeifReader, PremultipliedColoursComeBackDividedByAlpha) {
  // Colours stored multiplied by their alpha: v · a / 255 for a few alphas.
  THeifPicture stored{8, 4, 8, TLayout::Rgba, {}};
  THeifPicture expected = stored;
  const int alphas[] = {255, 128, 51, 0};
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 8; ++x) {
      const int a = alphas[y];
      for (const int v : {x * 36, 255 - x * 30, 200}) {
        const int multiplied = (v * a + 127) / 255;
        stored.Samples.push_back(static_cast<std::uint16_t>(multiplied));
        expected.Samples.push_back(
            static_cast<std::uint16_t>(a == 0 ? 0 : std::min(255, (multiplied * 255 + a / 2) / a)));
      }
      stored.Samples.push_back(static_cast<std::uint16_t>(a));
      expected.Samples.push_back(static_cast<std::uint16_t>(a));
    }
  }
  for (const heif_compression_format format : {heif_compression_HEVC, heif_compression_AV1}) {
    SCOPED_TRACE(testing::Message() << "format " << format);
    const TBytes file = EncodeHeif(stored, format, true, 1, {}, true);
    ExpectPicture(file, expected, 0);
  }
}

std::uint32_t Get32(const TBytes& bytes, std::size_t at) {
  return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 |
         std::uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
}

void Put32(TBytes& bytes, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i)
    bytes[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

// The start of the first box of type at or after from (its size field), or npos.
std::size_t FindBox(const TBytes& bytes, const char* type, std::size_t from = 0) {
  const std::string text(bytes.begin(), bytes.end());
  const std::size_t at = text.find(type, from + 4);
  return at == std::string::npos ? at : at - 4;
}

// The items' data found growth bytes further on, boxes having grown before it: the iloc box as
// libheif writes it (version 0, 4-byte base offsets and extents), each item's base moved.
void MoveItemData(TBytes& file, std::uint32_t growth) {
  const std::size_t iloc = FindBox(file, "iloc");
  EXPECT_EQ(file[iloc + 8], 0);
  EXPECT_EQ(file[iloc + 12], 0x44);
  EXPECT_EQ(file[iloc + 13], 0x40);
  const std::size_t items = std::size_t{file[iloc + 14]} << 8 | file[iloc + 15];
  std::size_t at = iloc + 16;
  for (std::size_t item = 0; item < items; ++item) {
    Put32(file, at + 4, Get32(file, at + 4) + growth);
    const std::size_t extents = std::size_t{file[at + 8]} << 8 | file[at + 9];
    at += 10 + 8 * extents;
  }
}

// An AVIF with alpha as libheif writes it, its alpha item's colour said to be in limited range:
// the item's one-channel pixi property (14 bytes) becomes an nclx colr property (19 bytes) with
// its full-range flag clear, and no longer essential; the boxes holding it grow, and the items'
// data, which lies after them, is found 5 bytes further on.
TBytes WithAlphaLabelledLimited(TBytes file) {
  std::size_t pixi = FindBox(file, "pixi");
  while (pixi != std::string::npos && !(Get32(file, pixi) == 14 && file[pixi + 12] == 1))
    pixi = FindBox(file, "pixi", pixi + 4);
  EXPECT_NE(pixi, std::string::npos) << "no one-channel pixi";
  if (pixi == std::string::npos) return file;
  // Which property it is: its place among the ipco box's children, from 1.
  const std::size_t ipco = FindBox(file, "ipco");
  std::uint8_t index = 1;
  for (std::size_t at = ipco + 8; at < pixi; at += Get32(file, at))
    ++index;
  const TBytes colr = {0, 0, 0, 19, 'c', 'o', 'l', 'r', 'n', 'c', 'l', 'x', 0, 1, 0, 13, 0, 6, 0};
  file.erase(file.begin() + static_cast<std::ptrdiff_t>(pixi),
             file.begin() + static_cast<std::ptrdiff_t>(pixi + 14));
  file.insert(file.begin() + static_cast<std::ptrdiff_t>(pixi), colr.begin(), colr.end());
  constexpr std::uint32_t kGrowth = 5;
  for (const char* holder : {"meta", "iprp", "ipco"}) {
    const std::size_t at = FindBox(file, holder);
    Put32(file, at, Get32(file, at) + kGrowth);
  }
  const std::size_t ipma = FindBox(file, "ipma");
  for (std::size_t at = ipma + 12; at < ipma + Get32(file, ipma); ++at)
    if (file[at] == (0x80 | index)) file[at] = index;
  MoveItemData(file, kGrowth);
  return file;
}

// Colours multiplied by an alpha coded in limited range (16 transparent, 235 opaque): the alpha
// is expanded first and the colours divided by what it then says, once, never by its coded value.
TEST(HeifReader, PremultipliedByALimitedRangeAlphaTheColoursAreDividedByItsExpansion) {
  const int coded[] = {235, 126, 60, 16};
  THeifPicture stored{8, 4, 8, TLayout::Rgba, {}};
  std::vector<double> straight;  // expected, in floating point
  for (int y = 0; y < 4; ++y) {
    const double alpha = std::clamp((coded[y] - 16) / 219.0, 0.0, 1.0);
    for (int x = 0; x < 8; ++x) {
      for (const int v : {x * 36, 255 - x * 30, 200}) {
        const auto multiplied = static_cast<std::uint16_t>(std::lround(v * alpha));
        stored.Samples.push_back(multiplied);
        straight.push_back(alpha == 0 ? 0.0 : std::min(255.0, multiplied / alpha));
      }
      stored.Samples.push_back(static_cast<std::uint16_t>(coded[y]));
    }
  }
  const TBytes file =
      WithAlphaLabelledLimited(EncodeHeif(stored, heif_compression_AV1, true, 1, {}, true));
  TBitmap picture;
  TPictureExtras extras;
  ReadHeif(file.data(), file.size(), picture, extras);
  TDeepPicture deep;
  TPictureExtras deepExtras;
  ReadHeifDeep(file.data(), file.size(), deep, deepExtras);
  ASSERT_EQ(picture.Width(), 8);
  ASSERT_EQ(extras.Alpha.size(), 32u);
  ASSERT_EQ(deepExtras.Alpha, extras.Alpha);
  for (int y = 0; y < 4; ++y) {
    const double alpha = std::clamp((coded[y] - 16) / 219.0, 0.0, 1.0);
    for (int x = 0; x < 8; ++x) {
      const std::size_t i = static_cast<std::size_t>(y * 8 + x);
      EXPECT_NEAR(extras.Alpha[i], alpha * 255.0, 0.51) << x << "," << y;
      const std::uint32_t shown = test::PixelAt(picture, x, y);
      for (int c = 0; c < 3; ++c) {
        const double expected = straight[3 * i + static_cast<std::size_t>(c)];
        EXPECT_NEAR((shown >> (16 - 8 * c)) & 0xFF, expected, 1.0) << x << "," << y << " " << c;
        EXPECT_NEAR(deep.Row(y)[3 * x + 2 - c] / 257.0, expected, 1.0) << x << "," << y;
      }
    }
  }
}

// bytes inserted at at, and the box starting at holder (before at) grown by as many.
void InsertInto(TBytes& file, std::size_t holder, std::size_t at, const TBytes& bytes) {
  file.insert(file.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin(), bytes.end());
  Put32(file, holder, Get32(file, holder) + static_cast<std::uint32_t>(bytes.size()));
}

// An AVIF with alpha as libheif writes it (item 1 its colour, item 2 that colour's alpha), given a
// primary item 3 derived from item 1 by identity ('iden') and turned a quarter anticlockwise
// ('irot'), its size (width × height of item 1, turned) in an ispe property of its own. Every
// box inserted lies in the meta box, before the items' data, whose offsets move on by as much.
TBytes WithTurnedIdentityPrimary(TBytes file, std::uint32_t width, std::uint32_t height) {
  const std::size_t size = file.size();
  // Two properties after the last one.
  const std::size_t ipco = FindBox(file, "ipco");
  std::uint8_t properties = 0;
  for (std::size_t at = ipco + 8; at < ipco + Get32(file, ipco); at += Get32(file, at))
    ++properties;
  TBytes added = {0, 0, 0, 20, 'i', 's', 'p', 'e', 0, 0, 0, 0};
  for (const std::uint32_t v : {height, width})
    for (int i = 3; i >= 0; --i)
      added.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  added.insert(added.end(), {0, 0, 0, 9, 'i', 'r', 'o', 't', 1});
  InsertInto(file, FindBox(file, "iprp"), ipco + Get32(file, ipco), added);
  Put32(file, ipco, Get32(file, ipco) + static_cast<std::uint32_t>(added.size()));
  // Item 3's associations: the ispe, and the rotation as essential.
  const std::size_t ipma = FindBox(file, "ipma");
  EXPECT_EQ(Get32(file, ipma + 8), 0u) << "ipma version 0 with one-byte indexes";
  Put32(file, ipma + 12, Get32(file, ipma + 12) + 1);
  const TBytes entry = {0, 3, 2, static_cast<std::uint8_t>(properties + 1),
                        static_cast<std::uint8_t>(0x80 | (properties + 2))};
  InsertInto(file, FindBox(file, "iprp"), ipma + Get32(file, ipma), entry);
  Put32(file, ipma, Get32(file, ipma) + static_cast<std::uint32_t>(entry.size()));
  // Item 3's entry, an 'iden'.
  const std::size_t iinf = FindBox(file, "iinf");
  EXPECT_EQ(file[iinf + 8], 0) << "iinf version 0";
  const std::size_t items = (std::size_t{file[iinf + 12]} << 8 | file[iinf + 13]) + 1;
  file[iinf + 12] = static_cast<std::uint8_t>(items >> 8);
  file[iinf + 13] = static_cast<std::uint8_t>(items);
  InsertInto(file, iinf, iinf + Get32(file, iinf),
             {0, 0, 0, 21, 'i', 'n', 'f', 'e', 2, 0, 0, 0, 0, 3, 0, 0, 'i', 'd', 'e', 'n', 0});
  // Item 3 is derived from item 1.
  const std::size_t iref = FindBox(file, "iref");
  InsertInto(file, iref, iref + Get32(file, iref),
             {0, 0, 0, 14, 'd', 'i', 'm', 'g', 0, 3, 0, 1, 0, 1});
  const std::size_t pitm = FindBox(file, "pitm");
  file[pitm + 12] = 0;
  file[pitm + 13] = 3;
  // The meta box holds every insertion.
  const std::size_t meta = FindBox(file, "meta");
  const auto metaGrowth = static_cast<std::uint32_t>(file.size() - size);
  Put32(file, meta, Get32(file, meta) + metaGrowth);
  MoveItemData(file, metaGrowth);
  return file;
}

// A primary derived by identity from a picture whose colours are multiplied by its alpha: the
// colours are divided by their alpha wherever the turn puts them, exactly as the underived
// picture's are, and the alpha turns with them.
TEST(HeifReader, PremultipliedColoursAreDividedWhereAnIdentityTurnPutsThem) {
  THeifPicture stored{8, 4, 8, TLayout::Rgba, {}};
  const int alphas[] = {255, 128, 51, 0};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) {
      for (const int v : {x * 36, 255 - x * 30, 200})
        stored.Samples.push_back(static_cast<std::uint16_t>((v * alphas[y] + 127) / 255));
      stored.Samples.push_back(static_cast<std::uint16_t>(alphas[y]));
    }
  const TBytes plain = EncodeHeif(stored, heif_compression_AV1, true, 1, {}, true);
  TBitmap source;
  TPictureExtras sourceExtras;
  ReadHeif(plain.data(), plain.size(), source, sourceExtras);
  const TBytes turned = WithTurnedIdentityPrimary(plain, 8, 4);
  TBitmap picture;
  TPictureExtras extras;
  try {
    ReadHeif(turned.data(), turned.size(), picture, extras);
  } catch (const Exception& error) {
    FAIL() << test::Describe(error);
  }
  ASSERT_EQ(picture.Width(), 4);
  ASSERT_EQ(picture.Height(), 8);
  ASSERT_EQ(extras.Alpha.size(), 32u);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 4; ++x) {
      // A quarter turn anticlockwise: shown (x, y) is stored (width - 1 - y, x).
      EXPECT_EQ(test::PixelAt(picture, x, y), test::PixelAt(source, 7 - y, x)) << x << "," << y;
      EXPECT_EQ(extras.Alpha[static_cast<std::size_t>(y * 4 + x)],
                sourceExtras.Alpha[static_cast<std::size_t>(x * 8 + 7 - y)])
          << x << "," << y;
    }
}

TEST(HeifReader, ColourProfileIsKeptByteForByte) {
  const TBytes profile = test::SmallProfile();
  for (const heif_compression_format format : {heif_compression_HEVC, heif_compression_AV1}) {
    const TBytes file =
        EncodeHeif(GradientPicture(16, 16, 8, TLayout::Rgb), format, false, 1, profile);
    TBitmap picture;
    TPictureExtras extras;
    ReadHeif(file.data(), file.size(), picture, extras);
    EXPECT_EQ(extras.ColorProfile, profile);
    TDeepPicture deep;
    TPictureExtras deepExtras;
    ReadHeifDeep(file.data(), file.size(), deep, deepExtras);
    EXPECT_EQ(deepExtras.ColorProfile, profile);
  }
}

// A refusal is one of our errors with the file's own name for its format, and leaves the
// caller's picture as it was.
void ExpectRefusedOrRead(const TBytes& bytes, std::size_t size, const char* message,
                         bool mustRefuse) {
  TBitmap picture;
  TPictureExtras extras;
  extras.ColorProfile = {4, 5};
  try {
    ReadHeif(bytes.data(), size, picture, extras);
    EXPECT_FALSE(mustRefuse) << "a file cut to " << size << " of " << bytes.size() << " was read";
    EXPECT_GT(picture.Width(), 0);
    return;
  } catch (const EReadError&) {
  } catch (const EOutOfResources&) {
    // A damaged size may claim more than the limits allow.
  } catch (const EOutOfMemory& error) {
    ADD_FAILURE() << "damage reported as a lack of memory: " << test::Describe(error);
  } catch (const EUnsupportedGraphic& error) {
    // Damage may name a coding no decoder reads: told so, in the format's own name.
    const bool avif = std::string(message) == Msg::InvalidAvif;
    EXPECT_EQ(error.Message(), Msg::UnsupportedVariant(avif ? "AVIF" : "HEIF")) << error.Reason();
  } catch (const EInvalidGraphic& error) {
    if (size >= 32) {
      EXPECT_EQ(error.Message(), message) << error.Reason();
    }
  }
  EXPECT_EQ(picture.Width(), 0);
  EXPECT_EQ(extras.ColorProfile, (std::vector<std::uint8_t>{4, 5}));
}

TEST(HeifReader, TruncatedAndDamagedFilesAreRefused) {
  for (const heif_compression_format format : {heif_compression_HEVC, heif_compression_AV1}) {
    const char* message =
        format == heif_compression_AV1 ? "AVIF イメージが不正です" : "HEIF イメージが不正です";
    const TBytes file = EncodeHeif(GradientPicture(40, 30, 8, TLayout::Rgba), format, false);
    for (std::size_t size = 0; size < file.size(); size += 1 + file.size() / 97)
      ExpectRefusedOrRead(file, size, message, true);
    std::mt19937 random(3);
    for (int round = 0; round < 60; ++round) {
      TBytes damaged = file;
      for (int i = 0; i < 4; ++i)
        damaged[std::uniform_int_distribution<std::size_t>(0, file.size() - 1)(random)] ^=
            static_cast<std::uint8_t>(1 + random() % 255);
      // Damage to the leading box's brands may make the file say it is the other kind: its
      // refusal then names the kind it says it is, as a file read whole would be told.
      const bool saysAvif = PictureKindOf(damaged.data(), damaged.size()) == TPictureKind::Avif;
      ExpectRefusedOrRead(damaged, damaged.size(), saysAvif ? Msg::InvalidAvif : Msg::InvalidHeif,
                          false);
    }
  }
  const TBytes notHeif(100, 0x42);
  TBitmap picture;
  TPictureExtras extras;
  test::ExpectRefusal<EInvalidGraphic>(
      [&] { ReadHeif(notHeif.data(), notHeif.size(), picture, extras); }, test::kAnyReason);
}

// The EXIF block and XMP packet come with the picture, the block's orientation reset: the
// file's own transforms turn a HEIF picture, never its EXIF block.
TEST(HeifReader, ExifAndXmpAreHandedOnAndTheExifOrientationTurnsNothing) {
  const TBytes segment = test::ExifWithOrientation(6, true);
  const TBytes upright = test::ExifWithOrientation(1, true);
  const std::string xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>";
  for (const heif_compression_format format : {heif_compression_HEVC, heif_compression_AV1}) {
    const TBytes file = EncodeHeif(GradientPicture(24, 16, 8, TLayout::Rgb), format, false, 1, {},
                                   false, segment, xmp);
    TBitmap picture;
    TPictureExtras extras;
    ReadHeif(file.data(), file.size(), picture, extras);
    EXPECT_EQ(picture.Width(), 24);
    EXPECT_EQ(extras.Exif, TBytes(upright.begin() + 6, upright.end()));
    EXPECT_EQ(std::string(extras.Xmp.begin(), extras.Xmp.end()), xmp);
    TDeepPicture deep;
    TPictureExtras deepExtras;
    ReadHeifDeep(file.data(), file.size(), deep, deepExtras);
    EXPECT_EQ(deepExtras.Exif, extras.Exif);
    EXPECT_EQ(deepExtras.Xmp, extras.Xmp);
  }
}

TEST(HeifReader, CodedStreamLargerThanTheDeclaredSizeIsRefused) {
  // A file that declares a small picture while its coded stream holds a large one: the decoder
  // would allocate for the stream's size, which no check of the declared size bounds.
  for (const heif_compression_format format : {heif_compression_HEVC, heif_compression_AV1}) {
    SCOPED_TRACE(testing::Message() << "format " << format);
    TBytes file = EncodeHeif(GradientPicture(320, 200, 8, TLayout::Rgb), format, false);
    const std::string bytes(file.begin(), file.end());
    const std::size_t at = bytes.find("ispe");
    ASSERT_NE(at, std::string::npos);
    // Version and flags, then the width and height, big-endian.
    const std::uint8_t small[] = {0, 0, 0, 16, 0, 0, 0, 12};
    std::copy(std::begin(small), std::end(small), file.begin() + static_cast<long>(at + 8));
    TBitmap picture;
    TPictureExtras extras;
    // A stream larger than its declared size is never read.
    test::ExpectRefusal<EInvalidGraphic>(
        [&] { ReadHeif(file.data(), file.size(), picture, extras); },
        std::string(format == heif_compression_AV1 ? "avif" : "heif") + "-coded-size-mismatch");
    EXPECT_EQ(picture.Width(), 0);
  }
}

TEST(HeifReader, PictureOverTheStorageLimitIsRefusedBeforeDecoding) {
  for (const heif_compression_format format : {heif_compression_HEVC, heif_compression_AV1}) {
    const TBytes file = EncodeHeif(GradientPicture(64, 48, 8, TLayout::Rgb), format, false);
    test::TStorageLimitScope limit(64 * 48 * 3 - 1);
    TBitmap picture;
    TPictureExtras extras;
    const auto raised = test::ExpectRefusal<EOutOfResources>(
        [&] { ReadHeif(file.data(), file.size(), picture, extras); }, test::kAnyReason);
    const std::string prefix = format == heif_compression_AV1 ? "avif" : "heif";
    if (raised) {
      EXPECT_TRUE(raised->Reason == prefix + "-too-large" ||
                  raised->Reason == prefix + "-over-limits")
          << raised->Reason;
    }
    EXPECT_EQ(picture.Width(), 0);
  }
}

// How a read ended in a child whose address space is limited to what it holds now and room
// bytes more: 0 read, 1 out of memory, 2 damaged, 3 anything else.
int ReadUnderAddressLimit(const TBytes& file, std::uint64_t room) {
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    std::uint64_t kilobytes = 0;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind("VmSize:", 0) == 0) kilobytes = std::strtoull(line.c_str() + 7, nullptr, 10);
    const rlimit limit{kilobytes * 1024 + room, kilobytes * 1024 + room};
    if (kilobytes == 0 || ::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(4);
    try {
      TBitmap picture;
      TPictureExtras extras;
      ReadHeif(file.data(), file.size(), picture, extras);
      ::_exit(0);
    } catch (const EOutOfMemory&) {
      ::_exit(1);
    } catch (const EInvalidGraphic&) {
      ::_exit(2);
    } catch (...) {
      ::_exit(3);
    }
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Under an address-space limit the decoder cannot have its memory, and says only that it failed:
// the read ends in the want of memory, never in a damaged file.
TEST(HeifReader, ADecodeThatCannotHaveItsMemoryEndsOutOfMemory) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers' shadow memory does not live under an address-space cap";
#endif
  for (const heif_compression_format format : {heif_compression_AV1, heif_compression_HEVC}) {
    SCOPED_TRACE(format == heif_compression_AV1 ? "AVIF" : "HEIF");
    const TBytes file = EncodeHeif(GradientPicture(2048, 1536, 8, TLayout::Rgb), format, false);
    EXPECT_EQ(ReadUnderAddressLimit(file, 0), 1);
    // With room enough, the same file reads.
    EXPECT_EQ(ReadUnderAddressLimit(file, std::uint64_t{4} << 30), 0);
  }
}

}  // namespace
}  // namespace penamo
