// The save dialog's offered name, the name deciding the saved format, a bitmap save of a
// picture with transparency, which asks what the file is to hold, and a written format joining
// every save by one row of the format table.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTest>
#include <optional>
#include <string>
#include <vector>

#include "DeepFilters.h"
#include "MainForm.h"
#include "MainFormAccess.h"
#include "MainFormFixture.h"
#include "OnWhiteRows.h"
#include "PictureFile.h"
#include "PngWriter.h"
#include "TestFormatRow.h"
#include "WindowTestSupport.h"

namespace penamo {
namespace {

using testing::FileBytes;
using testing::MakeTestPicture;
using testing::PixelsOf;

class MainFormSaveTest : public testing::TMainFormFixture {
 protected:
  // Writes a 60 x 40 PNG, with extras' alpha when given, and opens it.
  void OpenPng(const QString& name, const TPictureExtras& extras = {}) {
    MakeTestPicture(Picture, 60, 40);
    const QString path = Dir.filePath(name);
    WritePngFile(Picture, path.toStdString(), extras);
    Open(path);
    ASSERT_TRUE(Seams.Boxes.empty());
  }

  // Presses a save button with the dialog's entry (1 bitmap, 2 PNG) chosen and `typed` given.
  void Save(TFrameSpeedButton* button, int entry, const QString& typed) {
    TMainFormTestAccess::SaveDialog1(*Form).SetFilterIndex(entry);
    Seams.Answer(typed);
    QTest::mouseClick(button, Qt::LeftButton);
  }

  QStringList Files() const { return QDir(Dir.path()).entryList(QDir::Files); }

  TBitmap Picture;
};

TEST_F(MainFormSaveTest, TheDialogOffersThePicturesNameTheFiltersNameAndTheEntrysExtension) {
  OpenPng("my.photo.png");
  const std::pair<TFrameSpeedButton*, const char*> buttons[] = {
      {Layout->SavePatternDither4, "pattern4"}, {Layout->SavePatternDither16, "pattern16"},
      {Layout->SaveDiffError64, "diffusion64"}, {Layout->SaveDiffError32, "diffusion32"},
      {Layout->SaveDiffError16, "diffusion16"}, {Layout->SaveDiffusion, "diffusion"},
      {Layout->SaveOrdered, "ordered"}};
  for (const auto& [button, name] : buttons) {
    for (const int entry : {1, 2}) {
      Seams.Answers.push_back(std::nullopt);
      TMainFormTestAccess::SaveDialog1(*Form).SetFilterIndex(entry);
      QTest::mouseClick(button, Qt::LeftButton);
      ASSERT_FALSE(Seams.OfferedNames.empty());
      EXPECT_EQ(Seams.OfferedNames.back(),
                Dir.filePath(QStringLiteral("my.photo-") + QString::fromUtf8(name) +
                             (entry == 1 ? QStringLiteral(".bmp") : QStringLiteral(".png"))));
    }
  }
  EXPECT_EQ(Files(), QStringList{"my.photo.png"}) << "cancelled dialogs write nothing";

  // After a save the next offer is in the folder saved into.
  ASSERT_TRUE(QDir(Dir.path()).mkdir("out"));
  Save(Layout->SavePatternDither4, 2, Dir.filePath("out/first.png"));
  ASSERT_TRUE(QFile::exists(Dir.filePath("out/first.png")));
  Seams.Answers.push_back(std::nullopt);
  QTest::mouseClick(Layout->SaveOrdered, Qt::LeftButton);
  EXPECT_EQ(Seams.OfferedNames.back(), Dir.filePath("out/my.photo-ordered.png"));
}

TEST_F(MainFormSaveTest, AKnownExtensionDecidesTheFormatAndTheEntryOnlyCompletesABareName) {
  OpenPng("photo.png");
  TBitmap expected;
  ASSERT_TRUE(FilterEntry(TFilterId::PatternDither16).Run(Picture, expected, kFullStrength));
  const struct {
    int Entry;
    const char* Typed;
    const char* Written;
    TPictureKind Kind;
  } saves[] = {{2, "x.bmp", "x.bmp", TPictureKind::Bitmap},
               {1, "y.png", "y.png", TPictureKind::Png},
               {2, "z", "z.png", TPictureKind::Png},
               {1, "w", "w.bmp", TPictureKind::Bitmap},
               {2, "v.final", "v.final", TPictureKind::Png}};
  for (const auto& save : saves) {
    SCOPED_TRACE(save.Typed);
    Save(Layout->SavePatternDither16, save.Entry, Dir.filePath(save.Typed));
    ASSERT_TRUE(Seams.Boxes.empty());
    const QString written = Dir.filePath(save.Written);
    EXPECT_EQ(PictureKindOfFile(written.toStdString()), save.Kind);
    TBitmap back;
    TPictureExtras extras;
    ReadPicture(written.toStdString(), back, extras);
    EXPECT_EQ(PixelsOf(back), PixelsOf(expected));
  }

  // A format the tool reads but does not write is refused, and nothing is written.
  const QStringList before = Files();
  Save(Layout->SavePatternDither16, 2, Dir.filePath("u.jpg"));
  ASSERT_EQ(Seams.Boxes.size(), 1u);
  EXPECT_EQ(Seams.Boxes[0].Text,
            QString::fromUtf8(
                "JPEG 形式では保存できません。ビットマップ (.bmp) か PNG (.png) の名前を付けて"
                "ください."));
  EXPECT_EQ(Files(), before);
}

class TransparentSaveTest : public MainFormSaveTest {
 protected:
  void SetUp() override {
    MainFormSaveTest::SetUp();
    for (int i = 0; i < 60 * 40; ++i)
      Extras.Alpha.push_back(static_cast<std::uint8_t>(i % 3 == 0 ? 255 : i * 7 % 256));
    OpenPng("logo.png", Extras);
  }

  TPictureExtras Extras;
};

TEST_F(TransparentSaveTest, ABitmapSaveAsksAndCancellingWritesNothing) {
  const QStringList before = Files();
  Save(Layout->SavePatternDither4, 1, Dir.filePath("logo4.bmp"));
  ASSERT_EQ(Seams.Questions.size(), 1u);
  const testing::TDialogSeams::TQuestion& question = Seams.Questions[0];
  EXPECT_TRUE(question.Request.Text.startsWith(
      QString::fromUtf8("透明な部分があります。ビットマップには透明度を保存できません。")));
  EXPECT_TRUE(question.Request.Text.contains(QStringLiteral("logo4.png")));
  EXPECT_EQ(question.Buttons.size(), 3);
  EXPECT_EQ(Files(), before);

  // A PNG keeps the alpha: nothing to ask.
  Save(Layout->SavePatternDither4, 2, Dir.filePath("logo4.png"));
  EXPECT_EQ(Seams.Questions.size(), 1u);
  EXPECT_TRUE(QFile::exists(Dir.filePath("logo4.png")));
}

TEST_F(TransparentSaveTest, SavingAsPngInsteadWritesThePngBesideTheNameAndKeepsTheAlpha) {
  Seams.ButtonAnswers = {0};
  Save(Layout->SaveDiffError32, 1, Dir.filePath("logo32.bmp"));
  ASSERT_EQ(Seams.Questions.size(), 1u);
  EXPECT_FALSE(QFile::exists(Dir.filePath("logo32.bmp")));
  TBitmap back;
  TPictureExtras backExtras;
  ASSERT_EQ(ReadPicture(Dir.filePath("logo32.png").toStdString(), back, backExtras),
            TPictureKind::Png);
  EXPECT_EQ(backExtras.Alpha, Extras.Alpha);
  TBitmap expected;
  ASSERT_TRUE(FilterEntry(TFilterId::DiffError32).Run(Picture, expected, kFullStrength));
  EXPECT_EQ(PixelsOf(back), PixelsOf(expected));
}

TEST_F(TransparentSaveTest, SavingOnWhiteFiltersThePictureAsItLooksOverWhite) {
  // The picture over white, at 8 bits for the five and at 16 for the deep filters.
  TBitmap onWhite;
  MakeTestPicture(onWhite, 60, 40);
  TDeepPicture deepOnWhite;
  deepOnWhite.Width = 60;
  deepOnWhite.Height = 40;
  for (std::int32_t y = 0; y < 40; ++y) {
    std::uint8_t* row = onWhite.RowAddress(y);
    for (std::int32_t i = 0; i < 180; ++i) {
      const std::uint8_t a = Extras.Alpha[static_cast<std::size_t>(60 * y + i / 3)];
      deepOnWhite.Samples.push_back(DeepOnWhite(static_cast<std::uint16_t>(row[i] * 257), a));
      row[i] = OnWhite(row[i], a);
    }
  }

  Seams.ButtonAnswers = {1, 1};
  Save(Layout->SaveDiffError64, 1, Dir.filePath("white64"));
  TBitmap expected;
  ASSERT_TRUE(FilterEntry(TFilterId::DiffError64).Run(onWhite, expected, kFullStrength));
  const QString reference = Dir.filePath("reference.bmp");
  expected.WriteBitmapFile(reference.toStdString());
  EXPECT_EQ(FileBytes(Dir.filePath("white64.bmp")), FileBytes(reference));

  Layout->LevelsEdit->setValue(6);
  Save(Layout->SaveDiffusion, 1, Dir.filePath("white-deep.bmp"));
  ASSERT_TRUE(FilterDeepPicture(TFilterId::Diffusion, deepOnWhite, expected, {6, false}));
  expected.WriteBitmapFile(reference.toStdString());
  EXPECT_EQ(FileBytes(Dir.filePath("white-deep.bmp")), FileBytes(reference));
  EXPECT_EQ(Seams.Questions.size(), 2u);
  EXPECT_TRUE(Seams.Boxes.empty());
}

TEST_F(MainFormSaveTest, AnOpaqueAlphaPlaneAsksNothing) {
  TPictureExtras extras;
  extras.Alpha.assign(60 * 40, 255);
  OpenPng("opaque.png", extras);
  Save(Layout->SavePatternDither4, 1, Dir.filePath("opaque4.bmp"));
  EXPECT_TRUE(Seams.Questions.empty());
  EXPECT_EQ(PictureKindOfFile(Dir.filePath("opaque4.bmp").toStdString()), TPictureKind::Bitmap);
}

// The window with a written format added to the table for the test alone (TestFormatRow.h),
// its writer claiming to keep no alpha unless a test says otherwise.
class FormatRowSaveTest : public MainFormSaveTest {
 protected:
  void SetUp() override {
    test::TestFormatLog() = {};
    FRow.emplace(test::TestFormatRow(RowKeepsAlpha()));
    MainFormSaveTest::SetUp();
  }
  // The window goes before the row it shows.
  void TearDown() override {
    Form.reset();
    FRow.reset();
  }
  virtual bool RowKeepsAlpha() const { return false; }

  // Opens logo.png, half of its pixels see-through, and gives its alpha plane.
  std::vector<std::uint8_t> OpenTransparent() {
    TPictureExtras extras;
    for (int i = 0; i < 60 * 40; ++i)
      extras.Alpha.push_back(static_cast<std::uint8_t>(i % 2 == 0 ? 255 : 40));
    OpenPng("logo.png", extras);
    return extras.Alpha;
  }

  std::optional<TExtraFormatRowScope> FRow;
};

TEST_F(FormatRowSaveTest, ItsEntryOrNameSavesTheFiveAndTheDeepFiltersThroughItsWriter) {
  EXPECT_TRUE(TMainFormTestAccess::SaveDialog1(*Form).Filter().endsWith(
      QStringLiteral("|TestPic(*.tstpic)|*.tstpic")));
  // Its entry offers its extension and completes a bare name; its extension decides alone.
  const struct {
    int Entry;
    const char* Typed;
    const char* Written;
  } saves[] = {{3, "bare", "bare.tstpic"}, {1, "typed.TSTPIC", "typed.TSTPIC"}};
  OpenPng("photo.png");
  TBitmap expected;
  ASSERT_TRUE(FilterEntry(TFilterId::PatternDither16).Run(Picture, expected, kFullStrength));
  int writers = 0;
  for (const auto& save : saves) {
    SCOPED_TRACE(save.Typed);
    Seams.Answers.push_back(std::nullopt);
    TMainFormTestAccess::SaveDialog1(*Form).SetFilterIndex(save.Entry);
    QTest::mouseClick(Layout->SavePatternDither16, Qt::LeftButton);
    if (save.Entry == 3) {
      EXPECT_EQ(Seams.OfferedNames.back(), Dir.filePath(QStringLiteral("photo-pattern16.tstpic")));
    }
    Save(Layout->SavePatternDither16, save.Entry, Dir.filePath(save.Typed));
    ASSERT_TRUE(Seams.Boxes.empty());
    EXPECT_EQ(test::TestFormatLog().BandWriters, ++writers);
    EXPECT_EQ(test::TestFormatLog().Path, Dir.filePath(save.Written).toStdString());
    TBitmap back;
    back.ReadBitmapFile(Dir.filePath(save.Written).toStdString());
    EXPECT_EQ(PixelsOf(back), PixelsOf(expected));
  }

  // A deep filter's grey output tells the writer its levels, for a format that stores grey.
  Layout->LevelsEdit->setValue(4);
  Layout->GreyCheck->setChecked(true);
  Save(Layout->SaveDiffusion, 1, Dir.filePath("grey.tstpic"));
  ASSERT_TRUE(Seams.Boxes.empty());
  EXPECT_EQ(test::TestFormatLog().BandWriters, ++writers);
  EXPECT_EQ(test::TestFormatLog().Path, Dir.filePath("grey.tstpic").toStdString());
  EXPECT_EQ(test::TestFormatLog().Options.GreyLevels, 4);
  TDeepPicture deep;
  deep.Width = Picture.Width();
  deep.Height = Picture.Height();
  for (std::int32_t y = 0; y < deep.Height; ++y)
    for (std::int32_t i = 0; i < 3 * deep.Width; ++i)
      deep.Samples.push_back(static_cast<std::uint16_t>(Picture.ConstRowAddress(y)[i] * 257));
  ASSERT_TRUE(FilterDeepPicture(TFilterId::Diffusion, deep, expected, {4, true}));
  TBitmap grey;
  grey.ReadBitmapFile(Dir.filePath("grey.tstpic").toStdString());
  EXPECT_EQ(PixelsOf(grey), PixelsOf(expected));
}

TEST_F(FormatRowSaveTest, AFormatKeepingNoAlphaAsksAndOffersTheFirstThatKeepsIt) {
  const std::vector<std::uint8_t> alpha = OpenTransparent();
  Seams.ButtonAnswers = {0};
  Save(Layout->SavePatternDither4, 3, Dir.filePath("logo4.tstpic"));
  ASSERT_EQ(Seams.Questions.size(), 1u);
  EXPECT_TRUE(Seams.Questions[0].Request.Text.contains(QStringLiteral("PNG 形式 (logo4.png)")));
  EXPECT_EQ(Seams.Questions[0].Buttons.value(0), QString::fromUtf8("PNG で保存"));
  EXPECT_EQ(test::TestFormatLog().BandWriters, 0);
  EXPECT_FALSE(QFile::exists(Dir.filePath("logo4.tstpic")));
  const std::string png = Dir.filePath("logo4.png").toStdString();
  EXPECT_EQ(PictureKindOfFile(png), TPictureKind::Png);
  TBitmap back;
  TPictureExtras backExtras;
  ReadPicture(png, back, backExtras);
  EXPECT_EQ(backExtras.Alpha, alpha);
}

class AlphaKeepingFormatRowSaveTest : public FormatRowSaveTest {
 protected:
  bool RowKeepsAlpha() const override { return true; }
};

TEST_F(AlphaKeepingFormatRowSaveTest, AFormatKeepingAlphaAsksNothingAndIsHandedThePlane) {
  const std::vector<std::uint8_t> alpha = OpenTransparent();
  Save(Layout->SavePatternDither4, 3, Dir.filePath("logo4"));
  EXPECT_TRUE(Seams.Questions.empty());
  EXPECT_TRUE(Seams.Boxes.empty());
  EXPECT_EQ(test::TestFormatLog().BandWriters, 1);
  EXPECT_EQ(test::TestFormatLog().AlphaBytes, alpha.size());
  EXPECT_TRUE(QFile::exists(Dir.filePath("logo4.tstpic")));
}

}  // namespace
}  // namespace penamo
