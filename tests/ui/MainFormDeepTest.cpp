// The window's deep filters: their previews follow the level count and grey at once and come
// from a 16-bit file's full precision; their saves write the whole picture as the band pipeline
// does; the six sample groups are left as they were.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QColor>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QImage>
#include <QSpinBox>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "BitmapLayout.h"
#include "DeepFilters.h"
#include "MainForm.h"
#include "MainFormAccess.h"
#include "MainFormFixture.h"
#include "PictureFile.h"
#include "WindowTestSupport.h"

namespace penamo {
namespace {

using testing::CopyPart;
using testing::FileBytes;
using testing::MakeTestPicture;
using testing::PixelsOf;

// The part of a deep picture from (left, top), width x height.
TDeepPicture DeepPart(const TDeepPicture& picture, std::int32_t left, std::int32_t top,
                      std::int32_t width, std::int32_t height) {
  TDeepPicture part;
  part.Width = width;
  part.Height = height;
  for (std::int32_t y = 0; y < height; ++y) {
    const std::uint16_t* from = picture.Row(top + y) + 3 * left;
    part.Samples.insert(part.Samples.end(), from, from + 3 * width);
  }
  return part;
}

// An 8-bit picture seen at 16 bits, as the deep filters see it.
TDeepPicture Widened(const TBitmap& picture) {
  TDeepPicture deep;
  deep.Width = picture.Width();
  deep.Height = picture.Height();
  for (std::uint8_t v : PixelsOf(picture))
    deep.Samples.push_back(static_cast<std::uint16_t>(v * 257));
  return deep;
}

std::vector<std::uint8_t> DeepFiltered(TFilterId filter, const TDeepPicture& picture,
                                       TDeepOptions options) {
  TBitmap out;
  EXPECT_TRUE(FilterDeepPicture(filter, picture, out, options));
  return PixelsOf(out);
}

class MainFormDeepTest : public testing::TMainFormFixture {
 protected:
  // A smooth 16-bit gradient whose low bits an 8-bit read loses, written as a 16-bit PNG.
  QString WriteDeepPng(const QString& name, int width, int height) {
    QImage image(width, height, QImage::Format_RGBX64);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        image.setPixelColor(x, y,
                            QColor::fromRgba64(static_cast<quint16>(9000 + 97 * x + 13 * y),
                                               static_cast<quint16>(30000 + 41 * x + 59 * y),
                                               static_cast<quint16>(50000 - 23 * x + 7 * y)));
    const QString path = Dir.filePath(name);
    EXPECT_TRUE(image.save(path, "PNG"));
    return path;
  }

  // Opens path, which must open without a box.
  void OpenQuietly(const QString& path) {
    Open(path);
    ASSERT_TRUE(Seams.Boxes.empty());
  }

  void SetOptions(TDeepOptions options) {
    Layout->LevelsEdit->setValue(options.Levels);
    Layout->GreyCheck->setChecked(options.Grey);
    Layout->LightCheck->setChecked(options.Light == TDeepLight::Linear);
  }

  // The deep previews against the filters run on `sample` at the controls' options.
  void ExpectDeepPreviewsOf(const TDeepPicture& sample) {
    const TDeepOptions options = Form->DeepOptions();
    const std::pair<TFilterId, TImage*> previews[] = {{TFilterId::Diffusion, Layout->Diffusion},
                                                      {TFilterId::Ordered, Layout->Ordered}};
    for (const auto& [filter, image] : previews) {
      const TBitmap* shown = image->Picture().Bitmap();
      ASSERT_NE(shown, nullptr);
      EXPECT_EQ(shown->Width(), sample.Width);
      EXPECT_EQ(shown->Height(), sample.Height);
      EXPECT_EQ(PixelsOf(*shown), DeepFiltered(filter, sample, options))
          << FilterEntry(filter).Name << " at " << options.Levels << " levels, grey "
          << options.Grey << ", linear " << (options.Light == TDeepLight::Linear);
    }
  }
};

TEST_F(MainFormDeepTest, PreviewsOfADeepPictureComeFromItsFullPrecisionAndFollowTheControls) {
  const QString path = WriteDeepPng("sky.png", 200, 150);
  OpenQuietly(path);
  TDeepPicture deep;
  TPictureExtras extras;
  ReadPictureDeep(path.toStdString(), deep, extras);
  ASSERT_EQ(Form->DeepBitmap().Samples, deep.Samples) << "the deep picture is kept";
  const TDeepPicture sample = DeepPart(deep, 0, 0, 128, 128);

  // The default is 256 levels in colour; the 8-bit picture would give another answer, so the
  // comparison tells the full precision apart from the rounded picture.
  EXPECT_EQ(Form->DeepOptions().Levels, 256);
  EXPECT_FALSE(Form->DeepOptions().Grey);
  EXPECT_EQ(Form->DeepOptions().Light, TDeepLight::Linear);
  TBitmap rounded;
  CopyPart(Form->Bitmap(), 0, 0, 128, 128, rounded);
  ASSERT_NE(DeepFiltered(TFilterId::Diffusion, sample, {}),
            DeepFiltered(TFilterId::Diffusion, Widened(rounded), {}));
  ExpectDeepPreviewsOf(sample);

  const std::vector<std::vector<std::uint8_t>> six = SixPreviews();
  for (const TDeepOptions options :
       {TDeepOptions{2, false}, TDeepOptions{2, true}, TDeepOptions{4, true},
        TDeepOptions{16, false}, TDeepOptions{100, true}, TDeepOptions{256, true},
        TDeepOptions{2, true, TDeepLight::Encoded}, TDeepOptions{16, false, TDeepLight::Encoded},
        TDeepOptions{2, true, TDeepLight::Linear}}) {
    SetOptions(options);
    ExpectDeepPreviewsOf(sample);
  }
  EXPECT_EQ(SixPreviews(), six) << "the six groups do not follow the deep filters' controls";

  // A click in the full view moves the deep previews' sample with the others.
  QTest::mouseClick(Layout->FrameSpeedButton1, Qt::LeftButton);
  QTest::mouseClick(Layout->SampleImage, Qt::LeftButton, {}, QPoint(150, 40));
  ASSERT_EQ(Form->SampleOrigin(), (TPoint{150, 40}));
  ExpectDeepPreviewsOf(DeepPart(deep, 150, 40, 50, 110));
}

TEST_F(MainFormDeepTest, PreviewsOfAnEightBitPictureSeeItWidenedAndTheSixStayAsTheyWere) {
  TBitmap picture;
  MakeTestPicture(picture, 170, 140);
  const QString path = Dir.filePath("picture.bmp");
  picture.WriteBitmapFile(path.toStdString());
  OpenQuietly(path);
  EXPECT_TRUE(Form->DeepBitmap().Empty()) << "an 8-bit file keeps no second picture";
  TBitmap sample;
  CopyPart(picture, 0, 0, 128, 128, sample);
  ExpectDeepPreviewsOf(Widened(sample));

  SetOptions({8, true});
  ExpectDeepPreviewsOf(Widened(sample));
  // The five filters' previews are what they always were.
  const std::pair<TImage*, bool (*)(TBitmap&, TBitmap&, std::uint8_t)> five[] = {
      {Layout->PatternDither4, FilterEntry(TFilterId::PatternDither4).Run},
      {Layout->PatternDither16, FilterEntry(TFilterId::PatternDither16).Run},
      {Layout->DiffError64, FilterEntry(TFilterId::DiffError64).Run},
      {Layout->DiffError32, FilterEntry(TFilterId::DiffError32).Run},
      {Layout->DiffError16, FilterEntry(TFilterId::DiffError16).Run}};
  for (const auto& [image, run] : five) {
    TBitmap expected;
    ASSERT_TRUE(run(sample, expected, kFullStrength));
    EXPECT_EQ(PixelsOf(*image->Picture().Bitmap()), PixelsOf(expected));
  }
  EXPECT_EQ(PixelsOf(*Layout->SourceImage->Picture().Bitmap()), PixelsOf(sample));
}

TEST_F(MainFormDeepTest, ChangingTheControlsBeforeAnyPictureShowsNothing) {
  SetOptions({3, true});
  EXPECT_EQ(Layout->Diffusion->Picture().Bitmap(), nullptr);
  EXPECT_TRUE(Seams.Boxes.empty());
}

struct TDeepSaveCase {
  TFilterId Filter;
  TDeepOptions Options;
  const char* Extension;
  int Entry;  // the save dialog's entry: 1 bitmap, 2 PNG
  int PngDepth;
  int PngColourType;  // 0 grey, 2 colour
};

void PrintTo(const TDeepSaveCase& save, std::ostream* os) {
  *os << FilterEntry(save.Filter).Name << ' ' << save.Options.Levels
      << (save.Options.Grey ? " grey " : " colour ")
      << (save.Options.Light == TDeepLight::Linear ? "linear " : "encoded ") << save.Extension;
}

class DeepSaveTest : public MainFormDeepTest,
                     public ::testing::WithParamInterface<TDeepSaveCase> {};

TEST_P(DeepSaveTest, TheSaveWritesTheWholeDeepPictureThroughTheFilterAtTheControlsOptions) {
  const TDeepSaveCase& save = GetParam();
  const QString path = WriteDeepPng("sky.png", 301, 157);
  OpenQuietly(path);
  SetOptions(save.Options);
  TMainFormTestAccess::SaveDialog1(*Form).SetFilterIndex(save.Entry);
  const QString saved = Dir.filePath(QStringLiteral("saved.") + save.Extension);
  Seams.Answer(saved);
  QTest::mouseClick(
      save.Filter == TFilterId::Diffusion ? Layout->SaveDiffusion : Layout->SaveOrdered,
      Qt::LeftButton);
  ASSERT_TRUE(Seams.LastWasSave);
  ASSERT_TRUE(Seams.Boxes.empty());

  TDeepPicture deep;
  TPictureExtras extras;
  ReadPictureDeep(path.toStdString(), deep, extras);
  TBitmap expected;
  ASSERT_TRUE(FilterDeepPicture(save.Filter, deep, expected, save.Options));
  const QByteArray written = FileBytes(saved);
  ASSERT_FALSE(written.isEmpty());
  if (save.PngDepth == 0) {
    const QString reference = Dir.filePath("expected.bmp");
    expected.WriteBitmapFile(reference.toStdString());
    EXPECT_EQ(written, FileBytes(reference));
  } else {
    // The header's bit depth and colour type, then the pixels as read back.
    ASSERT_GT(written.size(), 26);
    EXPECT_EQ(written.mid(1, 3), QByteArray("PNG"));
    EXPECT_EQ(static_cast<int>(written[24]), save.PngDepth);
    EXPECT_EQ(static_cast<int>(written[25]), save.PngColourType);
    TBitmap back;
    TPictureExtras backExtras;
    ASSERT_EQ(ReadPicture(saved.toStdString(), back, backExtras), TPictureKind::Png);
    EXPECT_EQ(PixelsOf(back), PixelsOf(expected));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, DeepSaveTest,
    ::testing::Values(
        TDeepSaveCase{TFilterId::Diffusion, {256, false}, "bmp", 1, 0, 0},
        TDeepSaveCase{TFilterId::Ordered, {5, true}, "bmp", 1, 0, 0},
        TDeepSaveCase{TFilterId::Diffusion, {256, false}, "png", 2, 8, 2},
        TDeepSaveCase{TFilterId::Ordered, {2, true}, "png", 2, 1, 0},
        TDeepSaveCase{TFilterId::Diffusion, {4, true}, "png", 2, 2, 0},
        TDeepSaveCase{TFilterId::Ordered, {16, true}, "png", 2, 4, 0},
        TDeepSaveCase{TFilterId::Diffusion, {100, true}, "png", 2, 8, 0},
        TDeepSaveCase{TFilterId::Diffusion, {2, true, TDeepLight::Encoded}, "png", 2, 1, 0},
        TDeepSaveCase{TFilterId::Ordered, {4, false, TDeepLight::Encoded}, "bmp", 1, 0, 0}),
    [](const auto& param) {
      const TDeepSaveCase& save = param.param;
      return std::string(FilterEntry(save.Filter).Name) + std::to_string(save.Options.Levels) +
             (save.Options.Grey ? "Grey" : "Colour") +
             (save.Options.Light == TDeepLight::Linear ? "" : "Encoded") + save.Extension;
    });

TEST_F(MainFormDeepTest, TheDeepColumnStandsBesideTheSixGroupsLevelWithTheirRows) {
  const std::pair<QGroupBox*, const char*> groups[] = {{Layout->GroupBox7, "高精度誤差拡散"},
                                                       {Layout->GroupBox8, "ブルーノイズディザ"}};
  const std::pair<TFrameSpeedButton*, const char*> saves[] = {
      {Layout->SaveDiffusion, "ビットマップを高精度誤差拡散フィルターをかけ出力する"},
      {Layout->SaveOrdered, "ビットマップをブルーノイズディザフィルターをかけ出力する"}};
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(groups[i].first->title(), QString::fromUtf8(groups[i].second));
    EXPECT_EQ(groups[i].first->size(), QSize(145, 193));
    EXPECT_EQ(saves[i].first->Hint(), QString::fromUtf8(saves[i].second));
    EXPECT_EQ(saves[i].first->geometry(), QRect(112, 160, 23, 22));
    EXPECT_EQ(saves[i].first->NumGlyphs(), 2);
  }
  EXPECT_EQ(Layout->LevelsEdit->minimum(), 2);
  EXPECT_EQ(Layout->LevelsEdit->maximum(), 256);
  EXPECT_EQ(Layout->GreyCheck->text(), QString::fromUtf8("グレー"));
  EXPECT_FALSE(Layout->LevelsEdit->toolTip().isEmpty());
  EXPECT_FALSE(Layout->GreyCheck->toolTip().isEmpty());
  EXPECT_EQ(Layout->LightCheck->text(), QString::fromUtf8("光で測る"));
  EXPECT_TRUE(Layout->LightCheck->toolTip().contains(QString::fromUtf8("光の強さ")));
  EXPECT_TRUE(Layout->LightCheck->isChecked()) << "linear light is the default";

  // At the stored size and taller, the two groups share the rows of the six; the column keeps
  // its width and the sample panel its size and centring.
  for (const QSize size : {QSize(730, 453), QSize(900, 700), QSize(500, 300)}) {
    Form->resize(size);
    QApplication::processEvents();
    SCOPED_TRACE(size.width());
    EXPECT_EQ(Layout->DeepPanel->width(), 161);
    EXPECT_EQ(Layout->DeepPanel->geometry().right(), Form->width() - 1);
    const auto topIn = [this](QWidget* widget) { return widget->mapTo(Form.get(), QPoint()).y(); };
    if (Layout->SamplePanel->y() >= 0) {
      EXPECT_EQ(topIn(Layout->GroupBox7), topIn(Layout->GroupBox1));
      EXPECT_EQ(topIn(Layout->GroupBox8), topIn(Layout->GroupBox6));
    } else {
      EXPECT_EQ(Layout->DeepSamplePanel->y(),
                std::max(Layout->ToolBar1->height(),
                         Layout->LightCheck->geometry().bottom() + 1 - Layout->GroupBox7->y()));
    }
    // The first group never covers the light check box.
    EXPECT_GT(topIn(Layout->GroupBox7), Layout->LightCheck->mapTo(Form.get(), QPoint()).y() +
                                            Layout->LightCheck->height() - 1);
  }
}

// The address space the process holds now, in bytes (0 when it cannot be told).
std::uint64_t AddressSpaceInUse() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmSize:") {
      std::uint64_t kib = 0;
      status >> kib;
      return kib << 10;
    }
  }
  return 0;
}

// Opens path in a new window with the address space capped `room` bytes above what the
// process holds, says what the window then holds, and ends the process.
[[noreturn]] void OpenUnderAddressSpaceCap(const QString& path, std::uint64_t room) {
  testing::TDialogSeams seams;
  TFormPtr<TMainForm> form = MakeForm<TMainForm>();
  const rlimit limit{AddressSpaceInUse() + room, RLIM_INFINITY};
  ::setrlimit(RLIMIT_AS, &limit);
  form->OpenFile(path);
  const bool told = seams.Boxes.size() == 1 &&
                    seams.Boxes[0].Text.startsWith(QString::fromUtf8("メモリが足りないため"));
  std::fprintf(stderr, "opened %d x %d, deep %s, %s\n", form->Bitmap().Width(),
               form->Bitmap().Height(), form->DeepBitmap().Empty() ? "dropped" : "kept",
               told ? "told" : "not told");
  std::exit(0);
}

// A child whose address space is capped a little above what the 8-bit picture needs opens a
// 16-bit picture whose deep copy does not fit: it opens at 8 bits and the user is told.
TEST(MainFormDeepMemory, APictureWhoseDeepCopyDoesNotFitOpensAtEightBitsAndSaysSo) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers' shadow memory does not live under an address-space cap";
#endif
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  constexpr int kWidth = 3000;
  constexpr int kHeight = 2000;
  QImage image(kWidth, kHeight, QImage::Format_RGBX64);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      image.setPixelColor(
          x, y,
          QColor::fromRgba64(static_cast<quint16>(x * 21), static_cast<quint16>(y * 31), 40000));
  const QString path = dir.filePath("deep.png");
  ASSERT_TRUE(image.save(path, "PNG", 0));
  image = QImage();
  const auto fileSize = static_cast<std::uint64_t>(QFileInfo(path).size());

  // Room for the 8-bit picture (3 bytes a pixel), the file's bytes and some working space, not
  // for the deep copy's 6 bytes a pixel besides.
  const std::uint64_t room = 3ull * kWidth * kHeight + fileSize + (16ull << 20);
  EXPECT_EXIT(OpenUnderAddressSpaceCap(path, room), ::testing::ExitedWithCode(0),
              "opened 3000 x 2000, deep dropped, told");
}

}  // namespace
}  // namespace penamo
