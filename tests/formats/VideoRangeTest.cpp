// Grey pictures coded in limited ("video") range, written by libheif's own encoders losslessly so
// every coded sample is known: read back, black (16 · 2^(bits-8)) is 0, white (235 · 2^(bits-8))
// is 255 or 65535, and every level between lies where full range puts it. The same samples
// labelled full range come back as they are: nothing is expanded twice.
#include <gtest/gtest.h>
#include <libheif/heif.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "Exceptions.h"
#include "ExpectRefusal.h"
#include "HeifReader.h"
#include "PictureMakers.h"

namespace penamo {
namespace {

using test::TBytes;

heif_error WriteToBytes(heif_context*, const void* data, size_t size, void* user) {
  auto* bytes = static_cast<TBytes*>(user);
  const auto* begin = static_cast<const std::uint8_t*>(data);
  bytes->insert(bytes->end(), begin, begin + size);
  return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

void Expect(const heif_error& error) {
  ASSERT_EQ(error.code, heif_error_Ok) << error.message;
}

struct TRangeCase {
  const char* Name;
  heif_compression_format Format;
  int Bits;
  bool Limited;
};

// Every coded level from just below black to just above white, one a column, in one row; the
// alpha plane (when asked for) holds the same levels.
std::vector<std::uint16_t> Levels(int bits) {
  const int shift = bits - 8;
  std::vector<std::uint16_t> levels;
  for (int v = (8 << shift); v <= (245 << shift); v += (1 << shift))
    levels.push_back(static_cast<std::uint16_t>(v));
  return levels;
}

// exif: an "Exif" item's content stored as it is, without the offset field libheif's own call
// would put first.
TBytes EncodeGrey(const TRangeCase& c, const std::vector<std::uint16_t>& levels, bool alpha,
                  const TBytes& exif = {}) {
  const int width = static_cast<int>(levels.size());
  const int height = 2;
  heif_image* image = nullptr;
  Expect(
      heif_image_create(width, height, heif_colorspace_monochrome, heif_chroma_monochrome, &image));
  std::vector<heif_channel> channels{heif_channel_Y};
  if (alpha) channels.push_back(heif_channel_Alpha);
  for (const heif_channel channel : channels) {
    Expect(heif_image_add_plane(image, channel, width, height, c.Bits));
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image, channel, &stride);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const std::uint16_t v = levels[static_cast<std::size_t>(x)];
        if (c.Bits > 8) {
          plane[y * stride + 2 * x] = static_cast<std::uint8_t>(v & 0xFF);
          plane[y * stride + 2 * x + 1] = static_cast<std::uint8_t>(v >> 8);
        } else {
          plane[y * stride + x] = static_cast<std::uint8_t>(v);
        }
      }
  }
  heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
  nclx->full_range_flag = c.Limited ? 0 : 1;
  Expect(heif_image_set_nclx_color_profile(image, nclx));
  heif_context* ctx = heif_context_alloc();
  heif_encoder* encoder = nullptr;
  Expect(heif_context_get_encoder_for_format(ctx, c.Format, &encoder));
  Expect(heif_encoder_set_lossless(encoder, 1));
  heif_encoding_options* options = heif_encoding_options_alloc();
  options->output_nclx_profile = nclx;
  heif_image_handle* handle = nullptr;
  Expect(heif_context_encode_image(ctx, image, encoder, options, &handle));
  if (!exif.empty())
    Expect(heif_context_add_generic_metadata(ctx, handle, exif.data(),
                                             static_cast<int>(exif.size()), "Exif", nullptr));
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

// Where a coded level lies on the full 16-bit scale: limited range stretched from its black and
// white, full range as it is; computed apart from the reader, in floating point.
double Expected16(std::uint16_t v, const TRangeCase& c) {
  const double top = (1 << c.Bits) - 1;
  if (!c.Limited) return v / top * 65535.0;
  const double shift = std::ldexp(1.0, c.Bits - 8);
  const double full = (v - 16 * shift) / (219 * shift) * 65535.0;
  return std::clamp(full, 0.0, 65535.0);
}

class VideoRange : public ::testing::TestWithParam<TRangeCase> {};

void ExpectGreyInFullRangeExactlyOnce(const TRangeCase& c, const std::vector<std::uint16_t>& levels,
                                      const TBytes& file) {
  TBitmap picture;
  TPictureExtras extras;
  TDeepPicture deep;
  const bool deeper = ReadHeifWithDeep(file.data(), file.size(), picture, deep, extras);
  ASSERT_EQ(deeper, c.Bits > 8);
  for (std::size_t x = 0; x < levels.size(); ++x) {
    const double expected = Expected16(levels[x], c);
    const std::uint32_t shown = test::PixelAt(picture, static_cast<int>(x), 0);
    EXPECT_NEAR(shown & 0xFF, expected / 257.0, 0.51) << "coded level " << levels[x];
    if (deeper) {
      EXPECT_NEAR(deep.Row(0)[3 * x], expected, 0.51) << "coded level " << levels[x];
    }
  }
  if (c.Limited) {
    const int shift = c.Bits - 8;
    const std::size_t black = static_cast<std::size_t>((16 << shift) - (8 << shift)) >> shift;
    const std::size_t white = static_cast<std::size_t>((235 << shift) - (8 << shift)) >> shift;
    EXPECT_EQ(test::PixelAt(picture, static_cast<int>(black), 0), 0x000000u);
    EXPECT_EQ(test::PixelAt(picture, static_cast<int>(white), 0), 0xFFFFFFu);
    if (deeper) {
      EXPECT_EQ(deep.Row(0)[3 * white], 65535);
    }
  }
}

TEST_P(VideoRange, GreyComesInFullRangeExactlyOnce) {
  const TRangeCase c = GetParam();
  const std::vector<std::uint16_t> levels = Levels(c.Bits);
  ExpectGreyInFullRangeExactlyOnce(c, levels, EncodeGrey(c, levels, false));
}

// The file with its range told nowhere but in the coded data: the 'colr' boxes become 'pasp'
// boxes (a property every reader may ignore, as the files mark their properties essential) and any
// configuration OBUs of the 'av1C' box a padding OBU of the same size, so nothing moves. Returns
// false when the file has no 'colr' box to hide.
bool HideRangeOutsideCodedData(TBytes& file) {
  bool hidden = false;
  for (std::size_t at = 4; at + 4 <= file.size(); ++at) {
    if (std::memcmp(&file[at], "colr", 4) == 0) {
      std::memcpy(&file[at], "pasp", 4);
      hidden = true;
    } else if (std::memcmp(&file[at], "av1C", 4) == 0) {
      const std::size_t size = std::size_t{file[at - 4]} << 24 | std::size_t{file[at - 3]} << 16 |
                               std::size_t{file[at - 2]} << 8 | file[at - 1];
      // Header (8), four bytes of configuration, then the OBUs if any: one padding OBU instead.
      if (size <= 12) continue;
      if (size < 14 || size - 14 > 127 || at - 4 + size > file.size()) return false;
      std::uint8_t* obus = &file[at + 8];
      obus[0] = 15 << 3 | 2;  // a padding OBU with a size field
      obus[1] = static_cast<std::uint8_t>(size - 14);
      std::fill(obus + 2, &file[at - 4 + size], std::uint8_t{0});
    }
  }
  return hidden;
}

// Encoders may leave the sequence header out of 'av1C' and the range out of the boxes: the first
// sample of the item's data still begins with it.
class Av1CodedRange : public ::testing::TestWithParam<TRangeCase> {};

TEST_P(Av1CodedRange, ToldOnlyInTheCodedDataIsFound) {
  const TRangeCase c = GetParam();
  const std::vector<std::uint16_t> levels = Levels(c.Bits);
  TBytes file = EncodeGrey(c, levels, false);
  ASSERT_TRUE(HideRangeOutsideCodedData(file));
  ExpectGreyInFullRangeExactlyOnce(c, levels, file);
}

// libheif codes the alpha plane of these pictures in full range, whatever the colour's range
// (its alpha item carries no limited-range label): it comes back as coded, never expanded with
// the grey. Alpha coded in limited range is checked on the conformance files.
TEST_P(VideoRange, AlphaFollowsItsOwnItemsRange) {
  const TRangeCase c = GetParam();
  const std::vector<std::uint16_t> levels = Levels(c.Bits);
  const TBytes file = EncodeGrey(c, levels, true);
  TBitmap picture;
  TPictureExtras extras;
  ReadHeif(file.data(), file.size(), picture, extras);
  ASSERT_TRUE(extras.HasAlpha());
  TRangeCase full = c;
  full.Limited = false;
  for (std::size_t x = 0; x < levels.size(); ++x) {
    EXPECT_NEAR(extras.Alpha[x], Expected16(levels[x], full) / 257.0, 0.51)
        << "coded level " << levels[x];
    EXPECT_NEAR(test::PixelAt(picture, static_cast<int>(x), 0) & 0xFF,
                Expected16(levels[x], c) / 257.0, 0.51)
        << "coded level " << levels[x];
  }
}

INSTANTIATE_TEST_SUITE_P(
    Made, VideoRange,
    ::testing::Values(TRangeCase{"HeicLimited8", heif_compression_HEVC, 8, true},
                      TRangeCase{"HeicFull8", heif_compression_HEVC, 8, false},
                      TRangeCase{"HeicLimited10", heif_compression_HEVC, 10, true},
                      TRangeCase{"AvifLimited8", heif_compression_AV1, 8, true},
                      TRangeCase{"AvifFull8", heif_compression_AV1, 8, false},
                      TRangeCase{"AvifLimited12", heif_compression_AV1, 12, true},
                      TRangeCase{"AvifFull12", heif_compression_AV1, 12, false}),
    [](const ::testing::TestParamInfo<TRangeCase>& made) { return std::string(made.param.Name); });

INSTANTIATE_TEST_SUITE_P(Made, Av1CodedRange,
                         ::testing::Values(TRangeCase{"Limited8", heif_compression_AV1, 8, true},
                                           TRangeCase{"Full8", heif_compression_AV1, 8, false},
                                           TRangeCase{"Limited12", heif_compression_AV1, 12, true}),
                         [](const ::testing::TestParamInfo<TRangeCase>& made) {
                           return std::string(made.param.Name);
                         });

// Boxes as a file stores them: size, type, body.
TBytes Box(const char* type, const TBytes& body) {
  const std::size_t size = body.size() + 8;
  TBytes box(size);
  for (std::size_t i = 0; i < 4; ++i) {
    box[i] = static_cast<std::uint8_t>(size >> (24 - 8 * i));
    box[4 + i] = static_cast<std::uint8_t>(type[i]);
  }
  for (std::size_t i = 0; i < body.size(); ++i)
    box[8 + i] = body[i];
  return box;
}

// An image sequence (a movie box and its track, no still picture's meta box) is a sound file of
// a kind this reader does not show: unsupported, never damaged.
TEST(HeifSequence, WithoutAStillPictureIsUnsupported) {
  TBytes brands{'m', 's', 'f', '1', 0,   0,   0,   0,   'm', 's',
                'f', '1', 'i', 's', 'o', '8', 'h', 'e', 'i', 'c'};
  TBytes file;
  for (const TBytes& box :
       {Box("ftyp", brands), Box("moov", Box("mvhd", TBytes(100, 0))), Box("mdat", TBytes(64, 0))})
    for (const std::uint8_t byte : box)
      file.push_back(byte);
  TBitmap picture;
  TPictureExtras extras;
  test::ExpectRefusal<EUnsupportedGraphic>(
      [&] { ReadHeif(file.data(), file.size(), picture, extras); }, "heif-sequence-without-still");
}

// An EXIF item stored straight from its TIFF header, without the offset field HEIF puts before
// it, is recognised by the header and handed on.
TEST(HeifExif, WithoutItsOffsetFieldIsRecognisedByItsTiffHeader) {
  const TRangeCase c{"HeicFull8", heif_compression_HEVC, 8, false};
  const TBytes exif = test::ExifWithOrientation(1, true);  // "Exif\0\0", then the block
  const TBytes block(exif.begin() + 6, exif.end());
  const TBytes file = EncodeGrey(c, Levels(8), false, block);
  TBitmap picture;
  TPictureExtras extras;
  ReadHeif(file.data(), file.size(), picture, extras);
  EXPECT_EQ(extras.Exif, block);
}

}  // namespace
}  // namespace penamo
