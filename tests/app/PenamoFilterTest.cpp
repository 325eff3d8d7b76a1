// penamo-filter as a user runs it: the program is started with arguments, its exit status and
// messages are read, and the files it writes are decoded (PNG by libpng, unchanged) and compared
// with what the filters give in-process for the same picture.
#include <gtest/gtest.h>
#include <png.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Bitmap.h"
#include "DeepFilters.h"
#include "DeepRowSource.h"
#include "FilterTable.h"
#include "PictureFile.h"
#include "PictureKind.h"
#include "PictureMakers.h"
#include "PngWriter.h"
#include "ProgramRun.h"
#include "TemporaryFolder.h"

namespace penamo {
namespace {

using test::ReadStoredPng;
using test::RunFilter;
using test::TBytes;
using test::TProgramRun;
using test::TStoredPng;

// A smooth 16-bit colour gradient with fine detail below the 8-bit step, so that rounding to 8
// bits first would change the deep filters' answer. channels 3 (RGB) or 4 (RGBA).
std::vector<std::uint32_t> DeepGradient(int width, int height, int channels) {
  std::vector<std::uint32_t> samples;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      samples.push_back(static_cast<std::uint32_t>((x * 65535 / width + y * 7) % 65536));
      samples.push_back(static_cast<std::uint32_t>((y * 65535 / height + x * 13) % 65536));
      samples.push_back(static_cast<std::uint32_t>(((x + y) * 40000 / (width + height) + 91)));
      if (channels == 4) samples.push_back(static_cast<std::uint32_t>((x * 977 + y * 31) % 65536));
    }
  }
  return samples;
}

std::string WriteDeepPng(const test::TTemporaryFolder& folder, const std::string& name, int width,
                         int height, bool alpha) {
  test::TPngLayout layout;
  layout.Width = width;
  layout.Height = height;
  layout.ColorType = alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
  layout.BitDepth = 16;
  layout.Samples = DeepGradient(width, height, alpha ? 4 : 3);
  const std::string path = folder / name;
  test::WriteFileBytes(path, test::MakePng(layout));
  return path;
}

// The picture in-process, read as the deep filters read it.
TDeepPicture ReadDeep(const std::string& path, TPictureExtras& extras) {
  TDeepPicture deep;
  ReadPictureDeep(path, deep, extras);
  return deep;
}

void FilterInProcess(TFilterId filter, const TDeepPicture& deep, const TDeepOptions& options,
                     TBitmap& expected) {
  ASSERT_TRUE(FilterDeepPicture(filter, deep, expected, options));
}

// Whether the 24-bit bitmap file at path holds exactly expected's pixels.
::testing::AssertionResult BitmapFileHolds(const std::string& path, const TBitmap& expected) {
  TBitmap back;
  TPictureExtras extras;
  ReadPicture(path, back, extras);
  if (back.Width() != expected.Width() || back.Height() != expected.Height())
    return ::testing::AssertionFailure() << "size " << back.Width() << " × " << back.Height();
  const auto bytes = 3 * static_cast<std::size_t>(expected.Width());
  for (std::int32_t y = 0; y < expected.Height(); ++y) {
    if (std::memcmp(back.ConstRowAddress(y), expected.ConstRowAddress(y), bytes) != 0)
      return ::testing::AssertionFailure() << "row " << y << " differs";
  }
  return ::testing::AssertionSuccess();
}

// Whether the colour PNG at path (RGB, or RGBA with alpha) holds expected's pixels.
::testing::AssertionResult ColourPngHolds(const std::string& path, const TBitmap& expected,
                                          const std::vector<std::uint8_t>& alpha) {
  TStoredPng stored;
  if (!ReadStoredPng(path, stored)) return ::testing::AssertionFailure() << "libpng refused it";
  const int channels = alpha.empty() ? 3 : 4;
  if (stored.BitDepth != 8 || stored.Channels != channels)
    return ::testing::AssertionFailure()
           << "depth " << stored.BitDepth << ", " << stored.Channels << " channels";
  if (stored.Width != expected.Width() || stored.Height != expected.Height())
    return ::testing::AssertionFailure() << "size " << stored.Width << " × " << stored.Height;
  for (int y = 0; y < stored.Height; ++y) {
    const std::uint8_t* bgr = expected.ConstRowAddress(y);
    for (int x = 0; x < stored.Width; ++x) {
      const std::uint32_t* rgb = &stored.Rows[y][static_cast<std::size_t>(channels * x)];
      if (rgb[0] != bgr[3 * x + 2] || rgb[1] != bgr[3 * x + 1] || rgb[2] != bgr[3 * x] ||
          (channels == 4 && rgb[3] != alpha[static_cast<std::size_t>(y * stored.Width + x)]))
        return ::testing::AssertionFailure() << "pixel " << x << ", " << y << " differs";
    }
  }
  return ::testing::AssertionSuccess();
}

class PenamoFilter : public ::testing::Test {
 protected:
  test::TTemporaryFolder FFolder;
};

// A picture cut short says where its data ended, on the line under the message, as the window's
// error box does (the wording is shared).
TEST_F(PenamoFilter, APictureCutShortIsReportedWithWhereItsDataEnds) {
  const std::string input = WriteDeepPng(FFolder, "in.png", 64, 48, false);
  std::filesystem::resize_file(input, std::filesystem::file_size(input) / 2);
  const auto size = std::filesystem::file_size(input);
  const TProgramRun run = RunFilter({"diffusion16", input, FFolder / "out.bmp"}, FFolder);
  EXPECT_EQ(run.Exit, 1);
  EXPECT_NE(run.Err.find("ストリームからの読み込みエラー.\nファイル " + input +
                         ": データが途中で終わっています (" + std::to_string(size) +
                         " バイト目で途切れています)\n"),
            std::string::npos)
      << run.Err;
  EXPECT_FALSE(std::filesystem::exists(FFolder / "out.bmp"));
}

// The HEIF and JPEG XL libraries (and the video decoders and SIMD libraries they bring, whose
// start-up code costs every process milliseconds) are loaded by a run that reads such a picture
// and by no other. The dynamic loader's own account (LD_DEBUG=files) says what a run loaded.
TEST_F(PenamoFilter, HeifAndJpegXlLibrariesAreLoadedOnlyToReadTheirPictures) {
  const auto loaded = [&](const std::vector<std::string>& args) {
    ::setenv("LD_DEBUG", "files", 1);
    const TProgramRun run = RunFilter(args, FFolder);
    ::unsetenv("LD_DEBUG");
    EXPECT_EQ(run.Exit, 0) << run.Err;
    std::vector<std::string> libraries;
    for (const char* name :
         {"libheif.so", "libjxl.so", "libjxl_threads.so", "libde265.so", "libhwy.so"}) {
      if (run.Err.find(std::string("file=") + name) != std::string::npos) libraries.push_back(name);
    }
    return libraries;
  };
  const std::string input = WriteDeepPng(FFolder, "in.png", 32, 24, false);
  EXPECT_TRUE(loaded({"diffusion16", input, FFolder / "out.bmp"}).empty());
  EXPECT_TRUE(loaded({"diffusion", FFolder / "out.bmp", FFolder / "out.png"}).empty());

  const std::filesystem::path shared(PENAMO_SHARED_DIR);
  const std::filesystem::path jxl = shared / "conformance" / "jxl-grayscale.jxl";
  const std::filesystem::path heif = shared / "conformance" / "heif-C006.heic";
  if (!std::filesystem::exists(jxl) || !std::filesystem::exists(heif)) {
    GTEST_SKIP() << "no " << jxl << " or " << heif << ": conformance files absent";
  }
  const std::vector<std::string> forJxl = loaded({"none", jxl, FFolder / "jxl.bmp"});
  EXPECT_NE(std::find(forJxl.begin(), forJxl.end(), "libjxl.so"), forJxl.end());
  EXPECT_EQ(std::find(forJxl.begin(), forJxl.end(), "libheif.so"), forJxl.end());
  const std::vector<std::string> forHeif = loaded({"none", heif, FFolder / "heif.bmp"});
  EXPECT_NE(std::find(forHeif.begin(), forHeif.end(), "libheif.so"), forHeif.end());
  EXPECT_EQ(std::find(forHeif.begin(), forHeif.end(), "libjxl.so"), forHeif.end());
}

// Each wrong use ends with exit 2 and the complaint, and no file is made.
TEST_F(PenamoFilter, WrongUsesOfTheDeepOptionsAreUsageErrors) {
  const std::string input = WriteDeepPng(FFolder, "in.png", 8, 4, false);
  const std::string output = FFolder / "out.png";
  const struct {
    std::vector<std::string> Args;
    std::string Message;
  } cases[] = {
      {{"--levels", "16", "pattern4", input, output}, "--levels と --grey は"},
      {{"--grey", "diffusion16", input, output}, "--levels と --grey は"},
      {{"--levels=4", "none", input, output}, "--levels と --grey は"},
      {{"--grey", "--levels", "4", "none", input, output}, "--levels と --grey は"},
      {{"--levels", "1", "diffusion", input, output}, "--levels は 2 から 256 までの整数です: 1"},
      {{"--levels=257", "ordered", input, output}, "--levels は 2 から 256 までの整数です: 257"},
      {{"--levels", "sixteen", "diffusion", input, output}, "整数です: sixteen"},
      {{"--levels=", "diffusion", input, output}, "--levels は 2 から 256 までの整数です: "},
      {{"--levels", "-4", "diffusion", input, output}, "整数です: -4"},
      {{"--levels", "0016", "diffusion", input, output}, "整数です: 0016"},
      {{"diffusion", input, output, "--levels"}, "--levels に値がありません"},
      {{"--grey", "ordered", input}, "FILTER, INPUT, OUTPUT"},
      {{"--light", "linear", "diffusion16", input, output}, "--light は diffusion と ordered"},
      {{"--light=encoded", "pattern16", input, output}, "--light は diffusion と ordered"},
      {{"--light", "encoded", "none", input, output}, "--light は diffusion と ordered"},
      {{"--light", "gamma", "diffusion", input, output},
       "--light は linear または encoded です: gamma"},
      {{"--light=", "ordered", input, output}, "--light は linear または encoded です: "},
      {{"--light=Linear", "ordered", input, output}, "linear または encoded です: Linear"},
      {{"ordered", input, output, "--light"}, "--light に値がありません"},
  };
  for (const auto& c : cases) {
    const TProgramRun run = RunFilter(c.Args, FFolder);
    EXPECT_EQ(run.Exit, 2) << c.Args[0] << " " << c.Args[1];
    EXPECT_NE(run.Err.find(c.Message), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find("使い方"), std::string::npos) << run.Err;
    EXPECT_FALSE(std::filesystem::exists(output)) << c.Args[0] << " " << c.Args[1];
  }
}

// The kinds the program names are the format table's: the usage lists every kind read by its
// name, and --format takes exactly the kinds a save writes, by their usual extensions, each one
// writing a file of its kind whatever the output's name; any other value is a usage error.
TEST_F(PenamoFilter, TheKindsItNamesAreTheFormatTables) {
  const TProgramRun help = RunFilter({"--help"}, FFolder);
  ASSERT_EQ(help.Exit, 0) << help.Err;
  std::string read;
  std::string written;
  std::vector<std::string> extensions;
  const std::string input = WriteDeepPng(FFolder, "in.png", 8, 4, false);
  for (const TPictureFormat& format : PictureFormats()) {
    read += (read.empty() ? "" : ", ") + std::string(format.Name);
    if (!format.Writable()) continue;
    const std::string& extension = format.Extensions.front();
    written += (written.empty() ? "" : "|") + extension;
    extensions.push_back(extension);
    const std::string output = FFolder / ("out-" + extension + ".picture");
    const TProgramRun run = RunFilter({"--format", extension, "none", input, output}, FFolder);
    EXPECT_EQ(run.Exit, 0) << run.Err;
    const TBytes bytes = test::ReadFileBytes(output);
    EXPECT_EQ(PictureKindOf(bytes.data(), std::min(bytes.size(), kPictureSignatureSize)),
              format.Kind)
        << extension;
  }
  // "bmp または png"; with more, "a, b または c".
  std::string choices;
  for (std::size_t i = 0; i < extensions.size(); ++i)
    choices += (i == 0 ? "" : i + 1 == extensions.size() ? " または " : ", ") + extensions[i];
  EXPECT_NE(help.Out.find("画像ファイル INPUT (" + read + ")\n"), std::string::npos) << help.Out;
  EXPECT_NE(help.Out.find("[--format " + written + "]"), std::string::npos) << help.Out;
  EXPECT_NE(help.Out.find("出力形式 " + choices + " ("), std::string::npos) << help.Out;
  const TProgramRun wrong = RunFilter({"--format", "jpg", "none", input, FFolder / "x"}, FFolder);
  EXPECT_EQ(wrong.Exit, 2);
  EXPECT_NE(wrong.Err.find("--format は " + choices + " です: jpg"), std::string::npos)
      << wrong.Err;
  EXPECT_FALSE(std::filesystem::exists(FFolder / "x"));
}

// Both filters through the program give, byte for byte, what they give in-process for the same
// deep picture, into a bitmap and into a PNG: a 16-bit PNG read band by band, a 16-bit TIFF read
// whole. The picture spans several bands, so the diffusion's error crosses band edges.
TEST_F(PenamoFilter, DeepFiltersWriteWhatTheyMakeInProcessIntoBitmapAndPng) {
  const int width = 700, height = 300;
  const std::string png = WriteDeepPng(FFolder, "in.png", width, height, false);
  test::TTiffLayout tiff;
  tiff.Width = 61;
  tiff.Height = 37;
  tiff.SamplesPerPixel = 3;
  tiff.BitsPerSample = 16;
  tiff.Photometric = 2;  // RGB
  tiff.Samples = DeepGradient(tiff.Width, tiff.Height, 3);
  const std::string tif = FFolder / "in.tif";
  test::WriteFileBytes(tif, test::MakeTiff(tiff));
  for (const std::string& input : {png, tif}) {
    TPictureExtras extras;
    const TDeepPicture deep = ReadDeep(input, extras);
    for (const char* name : {"diffusion", "ordered"}) {
      const TFilterEntry* filter = FindFilter(name);
      ASSERT_NE(filter, nullptr);
      // No --light is linear light; --light=linear and --light encoded are taken as written.
      const struct {
        int Levels;
        std::vector<std::string> Light;
        TDeepLight Expected;
      } runs[] = {{256, {}, TDeepLight::Linear},
                  {7, {}, TDeepLight::Linear},
                  {7, {"--light=linear"}, TDeepLight::Linear},
                  {256, {"--light", "encoded"}, TDeepLight::Encoded},
                  {3, {"--light=encoded"}, TDeepLight::Encoded}};
      for (const auto& r : runs) {
        TDeepOptions options;
        options.Levels = r.Levels;
        options.Light = r.Expected;
        TBitmap expected;
        FilterInProcess(filter->Id, deep, options, expected);
        const std::string what = input + " " + name + " " + std::to_string(r.Levels) + " " +
                                 (r.Expected == TDeepLight::Linear ? "linear" : "encoded");
        const std::string bmp = FFolder / "out.bmp";
        const std::string out = FFolder / "out.png";
        std::vector<std::string> args = r.Light;
        args.push_back("--levels=" + std::to_string(r.Levels));
        args.insert(args.end(), {name, input, bmp});
        TProgramRun run = RunFilter(args, FFolder);
        ASSERT_EQ(run.Exit, 0) << what << ": " << run.Err;
        EXPECT_TRUE(BitmapFileHolds(bmp, expected)) << what;
        args = r.Light;
        args.insert(args.end(), {"--levels", std::to_string(r.Levels), name, input, out});
        run = RunFilter(args, FFolder);
        ASSERT_EQ(run.Exit, 0) << what << ": " << run.Err;
        EXPECT_TRUE(ColourPngHolds(out, expected, {})) << what;
      }
      // The two lights differ on this gradient at few levels: the option reaches the filter.
      TDeepOptions linear{3, false, TDeepLight::Linear}, encoded{3, false, TDeepLight::Encoded};
      TBitmap inLight, inValues;
      FilterInProcess(filter->Id, deep, linear, inLight);
      FilterInProcess(filter->Id, deep, encoded, inValues);
      bool same = true;
      for (int y = 0; y < inLight.Height(); ++y)
        same = same && std::equal(inLight.ConstRowAddress(y),
                                  inLight.ConstRowAddress(y) + 3 * inLight.Width(),
                                  inValues.ConstRowAddress(y));
      EXPECT_FALSE(same) << name;
    }
  }
}

// A 16-bit source reaches the filter at its full precision: the output is the deep picture's,
// and differs from what the picture rounded to 8 bits first would give.
TEST_F(PenamoFilter, SixteenBitSamplesAreFilteredBeforeAnyRounding) {
  const std::string input = WriteDeepPng(FFolder, "in.png", 120, 80, false);
  TPictureExtras extras;
  const TDeepPicture deep = ReadDeep(input, extras);
  TBitmap rounded;
  ReadPicture(input, rounded, extras);
  TBitmapRows roundedRows(rounded);
  TWidenedRows widened(roundedRows);
  const std::string output = FFolder / "out.bmp";
  const TProgramRun run = RunFilter({"diffusion", input, output}, FFolder);
  ASSERT_EQ(run.Exit, 0) << run.Err;
  TBitmap fromRounded;
  ASSERT_TRUE(FilterDeepPicture(TFilterId::Diffusion, widened, fromRounded));
  TBitmap expected;
  FilterInProcess(TFilterId::Diffusion, deep, {}, expected);
  EXPECT_TRUE(BitmapFileHolds(output, expected));
  EXPECT_FALSE(BitmapFileHolds(output, fromRounded));
}

struct TGreyCase {
  const char* Filter;
  int Levels;
  int Depth;  // of the PNG written
};

class GreyOutput : public PenamoFilter, public ::testing::WithParamInterface<TGreyCase> {};

// --grey writes a grey PNG at the smallest depth that holds the levels, each sample the index
// of the level the filter chose (the grey itself at 8 bits); a bitmap holds the same greys as
// 24-bit pixels.
TEST_P(GreyOutput, PngIsGreyAtTheSmallestDepthHoldingTheFiltersLevels) {
  const TGreyCase c = GetParam();
  const int width = 333, height = 45;
  const std::string input = WriteDeepPng(FFolder, "in.png", width, height, false);
  TPictureExtras extras;
  const TDeepPicture deep = ReadDeep(input, extras);
  const TFilterEntry* filter = FindFilter(c.Filter);
  ASSERT_NE(filter, nullptr);
  TDeepOptions options;
  options.Levels = c.Levels;
  options.Grey = true;
  TBitmap expected;
  FilterInProcess(filter->Id, deep, options, expected);

  const std::string output = FFolder / "grey.png";
  TProgramRun run =
      RunFilter({"--grey", "--levels", std::to_string(c.Levels), c.Filter, input, output}, FFolder);
  ASSERT_EQ(run.Exit, 0) << run.Err;
  TStoredPng stored;
  ASSERT_TRUE(ReadStoredPng(output, stored));
  EXPECT_EQ(stored.ColorType, PNG_COLOR_TYPE_GRAY);
  EXPECT_EQ(stored.BitDepth, c.Depth);
  ASSERT_EQ(stored.Width, width);
  ASSERT_EQ(stored.Height, height);
  std::vector<bool> used(static_cast<std::size_t>(c.Levels), false);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* bgr = expected.ConstRowAddress(y);
    for (int x = 0; x < width; ++x) {
      const std::uint32_t sample = stored.Rows[y][static_cast<std::size_t>(x)];
      const std::int32_t grey = c.Depth == 8
                                    ? static_cast<std::int32_t>(sample)
                                    : LevelGrey(static_cast<std::int32_t>(sample), c.Levels);
      ASSERT_EQ(grey, bgr[3 * x]) << x << ", " << y;
      // Every grey written is one of the N levels.
      std::int32_t k = 0;
      while (k < c.Levels && LevelGrey(k, c.Levels) != grey)
        ++k;
      ASSERT_LT(k, c.Levels) << "grey " << grey << " is no level";
      used[static_cast<std::size_t>(k)] = true;
    }
  }
  // The gradient is smooth and wide: the dither mixes several levels, never one grey alone.
  EXPECT_GE(std::count(used.begin(), used.end(), true), std::min(c.Levels, 3));

  const std::string bmp = FFolder / "grey.bmp";
  run =
      RunFilter({"--grey", "--levels=" + std::to_string(c.Levels), c.Filter, input, bmp}, FFolder);
  ASSERT_EQ(run.Exit, 0) << run.Err;
  EXPECT_TRUE(BitmapFileHolds(bmp, expected));
}

INSTANTIATE_TEST_SUITE_P(
    LevelCounts, GreyOutput,
    ::testing::Values(TGreyCase{"diffusion", 2, 1}, TGreyCase{"ordered", 4, 2},
                      TGreyCase{"diffusion", 16, 4}, TGreyCase{"ordered", 17, 8},
                      TGreyCase{"diffusion", 256, 8}, TGreyCase{"ordered", 2, 1}),
    [](const auto& param) {
      return std::string(param.param.Filter) + std::to_string(param.param.Levels);
    });

// A picture with transparency keeps it: grey and alpha at 8 bits, the alpha as the 8-bit read
// gives it; in colour, RGBA.
TEST_F(PenamoFilter, GreyWithAlphaIsGreyAndAlphaAtEightBitsAndColourKeepsAlpha) {
  const int width = 50, height = 20;
  const std::string input = WriteDeepPng(FFolder, "in.png", width, height, true);
  TPictureExtras extras;
  const TDeepPicture deep = ReadDeep(input, extras);
  ASSERT_TRUE(extras.HasAlpha());
  TDeepOptions options;
  options.Levels = 4;
  options.Grey = true;
  TBitmap grey;
  FilterInProcess(TFilterId::Ordered, deep, options, grey);
  const std::string output = FFolder / "out.png";
  TProgramRun run = RunFilter({"--grey", "--levels", "4", "ordered", input, output}, FFolder);
  ASSERT_EQ(run.Exit, 0) << run.Err;
  TStoredPng stored;
  ASSERT_TRUE(ReadStoredPng(output, stored));
  EXPECT_EQ(stored.ColorType, PNG_COLOR_TYPE_GRAY_ALPHA);
  EXPECT_EQ(stored.BitDepth, 8);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      ASSERT_EQ(stored.Rows[y][2 * x], grey.ConstRowAddress(y)[3 * x]) << x << ", " << y;
      ASSERT_EQ(stored.Rows[y][2 * x + 1], extras.Alpha[y * width + x]) << x << ", " << y;
    }
  }
  run = RunFilter({"--levels", "4", "ordered", input, output}, FFolder);
  ASSERT_EQ(run.Exit, 0) << run.Err;
  options.Grey = false;
  TBitmap colour;
  FilterInProcess(TFilterId::Ordered, deep, options, colour);
  EXPECT_TRUE(ColourPngHolds(output, colour, extras.Alpha));
}

// Saving a picture over itself (the file is still open for reading) gives what saving it
// elsewhere gives; the deep read then takes the picture whole first.
TEST_F(PenamoFilter, ADeepSaveOverItsOwnInputGivesWhatASaveElsewhereGives) {
  const std::string input = WriteDeepPng(FFolder, "in.png", 90, 70, false);
  const std::string self = FFolder / "self.png";
  std::filesystem::copy_file(input, self);
  TProgramRun run = RunFilter({"diffusion", input, FFolder / "elsewhere.png"}, FFolder);
  ASSERT_EQ(run.Exit, 0) << run.Err;
  run = RunFilter({"diffusion", self, self}, FFolder);
  ASSERT_EQ(run.Exit, 0) << run.Err;
  EXPECT_EQ(test::ReadFileBytes(self), test::ReadFileBytes(FFolder / "elsewhere.png"));
}

// The five filters (and the unfiltered copy) write what the table's filters make of the 8-bit
// picture: the deep path has taken nothing of theirs.
TEST_F(PenamoFilter, TheFiveFiltersWriteWhatTheirWholePictureFiltersMake) {
  const std::string input = WriteDeepPng(FFolder, "in.png", 230, 140, false);
  TBitmap picture;
  TPictureExtras extras;
  ReadPicture(input, picture, extras);
  const std::string output = FFolder / "out.bmp";
  for (const TFilterEntry& filter : FilterTable()) {
    if (filter.TakesLevels) continue;
    for (const int strength : {100, 37}) {
      TBitmap source;
      ReadPicture(input, source, extras);
      TBitmap expected;
      ASSERT_TRUE(filter.Run(source, expected, static_cast<std::uint8_t>(strength)));
      const TProgramRun run = RunFilter(
          {"--strength", std::to_string(strength), std::string(filter.Name), input, output},
          FFolder);
      ASSERT_EQ(run.Exit, 0) << run.Err;
      EXPECT_TRUE(BitmapFileHolds(output, expected)) << filter.Name << " " << strength;
    }
  }
  const TProgramRun run = RunFilter({"none", input, output}, FFolder);
  ASSERT_EQ(run.Exit, 0) << run.Err;
  EXPECT_TRUE(BitmapFileHolds(output, picture));
}

}  // namespace
}  // namespace penamo
