// JPEG XL files written by libjxl's own encoder, read back by our reader: 8- and 16-bit colour,
// grey and alpha, lossless where pixels must match exactly, every orientation, animations,
// profiles, damage and the storage limit.
#include <gtest/gtest.h>
#include <jxl/encode.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "DeepSamples.h"
#include "Exceptions.h"
#include "ExpectRefusal.h"
#include "FailureCause.h"
#include "HostilePictures.h"
#include "JxlReader.h"
#include "Limits.h"
#include "Orientation.h"
#include "PictureMakers.h"
#include "ProgramRun.h"
#include "StorageLimitScope.h"
#include "TemporaryFolder.h"

namespace penamo {
namespace {

using test::TBytes;

struct TJxlPicture {
  int Width = 0;
  int Height = 0;
  int Bits = 8;
  bool Grey = false;
  bool Alpha = false;
  std::vector<std::uint16_t> Samples;  // interleaved, Channels() per pixel

  int Channels() const { return (Grey ? 1 : 3) + (Alpha ? 1 : 0); }
};

struct TJxlOptions {
  bool Lossless = true;
  int Orientation = 1;
  bool P3 = false;  // Display P3 primaries rather than sRGB's
  // Further frames of an animation, each of the first frame's size.
  std::vector<std::vector<std::uint16_t>> LaterFrames;
  TBytes Exif;      // an "Exif" box's content (offset of the TIFF header, then the block)
  std::string Xmp;  // an "xml " box's
  bool CompressBoxes = false;  // stored as "brob" boxes, Brotli-compressed
};

void Expect(JxlEncoderStatus status) {
  ASSERT_EQ(status, JXL_ENC_SUCCESS);
}

void AddFrame(JxlEncoderFrameSettings* settings, const TJxlPicture& p,
              const std::vector<std::uint16_t>& samples, bool animated) {
  if (animated) {
    JxlFrameHeader header;
    JxlEncoderInitFrameHeader(&header);
    header.duration = 1;
    Expect(JxlEncoderSetFrameHeader(settings, &header));
  }
  const bool deep = p.Bits > 8;
  const JxlPixelFormat format{static_cast<std::uint32_t>(p.Channels()),
                              deep ? JXL_TYPE_UINT16 : JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
  std::vector<std::uint8_t> bytes;
  for (const std::uint16_t v : samples) {
    // 16-bit buffers hold full-scale values; a sample of fewer bits is stretched.
    if (deep) {
      const std::uint16_t full = formats::To16Bits(v, p.Bits);
      const auto* b = reinterpret_cast<const std::uint8_t*>(&full);
      bytes.insert(bytes.end(), b, b + 2);
    } else {
      bytes.push_back(static_cast<std::uint8_t>(v));
    }
  }
  Expect(JxlEncoderAddImageFrame(settings, &format, bytes.data(), bytes.size()));
}

TBytes EncodeJxl(const TJxlPicture& p, const TJxlOptions& options = {}) {
  JxlEncoder* encoder = JxlEncoderCreate(nullptr);
  JxlBasicInfo info;
  JxlEncoderInitBasicInfo(&info);
  info.xsize = static_cast<std::uint32_t>(p.Width);
  info.ysize = static_cast<std::uint32_t>(p.Height);
  info.bits_per_sample = static_cast<std::uint32_t>(p.Bits);
  info.num_color_channels = p.Grey ? 1 : 3;
  info.alpha_bits = p.Alpha ? static_cast<std::uint32_t>(p.Bits) : 0;
  info.num_extra_channels = p.Alpha ? 1 : 0;
  info.uses_original_profile = options.Lossless ? JXL_TRUE : JXL_FALSE;
  info.orientation = static_cast<JxlOrientation>(options.Orientation);
  const bool animated = !options.LaterFrames.empty();
  if (animated) {
    info.have_animation = JXL_TRUE;
    info.animation.tps_numerator = 10;
    info.animation.tps_denominator = 1;
  }
  EXPECT_EQ(JxlEncoderSetBasicInfo(encoder, &info), JXL_ENC_SUCCESS);
  if (!options.Exif.empty() || !options.Xmp.empty()) {
    EXPECT_EQ(JxlEncoderUseBoxes(encoder), JXL_ENC_SUCCESS);
    if (!options.Exif.empty()) {
      EXPECT_EQ(JxlEncoderAddBox(encoder, "Exif", options.Exif.data(), options.Exif.size(),
                                 options.CompressBoxes ? JXL_TRUE : JXL_FALSE),
                JXL_ENC_SUCCESS);
    }
    if (!options.Xmp.empty()) {
      EXPECT_EQ(JxlEncoderAddBox(encoder, "xml ",
                                 reinterpret_cast<const std::uint8_t*>(options.Xmp.data()),
                                 options.Xmp.size(), options.CompressBoxes ? JXL_TRUE : JXL_FALSE),
                JXL_ENC_SUCCESS);
    }
    JxlEncoderCloseBoxes(encoder);
  }
  if (p.Alpha) {
    JxlExtraChannelInfo alpha;
    JxlEncoderInitExtraChannelInfo(JXL_CHANNEL_ALPHA, &alpha);
    alpha.bits_per_sample = static_cast<std::uint32_t>(p.Bits);
    EXPECT_EQ(JxlEncoderSetExtraChannelInfo(encoder, 0, &alpha), JXL_ENC_SUCCESS);
  }
  JxlColorEncoding colour;
  JxlColorEncodingSetToSRGB(&colour, p.Grey ? JXL_TRUE : JXL_FALSE);
  if (options.P3) colour.primaries = JXL_PRIMARIES_P3;
  EXPECT_EQ(JxlEncoderSetColorEncoding(encoder, &colour), JXL_ENC_SUCCESS);
  JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(encoder, nullptr);
  EXPECT_EQ(JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_EFFORT, 3),
            JXL_ENC_SUCCESS);
  if (options.Lossless) {
    EXPECT_EQ(JxlEncoderSetFrameLossless(settings, JXL_TRUE), JXL_ENC_SUCCESS);
  } else {
    EXPECT_EQ(JxlEncoderSetFrameDistance(settings, 0.5f), JXL_ENC_SUCCESS);
  }
  AddFrame(settings, p, p.Samples, animated);
  for (const auto& frame : options.LaterFrames)
    AddFrame(settings, p, frame, animated);
  JxlEncoderCloseInput(encoder);

  TBytes bytes(4096);
  std::size_t used = 0;
  for (;;) {
    std::uint8_t* next = bytes.data() + used;
    std::size_t avail = bytes.size() - used;
    const JxlEncoderStatus status = JxlEncoderProcessOutput(encoder, &next, &avail);
    used = static_cast<std::size_t>(next - bytes.data());
    if (status == JXL_ENC_NEED_MORE_OUTPUT) {
      bytes.resize(bytes.size() * 2);
      continue;
    }
    EXPECT_EQ(status, JXL_ENC_SUCCESS);
    break;
  }
  bytes.resize(used);
  JxlEncoderDestroy(encoder);
  return bytes;
}

TJxlOptions Lossy() {
  TJxlOptions options;
  options.Lossless = false;
  return options;
}

TJxlPicture RandomPicture(int width, int height, int bits, bool grey, bool alpha, unsigned seed) {
  TJxlPicture p{width, height, bits, grey, alpha, {}};
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> sample(0, (1 << bits) - 1);
  for (int i = 0; i < width * height * p.Channels(); ++i)
    p.Samples.push_back(static_cast<std::uint16_t>(sample(random)));
  return p;
}

TJxlPicture GradientPicture(int width, int height, int bits, bool grey, bool alpha) {
  TJxlPicture p{width, height, bits, grey, alpha, {}};
  const int top = (1 << bits) - 1;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < p.Channels(); ++c)
        p.Samples.push_back(static_cast<std::uint16_t>(c == 0   ? top * x / (width - 1)
                                                       : c == 1 ? top * y / (height - 1)
                                                       : c == 2
                                                           ? top * (x + y) / (width + height - 2)
                                                           : top - top * x / (width - 1)));
  if (alpha && grey) {
    // The grey picture's second channel is its alpha: a ramp down.
    for (int i = 0; i < width * height; ++i)
      p.Samples[static_cast<std::size_t>(2 * i + 1)] =
          static_cast<std::uint16_t>(top - top * (i % width) / (width - 1));
  }
  return p;
}

// Both reads against the samples: the 8-bit read is the 16-bit read rounded as the PNG reader
// rounds; tolerance in 8-bit steps (0 for lossless files).
void ExpectPicture(const TBytes& file, const TJxlPicture& p, int tolerance) {
  TBitmap picture;
  TPictureExtras extras;
  try {
    ReadJxl(file.data(), file.size(), picture, extras);
  } catch (const Exception& error) {
    FAIL() << test::Describe(error);
  }
  TDeepPicture deep;
  TPictureExtras deepExtras;
  ReadJxlDeep(file.data(), file.size(), deep, deepExtras);
  ASSERT_EQ(picture.Width(), p.Width);
  ASSERT_EQ(picture.Height(), p.Height);
  ASSERT_EQ(deep.Width, p.Width);
  ASSERT_EQ(deep.Height, p.Height);
  ASSERT_EQ(extras.HasAlpha(), p.Alpha);
  ASSERT_EQ(deepExtras.Alpha, extras.Alpha);
  const int channels = p.Channels();
  // A depth between 8 and 16 bits is stretched to 16 by the decoder, which may round a step
  // apart from exact rounding.
  const int deepTolerance = std::max(tolerance * 257, p.Bits == 8 || p.Bits == 16 ? 0 : 1);
  long long totalError = 0;
  for (int y = 0; y < p.Height; ++y) {
    const std::uint8_t* row = picture.ConstRowAddress(y);
    const std::uint16_t* deepRow = deep.Row(y);
    for (int x = 0; x < p.Width; ++x) {
      const std::uint16_t* s = &p.Samples[static_cast<std::size_t>((y * p.Width + x) * channels)];
      for (int c = 0; c < 3; ++c) {
        const std::uint16_t stored = s[p.Grey ? 0 : c];
        const int got8 = row[3 * x + 2 - c];  // blue, green, red
        const int got16 = deepRow[3 * x + 2 - c];
        totalError += std::abs(got8 - formats::DeepTo8Bits(stored, p.Bits));
        ASSERT_LE(std::abs(got8 - formats::DeepTo8Bits(stored, p.Bits)), tolerance)
            << x << "," << y << " channel " << c;
        ASSERT_LE(std::abs(got16 - formats::To16Bits(stored, p.Bits)), deepTolerance)
            << x << "," << y << " channel " << c;
        ASSERT_EQ(got8, formats::To8Bits(static_cast<std::uint32_t>(got16))) << x << "," << y;
      }
      if (p.Alpha) {
        const int expected = formats::DeepTo8Bits(s[p.Grey ? 1 : 3], p.Bits);
        ASSERT_LE(std::abs(extras.Alpha[static_cast<std::size_t>(y * p.Width + x)] - expected),
                  tolerance)
            << x << "," << y;
      }
    }
  }
  // Lossy coding strays most at the edges; on the whole it stays close.
  EXPECT_LE(totalError, 2LL * p.Width * p.Height * 3);
}

struct TJxlCase {
  const char* Name;
  int Bits;
  bool Grey;
  bool Alpha;
  bool Lossless;
};

class JxlLayouts : public testing::TestWithParam<TJxlCase> {};

TEST_P(JxlLayouts, EverySampleComesBack) {
  const TJxlCase& c = GetParam();
  const TJxlPicture p = c.Lossless ? RandomPicture(37, 21, c.Bits, c.Grey, c.Alpha, 11)
                                   : GradientPicture(64, 48, c.Bits, c.Grey, c.Alpha);
  TJxlOptions options;
  options.Lossless = c.Lossless;
  ExpectPicture(EncodeJxl(p, options), p, c.Lossless ? 0 : 32);
}

INSTANTIATE_TEST_SUITE_P(Layouts, JxlLayouts,
                         testing::Values(TJxlCase{"Rgb8Lossless", 8, false, false, true},
                                         TJxlCase{"Rgba8Lossless", 8, false, true, true},
                                         TJxlCase{"Grey8Lossless", 8, true, false, true},
                                         TJxlCase{"GreyAlpha8Lossless", 8, true, true, true},
                                         TJxlCase{"Rgb16Lossless", 16, false, false, true},
                                         TJxlCase{"Rgba16Lossless", 16, false, true, true},
                                         TJxlCase{"Grey16Lossless", 16, true, false, true},
                                         TJxlCase{"Rgb12Lossless", 12, false, false, true},
                                         TJxlCase{"Rgb8Lossy", 8, false, false, false},
                                         TJxlCase{"Rgba8Lossy", 8, false, true, false},
                                         TJxlCase{"Grey8Lossy", 8, true, false, false},
                                         TJxlCase{"Rgb16Lossy", 16, false, false, false}),
                         [](const testing::TestParamInfo<TJxlCase>& param) {
                           return std::string(param.param.Name);
                         });

TEST(JxlReader, EveryOrientationComesUpright) {
  for (int orientation = 1; orientation <= 8; ++orientation) {
    SCOPED_TRACE(testing::Message() << "orientation " << orientation);
    for (const int bits : {8, 16}) {
      const TJxlPicture stored = RandomPicture(11, 6, bits, false, true, 9);
      TJxlOptions options;
      options.Orientation = orientation;
      const TBytes file = EncodeJxl(stored, options);
      TJxlPicture shown = stored;
      shown.Samples = test::Oriented(stored.Samples, shown.Width, shown.Height, 4, orientation);
      ExpectPicture(file, shown, 0);
    }
  }
}

// The container's EXIF block and XMP packet come with the picture, the block saying 1: the
// codestream's orientation has turned the pixels. Boxes stored Brotli-compressed (as cjxl stores
// a JPEG's EXIF) are unpacked, however long their content.
TEST(JxlReader, ExifAndXmpBoxesAreHandedOnPlainOrCompressed) {
  for (const bool compressed : {false, true}) {
    for (const std::size_t padding : {std::size_t{0}, std::size_t{300000}}) {
      SCOPED_TRACE(testing::Message() << "compressed " << compressed << ", padding " << padding);
      TJxlOptions options;
      options.Orientation = 6;
      options.CompressBoxes = compressed;
      const TBytes segment = test::ExifWithOrientation(6, false);
      options.Exif = {0, 0, 0, 0};
      options.Exif.insert(options.Exif.end(), segment.begin() + 6, segment.end());
      // Longer than the reader's first buffer when padded.
      options.Xmp =
          "<x:xmpmeta xmlns:x='adobe:ns:meta/'>" + std::string(padding, ' ') + "</x:xmpmeta>";
      const TBytes file = EncodeJxl(GradientPicture(6, 4, 8, false, false), options);
      TBitmap picture;
      TPictureExtras extras;
      ReadJxl(file.data(), file.size(), picture, extras);
      EXPECT_EQ(picture.Width(), 4);
      const TBytes upright = test::ExifWithOrientation(1, false);
      EXPECT_EQ(extras.Exif, TBytes(upright.begin() + 6, upright.end()));
      EXPECT_EQ(std::string(extras.Xmp.begin(), extras.Xmp.end()), options.Xmp);
      TDeepPicture deep;
      TPictureExtras deepExtras;
      ReadJxlDeep(file.data(), file.size(), deep, deepExtras);
      EXPECT_EQ(deepExtras.Exif, extras.Exif);
      EXPECT_EQ(deepExtras.Xmp, extras.Xmp);
    }
  }
}

// A compressed box that unpacks to more than the reader keeps is left out; the picture and the
// other box still come.
TEST(JxlReader, ACompressedBoxUnpackingPastTheLimitIsLeftOut) {
  TJxlOptions options;
  options.CompressBoxes = true;
  const TBytes segment = test::ExifWithOrientation(1, false);
  options.Exif = {0, 0, 0, 0};
  options.Exif.insert(options.Exif.end(), segment.begin() + 6, segment.end());
  options.Xmp = std::string((16u << 20) + 1, 'x');
  const TBytes file = EncodeJxl(GradientPicture(6, 4, 8, false, false), options);
  ASSERT_LT(file.size(), 1u << 20);
  TBitmap picture;
  TPictureExtras extras;
  ReadJxl(file.data(), file.size(), picture, extras);
  EXPECT_EQ(picture.Width(), 6);
  EXPECT_EQ(extras.Exif, TBytes(segment.begin() + 6, segment.end()));
  EXPECT_TRUE(extras.Xmp.empty());
}

TEST(JxlReader, AnimationShowsItsFirstFrame) {
  const TJxlPicture first = RandomPicture(9, 7, 8, false, false, 1);
  TJxlOptions options;
  options.LaterFrames.push_back(RandomPicture(9, 7, 8, false, false, 2).Samples);
  ExpectPicture(EncodeJxl(first, options), first, 0);
}

TEST(JxlReader, ColourProfileComesWithItsSamplesAndSrgbNeedsNone) {
  TBitmap picture;
  TPictureExtras extras;
  const TJxlPicture p = RandomPicture(8, 8, 8, false, false, 4);
  const TBytes srgb = EncodeJxl(p);
  extras.ColorProfile = {1};
  ReadJxl(srgb.data(), srgb.size(), picture, extras);
  EXPECT_TRUE(extras.ColorProfile.empty());

  // Samples in another space (Display P3, as cameras write) come with the profile of that
  // space, an ICC profile made by the decoder, in both reads.
  TJxlOptions options;
  options.P3 = true;
  const TBytes p3 = EncodeJxl(p, options);
  ReadJxl(p3.data(), p3.size(), picture, extras);
  ASSERT_GT(extras.ColorProfile.size(), 128u);
  EXPECT_EQ(std::string(extras.ColorProfile.begin() + 36, extras.ColorProfile.begin() + 40),
            "acsp");
  TDeepPicture deep;
  TPictureExtras deepExtras;
  ReadJxlDeep(p3.data(), p3.size(), deep, deepExtras);
  EXPECT_EQ(deepExtras.ColorProfile, extras.ColorProfile);
  // Lossless samples stay as stored, whatever their space.
  ExpectPicture(p3, p, 0);
}

TEST(JxlReader, TruncatedAndDamagedFilesAreRefused) {
  const TBytes file = EncodeJxl(GradientPicture(40, 30, 8, false, true), Lossy());
  const auto expectRefusedOrRead = [](const TBytes& bytes, std::size_t size, bool mustRefuse) {
    TBitmap picture;
    TPictureExtras extras;
    extras.ColorProfile = {4, 5};
    try {
      ReadJxl(bytes.data(), size, picture, extras);
      EXPECT_FALSE(mustRefuse) << "a file cut to " << size << " of " << bytes.size() << " was read";
      EXPECT_GT(picture.Width(), 0);
      return;
    } catch (const EReadError&) {
    } catch (const EOutOfResources&) {
      // A damaged size may claim more than the storage limit allows.
    } catch (const EInvalidGraphic& error) {
      EXPECT_EQ(error.Message(), "JPEG XL イメージが不正です") << error.Reason();
    }
    EXPECT_EQ(picture.Width(), 0);
    EXPECT_EQ(extras.ColorProfile, (std::vector<std::uint8_t>{4, 5}));
  };
  for (std::size_t size = 0; size < file.size(); size += 1 + file.size() / 97)
    expectRefusedOrRead(file, size, true);
  std::mt19937 random(3);
  for (int round = 0; round < 60; ++round) {
    TBytes damaged = file;
    for (int i = 0; i < 4; ++i)
      damaged[std::uniform_int_distribution<std::size_t>(2, file.size() - 1)(random)] ^=
          static_cast<std::uint8_t>(1 + random() % 255);
    expectRefusedOrRead(damaged, damaged.size(), false);
  }
  const TBytes notJxl(100, 0x42);
  TBitmap picture;
  TPictureExtras extras;
  test::ExpectRefusal<EInvalidGraphic>(
      [&] { ReadJxl(notJxl.data(), notJxl.size(), picture, extras); }, "jxl-bad-signature");
}

TEST(JxlReader, PictureOverTheStorageLimitIsRefusedBeforeDecoding) {
  const TBytes file = EncodeJxl(GradientPicture(64, 48, 8, false, false), Lossy());
  test::TStorageLimitScope limit(64 * 48 * 3 - 1);
  TBitmap picture;
  TPictureExtras extras;
  test::ExpectRefusal<EOutOfResources>([&] { ReadJxl(file.data(), file.size(), picture, extras); },
                                       "jxl-too-large");
  EXPECT_EQ(picture.Width(), 0);
}

// The decoder's planes are three 32-bit floats a pixel even for a grey picture (and one more
// for alpha): a picture whose decoding would take more than the storage limit is refused before
// the decoder is given the chance to fail an allocation it cannot survive.
// The 78-byte grey codestream claiming 22000 × 22000, trusted: its decoder would take about
// 6 GB (12.4 bytes a pixel measured). Under a storage limit with room for four bytes a pixel
// (the count that once let it through, to die inside the decoder under a memory limit) or for
// anything short of the decoder's float planes, it is out of resources before the decoder has it.
TEST(JxlReader, AFewBytesGreyCanvasTrustedIsRefusedForTheDecodersMemory) {
  const TBytes file = test::JxlSquare(22000, true);
  ASSERT_EQ(file.size(), 78u);
  const TClaimRuleScope trusted(true);
  for (const std::uint64_t bytesAPixel : {4u, 8u, 12u}) {
    SCOPED_TRACE(std::to_string(bytesAPixel) + " bytes a pixel");
    const test::TStorageLimitScope limit(std::uint64_t{22000} * 22000 * bytesAPixel);
    TBitmap picture;
    TPictureExtras extras;
    test::ExpectRefusal<EOutOfResources>(
        [&] { ReadJxl(file.data(), file.size(), picture, extras); }, "jxl-too-large");
    EXPECT_EQ(picture.Width(), 0);
  }
}

TEST(JxlReader, DecoderMemoryOfGreyAndColourPicturesIsCountedBeforeDecoding) {
  for (const bool grey : {true, false}) {
    SCOPED_TRACE(grey ? "grey" : "colour");
    const TBytes file = EncodeJxl(GradientPicture(64, 48, 8, grey, false));
    TBitmap picture;
    TPictureExtras extras;
    {
      // Room for the picture and for four bytes a channel, not for three float planes.
      const test::TStorageLimitScope limit(64 * 48 * (grey ? 8 : 14));
      test::ExpectRefusal<EOutOfResources>(
          [&] { ReadJxl(file.data(), file.size(), picture, extras); }, "jxl-too-large");
    }
    const test::TStorageLimitScope limit(64 * 48 * 16);
    ReadJxl(file.data(), file.size(), picture, extras);
    EXPECT_EQ(picture.Width(), 64);
  }
}

// libjxl takes a frame's input only once the whole frame is decoded: where it stopped says
// where the frame began, not where the damage was, so a damaged codestream names no place
// (a place before the damage would send the user to sound bytes).
TEST(JxlReader, ADamagedCodestreamNamesNoPlace) {
  const TBytes file = EncodeJxl(GradientPicture(200, 150, 8, false, false), Lossy());
  std::mt19937 random(11);
  int refused = 0;
  for (int round = 0; round < 40; ++round) {
    TBytes damaged = file;
    const std::size_t at = std::uniform_int_distribution<std::size_t>(2, file.size() - 1)(random);
    damaged[at] = static_cast<std::uint8_t>(damaged[at] ^ (1 + random() % 255));
    TBitmap picture;
    TPictureExtras extras;
    try {
      ReadJxl(damaged.data(), damaged.size(), picture, extras);
    } catch (const EInvalidGraphic& error) {
      ++refused;
      EXPECT_EQ(error.DamagedByte(), 0u) << error.Reason() << " damaged at " << at;
    } catch (const Exception&) {
    }
  }
  EXPECT_GT(refused, 0) << "no damage was found";
}

// Damaged and cut files, the decoder's thread pool at work on pictures of many groups: what
// penamo-filter says on standard error is our message and its cause line, nothing of libjxl's.
TEST(JxlReader, ADamagedFileGetsOurMessageAloneOnStandardError) {
  const test::TTemporaryFolder folder;
  const std::string input = folder / "in.jxl";
  std::mt19937 random(17);
  int refused = 0;
  for (const bool lossless : {true, false}) {
    TJxlOptions options;
    options.Lossless = lossless;
    const TBytes file = EncodeJxl(RandomPicture(300, 260, 8, false, false, 5), options);
    for (int round = 0; round < 14; ++round) {
      TBytes damaged = file;
      for (int i = 0; i < 3; ++i)
        damaged[std::uniform_int_distribution<std::size_t>(40, file.size() - 1)(random)] ^=
            static_cast<std::uint8_t>(1 + random() % 255);
      if (round % 2 == 1) damaged.resize(damaged.size() * (3 + round % 5) / 8);
      test::WriteFileBytes(input, damaged);
      std::string expected;
      try {
        TBitmap picture;
        TPictureExtras extras;
        ReadJxl(damaged.data(), damaged.size(), picture, extras);
        continue;  // the damage spared what the decoder checks
      } catch (const Exception& error) {
        expected = MessageWithFullStop(error.Message()) + "\n";
        const std::string cause = FailureCauseLine(error, input);
        if (!cause.empty()) expected += cause + "\n";
      }
      ++refused;
      EXPECT_EQ(test::RunFilter({"none", input, folder / "out.bmp"}, folder).Err, expected)
          << (lossless ? "lossless" : "lossy") << ", round " << round;
    }
  }
  EXPECT_GT(refused, 10);
}

}  // namespace
}  // namespace penamo
