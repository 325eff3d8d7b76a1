// The public bitmap test suite in the shared folder: good files load and look as their
// reference renderings do; questionable and bad files load or are refused with a named error,
// and never bring the program down.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#ifdef PENAMO_HAVE_QT
#include <QImage>
#endif

#include "Bitmap.h"
#include "ExpectRefusal.h"
#include "Stream.h"

namespace penamo::test {
namespace {

namespace fs = std::filesystem;

fs::path SuiteFolder() {
  return fs::path(PENAMO_SHARED_DIR) / "bmpsuite";
}

// The suite's files under the given subfolders, as "g/pal1.bmp".
std::vector<std::string> SuiteFiles(std::initializer_list<const char*> folders) {
  std::vector<std::string> names;
  for (const char* folder : folders) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(SuiteFolder() / folder, error))
      if (entry.path().extension() == ".bmp")
        names.push_back(std::string(folder) + "/" + entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string TestName(const ::testing::TestParamInfo<std::string>& param) {
  std::string name = param.param;
  std::replace_if(
      name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); },
      '_');
  return name;
}

class SuiteFile : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (!fs::exists(SuiteFolder() / GetParam()))
      GTEST_SKIP() << "no bitmap suite in the shared folder";
  }
  std::string Path() const { return (SuiteFolder() / GetParam()).string(); }
};

class AnySuiteFile : public SuiteFile {};

// A refusal says why, in the test's log and as a property of its result.
void ReportRefusal(const Exception& error) {
  ::testing::Test::RecordProperty("reason", error.Reason());
  std::cout << "refused: " << Describe(error) << '\n';
}

TEST_P(AnySuiteFile, LoadsAs24BitsOrIsRefusedWithANamedError) {
  TBitmap bitmap;
  try {
    bitmap.ReadBitmapFile(Path());
    bitmap.ConvertTo24Bits();
  } catch (const Exception& error) {
    if (ExpectBitmapRefusal(error)) ReportRefusal(error);
    return;
  }
  EXPECT_EQ(bitmap.ImageFormat(), TPixelFormat::pf24bit);
  EXPECT_FALSE(bitmap.Empty());
  EXPECT_GT(bitmap.Width(), 0);
  EXPECT_GT(bitmap.Height(), 0);
}

INSTANTIATE_TEST_SUITE_P(BitmapSuite, AnySuiteFile,
                         ::testing::ValuesIn(SuiteFiles({"b", "q", "g"})), TestName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(AnySuiteFile);

class GoodSuiteFile : public SuiteFile {};

#ifdef PENAMO_HAVE_QT

// The suite's map: each picture and the reference rendering it is to equal.
std::string ReferenceOf(const std::string& name) {
  if (name == "g/pal8nonsquare.bmp") return "pal8nonsquare-e.png";  // the unstretched pixels
  std::ifstream map(SuiteFolder() / "map.tsv");
  std::string line;
  while (std::getline(map, line)) {
    std::istringstream fields(line);
    std::string file, references;
    std::getline(fields, file, '\t');
    std::getline(fields, references, '\t');
    if (file == name) return references.substr(0, references.find(','));
  }
  // The map names the rendering of one of a family only; the others share its name.
  const std::string own = fs::path(name).stem().string() + ".png";
  return fs::exists(SuiteFolder() / "ref" / own) ? own : std::string();
}

// Reads the picture, converts it to 24 bits and compares every pixel's colour with the
// rendering. Alpha is no part of a 24-bit picture, and the renderings of pictures with alpha
// hold no colour where they are transparent: only opaque pixels are compared.
void ExpectEqualsRendering(const fs::path& picture, const std::string& reference) {
  const QImage expected =
      QImage(QString::fromStdString((SuiteFolder() / "ref" / reference).string()))
          .convertToFormat(QImage::Format_ARGB32);
  ASSERT_FALSE(expected.isNull()) << reference;
  TBitmap bitmap;
  try {
    bitmap.ReadBitmapFile(picture.string());
    bitmap.ConvertTo24Bits();
  } catch (const Exception& error) {
    FAIL() << picture << " was refused: " << Describe(error);
  }
  ASSERT_EQ(bitmap.Width(), expected.width());
  ASSERT_EQ(bitmap.Height(), expected.height());
  int mismatches = 0;
  for (int y = 0; y < expected.height(); ++y) {
    const std::uint8_t* row = bitmap.ConstRowAddress(y);
    for (int x = 0; x < expected.width(); ++x) {
      const QRgb want = expected.pixel(x, y);
      if (qAlpha(want) != 255) continue;
      const int got[3] = {row[3 * x + 2], row[3 * x + 1], row[3 * x]};
      const int wanted[3] = {qRed(want), qGreen(want), qBlue(want)};
      for (int c = 0; c < 3; ++c) {
        if (got[c] != wanted[c] && ++mismatches <= 5)
          ADD_FAILURE() << "pixel (" << x << ", " << y << ") channel " << c << ": " << got[c]
                        << " instead of " << wanted[c];
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// The renderings widen masked fields at full scale with rounding, as our conversion does, so
// even 16-bit pictures compare exactly.
TEST_P(GoodSuiteFile, LoadsAndEqualsItsReferenceRendering) {
  const std::string reference = ReferenceOf(GetParam());
  ASSERT_FALSE(reference.empty()) << "not in the map";
  ExpectEqualsRendering(Path(), reference);
}

// Questionable files that load, with the rendering our rules lead to: pixels a run-length
// stream never reaches are black ("-b"), headers of every length from 40 bytes on, masks of any
// width.
const std::pair<const char*, const char*> kQuestionable[] = {
    {"q/pal1p1.bmp", "pal1p1.png"},
    {"q/pal4rletrns.bmp", "pal4rletrns-b.png"},
    {"q/pal8rletrns.bmp", "pal8rletrns-b.png"},
    {"q/pal4rlecut.bmp", "pal4rlecut-b.png"},
    {"q/pal8rlecut.bmp", "pal8rlecut-b.png"},
    {"q/pal8os2-hs.bmp", "pal8.png"},
    {"q/pal8os2-sz.bmp", "pal8.png"},
    {"q/pal8os2v2.bmp", "pal8.png"},
    {"q/pal8os2v2-sz.bmp", "pal8.png"},
    {"q/pal8os2v2-40sz.bmp", "pal8.png"},
    {"q/rgb16faketrns.bmp", "rgb16.png"},
    {"q/rgb16-231.bmp", "rgb16-231.png"},
    {"q/rgb16-3103.bmp", "rgb16-3103.png"},
    {"q/rgba16-4444.bmp", "rgba16-4444.png"},
    {"q/rgba16-5551.bmp", "rgba16-5551.png"},
    {"q/rgba16-1924.bmp", "rgba16-1924.png"},
    {"q/rgb32h52.bmp", "rgb24.png"},
    {"q/rgb32-xbgr.bmp", "rgb24.png"},
    {"q/rgb32fakealpha.bmp", "rgb24.png"},
    {"q/rgb32-7187.bmp", "rgb32-7187.png"},
    {"q/rgba32-1.bmp", "rgba32.png"},
    {"q/rgba32-2.bmp", "rgba32.png"},
    {"q/rgba32-1010102.bmp", "rgba32-1010102.png"},
    {"q/rgba32-81284.bmp", "rgba32-81284.png"},
    {"q/rgba32-61754.bmp", "rgba32-61754.png"},
    {"q/rgba32h56.bmp", "rgba32.png"},
    {"q/rgba32abf.bmp", "rgba32.png"},
    {"b/rgb16-880.bmp", "rgb16-880.png"},
};

class QuestionableSuiteFile : public ::testing::TestWithParam<std::pair<const char*, const char*>> {
};

TEST_P(QuestionableSuiteFile, EqualsTheRenderingOurRulesLeadTo) {
  if (!fs::exists(SuiteFolder() / GetParam().first)) GTEST_SKIP() << "no bitmap suite";
  ExpectEqualsRendering(SuiteFolder() / GetParam().first, GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(BitmapSuite, QuestionableSuiteFile, ::testing::ValuesIn(kQuestionable),
                         [](const auto& param) {
                           std::string name = param.param.first;
                           std::replace_if(
                               name.begin(), name.end(),
                               [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); },
                               '_');
                           return name;
                         });

// Pictures with an alpha mask: their opacity is the rendering's, pixel for pixel.
const std::pair<const char*, const char*> kWithAlpha[] = {
    {"q/rgba16-4444.bmp", "rgba16-4444.png"},   {"q/rgba16-5551.bmp", "rgba16-5551.png"},
    {"q/rgba16-1924.bmp", "rgba16-1924.png"},   {"q/rgba32-1.bmp", "rgba32.png"},
    {"q/rgba32-2.bmp", "rgba32.png"},           {"q/rgba32-1010102.bmp", "rgba32-1010102.png"},
    {"q/rgba32-81284.bmp", "rgba32-81284.png"}, {"q/rgba32-61754.bmp", "rgba32-61754.png"},
    {"q/rgba32h56.bmp", "rgba32.png"},          {"q/rgba32abf.bmp", "rgba32.png"},
};

class AlphaSuiteFile : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(AlphaSuiteFile, CarriesTheRenderingsOpacity) {
  const fs::path picture = SuiteFolder() / GetParam().first;
  if (!fs::exists(picture)) GTEST_SKIP() << "no bitmap suite";
  const QImage expected =
      QImage(QString::fromStdString((SuiteFolder() / "ref" / GetParam().second).string()))
          .convertToFormat(QImage::Format_ARGB32);
  ASSERT_FALSE(expected.isNull());
  TBitmap bitmap;
  std::vector<std::uint8_t> alpha;
  TFileStream stream(picture.string());
  bitmap.ReadBitmapStream(stream, alpha);
  ASSERT_EQ(alpha.size(), static_cast<std::size_t>(expected.width()) *
                              static_cast<std::size_t>(expected.height()));
  int mismatches = 0;
  for (int y = 0; y < expected.height(); ++y) {
    for (int x = 0; x < expected.width(); ++x) {
      const int want = qAlpha(expected.pixel(x, y));
      const int got = alpha[static_cast<std::size_t>(y * expected.width() + x)];
      if (got != want && ++mismatches <= 5)
        ADD_FAILURE() << "alpha at (" << x << ", " << y << "): " << got << " instead of " << want;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

INSTANTIATE_TEST_SUITE_P(BitmapSuite, AlphaSuiteFile, ::testing::ValuesIn(kWithAlpha),
                         [](const auto& param) {
                           std::string name = param.param.first;
                           std::replace_if(
                               name.begin(), name.end(),
                               [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); },
                               '_');
                           return name;
                         });

#else

TEST_P(GoodSuiteFile, Loads) {
  TBitmap bitmap;
  bitmap.ReadBitmapFile(Path());
  bitmap.ConvertTo24Bits();
  EXPECT_FALSE(bitmap.Empty());
}

#endif

INSTANTIATE_TEST_SUITE_P(BitmapSuite, GoodSuiteFile, ::testing::ValuesIn(SuiteFiles({"g"})),
                         TestName);

// 32- and 16-bit pictures whose spare bits are no alpha (no mask, or one left unset) show no
// transparency, whatever those bits hold.
TEST(BitmapSuiteAlpha, PicturesWithoutAnAlphaMaskHaveNoAlphaPlane) {
  for (const char* name : {"g/rgb32.bmp", "g/rgb32bf.bmp", "q/rgb32fakealpha.bmp",
                           "q/rgb32-xbgr.bmp", "q/rgb32h52.bmp", "q/rgb16faketrns.bmp"}) {
    SCOPED_TRACE(name);
    const fs::path picture = SuiteFolder() / name;
    if (!fs::exists(picture)) GTEST_SKIP() << "no bitmap suite";
    TBitmap bitmap;
    std::vector<std::uint8_t> alpha = {1};
    TFileStream stream(picture.string());
    bitmap.ReadBitmapStream(stream, alpha);
    EXPECT_FALSE(bitmap.Empty());
    EXPECT_TRUE(alpha.empty());
  }
}
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(GoodSuiteFile);

}  // namespace
}  // namespace penamo::test
