// JPEG XL pictures whose colour is not plain sRGB, written by libjxl's own encoder: a grey picture
// with a grey ICC profile of gamma 1.8, and a picture coded from linear light. Read back, their
// tones are those the file means, in sRGB (lcms2 computes what is expected in floating point),
// and the shadows of a linear picture keep their levels.
#include <gtest/gtest.h>
#include <jxl/encode.h>
#include <lcms2.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "DeepRowSource.h"
#include "JxlReader.h"
#include "PictureMakers.h"

namespace penamo {
namespace {

using test::TBytes;

void Expect(JxlEncoderStatus status) {
  ASSERT_EQ(status, JXL_ENC_SUCCESS);
}

// A grey profile whose tone curve is a plain gamma.
TBytes GammaGreyProfile(double gamma) {
  cmsToneCurve* curve = cmsBuildGamma(nullptr, gamma);
  cmsHPROFILE profile = cmsCreateGrayProfile(cmsD50_xyY(), curve);
  cmsFreeToneCurve(curve);
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(profile, nullptr, &size);
  TBytes bytes(size);
  cmsSaveProfileToMem(profile, bytes.data(), &size);
  cmsCloseProfile(profile);
  return bytes;
}

// One row of samples (16-bit, full scale) as a grey or RGB (equal channels) picture.
TBytes Encode(const std::vector<std::uint16_t>& row, bool grey, bool lossless, const TBytes& icc,
              bool linear, JxlPrimaries primaries = JXL_PRIMARIES_SRGB) {
  JxlEncoder* encoder = JxlEncoderCreate(nullptr);
  JxlBasicInfo info;
  JxlEncoderInitBasicInfo(&info);
  info.xsize = static_cast<std::uint32_t>(row.size());
  info.ysize = 2;
  info.bits_per_sample = 16;
  info.num_color_channels = grey ? 1 : 3;
  info.uses_original_profile = lossless ? JXL_TRUE : JXL_FALSE;
  EXPECT_EQ(JxlEncoderSetBasicInfo(encoder, &info), JXL_ENC_SUCCESS);
  if (!icc.empty()) {
    EXPECT_EQ(JxlEncoderSetICCProfile(encoder, icc.data(), icc.size()), JXL_ENC_SUCCESS);
  } else {
    JxlColorEncoding colour;
    JxlColorEncodingSetToSRGB(&colour, grey ? JXL_TRUE : JXL_FALSE);
    if (linear) colour.transfer_function = JXL_TRANSFER_FUNCTION_LINEAR;
    colour.primaries = primaries;
    EXPECT_EQ(JxlEncoderSetColorEncoding(encoder, &colour), JXL_ENC_SUCCESS);
  }
  JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(encoder, nullptr);
  if (lossless) {
    EXPECT_EQ(JxlEncoderSetFrameLossless(settings, JXL_TRUE), JXL_ENC_SUCCESS);
  } else {
    EXPECT_EQ(JxlEncoderSetFrameDistance(settings, 0.1f), JXL_ENC_SUCCESS);
  }
  const std::uint32_t channels = grey ? 1 : 3;
  std::vector<std::uint16_t> samples;
  for (int y = 0; y < 2; ++y)
    for (const std::uint16_t v : row)
      samples.insert(samples.end(), channels, v);
  const JxlPixelFormat format{channels, JXL_TYPE_UINT16, JXL_NATIVE_ENDIAN, 0};
  Expect(JxlEncoderAddImageFrame(settings, &format, samples.data(), samples.size() * 2));
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

// sRGB's encoding of a linear light value 0..1.
double SrgbEncoded(double linear) {
  return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
}

struct TGreyCase {
  const char* Name;
  bool Lossless;
};

class JxlGreyProfile : public ::testing::TestWithParam<TGreyCase> {};

// Coded as it is (lossless: the decoder hands the samples over in the file's profile) or in XYB
// (lossy: the decoder renders them): either way the tones come in sRGB grey, without a profile
// the written file could not carry for RGB samples.
TEST_P(JxlGreyProfile, TonesComeInSrgbGrey) {
  std::vector<std::uint16_t> row;
  for (int v = 0; v <= 65535; v += 257 * 5)
    row.push_back(static_cast<std::uint16_t>(v));
  const TBytes file = Encode(row, true, GetParam().Lossless, GammaGreyProfile(1.8), false);
  TBitmap picture;
  TDeepPicture deep;
  TPictureExtras extras;
  ReadJxlWithDeep(file.data(), file.size(), picture, deep, extras);
  EXPECT_TRUE(extras.ColorProfile.empty());
  const double tolerance = GetParam().Lossless ? 0.6 : 2.0;
  for (std::size_t x = 0; x < row.size(); ++x) {
    const double expected = 255.0 * SrgbEncoded(std::pow(row[x] / 65535.0, 1.8));
    EXPECT_NEAR(test::PixelAt(picture, static_cast<int>(x), 0) & 0xFF, expected, tolerance)
        << "coded " << row[x];
    EXPECT_NEAR(deep.Row(0)[3 * x] / 257.0, expected, tolerance) << "coded " << row[x];
  }
}

INSTANTIATE_TEST_SUITE_P(Made, JxlGreyProfile,
                         ::testing::Values(TGreyCase{"Lossless", true}, TGreyCase{"Lossy", false}),
                         [](const ::testing::TestParamInfo<TGreyCase>& made) {
                           return std::string(made.param.Name);
                         });

// A lossy picture coded from linear light, a ramp through its darkest hundredth: it comes in sRGB
// at 16 bits, so the deep picture holds the ramp's many levels and the 8-bit one every level the
// ramp reaches, where linear 8-bit samples would hold three.
TEST(JxlLinear, ShadowsComeInAnEncodedSpaceAtFullPrecision) {
  std::vector<std::uint16_t> row;
  for (int v = 0; v <= 655; v += 5)
    row.push_back(static_cast<std::uint16_t>(v));
  for (const bool grey : {true, false}) {
    const TBytes file = Encode(row, grey, false, {}, true);
    TBitmap picture;
    TDeepPicture deep;
    TPictureExtras extras;
    ASSERT_TRUE(ReadJxlWithDeep(file.data(), file.size(), picture, deep, extras));
    EXPECT_TRUE(extras.ColorProfile.empty()) << "sRGB needs no profile";
    std::set<std::uint32_t> levels, deepLevels;
    for (std::size_t x = 0; x < row.size(); ++x) {
      const double expected = 255.0 * SrgbEncoded(row[x] / 65535.0);
      const std::uint32_t shown = test::PixelAt(picture, static_cast<int>(x), 0) & 0xFF;
      EXPECT_NEAR(shown, expected, 1.5) << "linear " << row[x] << (grey ? " grey" : " RGB");
      levels.insert(shown);
      deepLevels.insert(deep.Row(0)[3 * x]);
    }
    EXPECT_GE(levels.size(), 20u);
    EXPECT_GE(deepLevels.size(), row.size() * 9 / 10);
  }
}

// A lossless picture coded from linear light, whose samples the decoder hands over as coded: they
// come with sRGB's tone curve at 16 bits, each where the curve puts it (computed once and rounded
// once), and the 8-bit picture is their rounding, so its shadows keep their levels. sRGB needs no
// profile; other primaries keep theirs, in a profile with sRGB's curve that describes the samples.
TEST(JxlLinear, LosslessLinearSamplesComeWithSrgbsCurveRoundedOnce) {
  std::vector<std::uint16_t> row;
  for (int v = 0; v <= 655; v += 5)
    row.push_back(static_cast<std::uint16_t>(v));
  for (int v = 700; v <= 65535; v += 257 * 3)
    row.push_back(static_cast<std::uint16_t>(v));
  for (const bool grey : {true, false}) {
    SCOPED_TRACE(grey ? "grey" : "RGB");
    const TBytes file = Encode(row, grey, true, {}, true);
    TBitmap picture;
    TDeepPicture deep;
    TPictureExtras extras;
    ASSERT_TRUE(ReadJxlWithDeep(file.data(), file.size(), picture, deep, extras));
    EXPECT_TRUE(extras.ColorProfile.empty()) << "sRGB needs no profile";
    std::set<std::uint32_t> shadows;
    for (std::size_t x = 0; x < row.size(); ++x) {
      const double expected = 65535.0 * SrgbEncoded(row[x] / 65535.0);
      for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(deep.Row(1)[3 * x + static_cast<std::size_t>(c)], expected, grey ? 1.5 : 0.5)
            << "linear " << row[x];
      const std::uint32_t shown = test::PixelAt(picture, static_cast<int>(x), 1);
      EXPECT_NEAR(shown >> 16, expected / 257.0, 0.51) << "linear " << row[x];
      EXPECT_NEAR(shown & 0xFF, expected / 257.0, 0.51) << "linear " << row[x];
      if (row[x] <= 655) shadows.insert(shown & 0xFF);
    }
    EXPECT_GE(shadows.size(), 20u);
  }

  const TBytes wide = Encode(row, false, true, {}, true, JXL_PRIMARIES_2100);
  TBitmap picture;
  TDeepPicture deep;
  TPictureExtras extras;
  ASSERT_TRUE(ReadJxlWithDeep(wide.data(), wide.size(), picture, deep, extras));
  ASSERT_FALSE(extras.ColorProfile.empty());
  cmsHPROFILE profile = cmsOpenProfileFromMem(
      extras.ColorProfile.data(), static_cast<cmsUInt32Number>(extras.ColorProfile.size()));
  ASSERT_NE(profile, nullptr);
  const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(profile, cmsSigRedTRCTag));
  ASSERT_NE(curve, nullptr);
  EXPECT_NEAR(cmsEvalToneCurveFloat(curve, 0.5f), std::pow((0.5 + 0.055) / 1.055, 2.4), 1e-3);
  const auto* red = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, cmsSigRedColorantTag));
  ASSERT_NE(red, nullptr);
  cmsCIExyY redXy;
  cmsXYZ2xyY(&redXy, red);
  // The colorant is adapted to the profile's D50 white, so it lies near, not at, (0.708, 0.292).
  EXPECT_GT(redXy.x, 0.68);
  cmsCloseProfile(profile);
  for (std::size_t x = 0; x < row.size(); ++x)
    EXPECT_NEAR(deep.Row(0)[3 * x + 2], 65535.0 * SrgbEncoded(row[x] / 65535.0), 0.5)
        << "linear " << row[x];
}

}  // namespace
}  // namespace penamo
