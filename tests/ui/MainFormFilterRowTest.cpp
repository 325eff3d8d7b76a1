// A filter joins the window by one row of the filter table: a row added for the test alone (a
// 128-level error diffusion) gets a group among the samples with its title, hint and key, a
// preview of its own, a place in the full view's list and a save, while the layout's seven
// groups stand where they always stood.
#include <gtest/gtest.h>

#include <QGroupBox>
#include <QTest>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <vector>

#include "BandFilter.h"
#include "BandWriter.h"
#include "ChoiceBox.h"
#include "MainForm.h"
#include "MainFormAccess.h"
#include "MainFormFixture.h"
#include "RowSource.h"
#include "WindowTestSupport.h"

namespace penamo {
namespace {

using testing::PixelsOf;

constexpr auto kTestFilter = static_cast<TFilterId>(7);

// The rows of a band filter into a picture held in memory.
class TPictureWriter final : public TBandWriter {
 public:
  explicit TPictureWriter(TBitmap& picture) : FPicture(picture) {}
  void WriteBand(std::int32_t first, std::int32_t count, const std::uint8_t* rows,
                 std::size_t stride) override {
    for (std::int32_t i = 0; i < count; ++i)
      std::memcpy(FPicture.RowAddress(first + i), rows + static_cast<std::size_t>(i) * stride,
                  3 * static_cast<std::size_t>(FPicture.Width()));
  }
  void Commit() override {}

 private:
  TBitmap& FPicture;
};

// The test row's whole-picture run: its own row through the band filter, as a save runs it.
bool RunTestFilter(TBitmap& Src, TBitmap& Dst, std::uint8_t Strength) {
  TBitmapRows rows(Src);
  Dst.SetImageFormat(TPixelFormat::pf24bit);
  Dst.SetWidth(rows.Width());
  Dst.SetHeight(rows.Height());
  TPictureWriter writer(Dst);
  return FilterInBands(&FilterEntry(kTestFilter), Strength, rows, writer);
}

const TFilterEntry kTestRow = {kTestFilter,
                               "diffusion128",
                               "128レベル誤差拡散",
                               "ビットマップを128レベル誤差拡散フィルターをかけ出力する",
                               TFilterKernel::ErrorDiffusion,
                               128,
                               true,
                               false,
                               RunTestFilter,
                               TFilterColumn::Samples,
                               8,
                               "DiffError128"};

class MainFormFilterRowTest : public testing::TMainFormFixture {
 protected:
  void SetUp() override {
    FRow.emplace(kTestRow);
    SetUpActive(900);
  }
  // The window goes before the row it shows.
  void TearDown() override {
    Form.reset();
    FRow.reset();
  }

  std::optional<TExtraFilterRowScope> FRow;
};

TEST_F(MainFormFilterRowTest, ATestRowGetsAGroupWithItsTitleHintAndKey) {
  const TMainFormTestAccess::TGroup row = TMainFormTestAccess::GroupOf(*Form, kTestFilter);
  ASSERT_NE(row.Group, nullptr);
  ASSERT_NE(row.Preview, nullptr);
  ASSERT_NE(row.Save, nullptr);
  EXPECT_EQ(row.Group->title(), QString::fromUtf8("128レベル誤差拡散"));
  EXPECT_EQ(row.Save->Hint(),
            QString::fromUtf8("ビットマップを128レベル誤差拡散フィルターをかけ出力する"));
  EXPECT_EQ(row.Save->HintShortcut(),
            QKeySequence(Qt::CTRL | Qt::Key_8).toString(QKeySequence::NativeText));
  // Among the sample groups, under the first of them, as large as the layout's.
  EXPECT_EQ(row.Group->parentWidget(), Layout->SamplePanel);
  EXPECT_EQ(row.Group->size(), Layout->GroupBox1->size());
  EXPECT_EQ(row.Group->x(), Layout->GroupBox5->x());
  EXPECT_EQ(row.Group->y(),
            Layout->GroupBox1->y() + 2 * (Layout->GroupBox4->y() - Layout->GroupBox1->y()));
  EXPECT_GE(Layout->SamplePanel->height(), row.Group->geometry().bottom() + 1);
  EXPECT_EQ(row.Preview->geometry(), Layout->PatternDither4->geometry());
  EXPECT_EQ(row.Save->geometry(), Layout->SavePatternDither4->geometry());

  // The layout's seven keep their places, titles and keys.
  const std::pair<QGroupBox*, QRect> layoutGroups[] = {
      {Layout->GroupBox1, QRect(168, 8, 145, 193)},
      {Layout->GroupBox2, QRect(328, 8, 145, 193)},
      {Layout->GroupBox6, QRect(8, 208, 145, 193)},
      {Layout->GroupBox3, QRect(168, 208, 145, 193)},
      {Layout->GroupBox4, QRect(328, 208, 145, 193)},
      {Layout->GroupBox7, QRect(8, 8, 145, 193)},
      {Layout->GroupBox8, QRect(8, 208, 145, 193)}};
  for (std::size_t i = 0; i < std::size(layoutGroups); ++i) {
    EXPECT_EQ(layoutGroups[i].first->geometry(), layoutGroups[i].second) << i;
    EXPECT_EQ(layoutGroups[i].first->title().toStdString(), FilterTable()[i].Caption) << i;
  }
  EXPECT_EQ(Layout->SaveOrdered->HintShortcut(),
            QKeySequence(Qt::CTRL | Qt::Key_7).toString(QKeySequence::NativeText));
}

TEST_F(MainFormFilterRowTest, ATestRowsPreviewIsItsOwnFilters) {
  Open(WritePicture("picture.bmp", 300, 200));
  const TMainFormTestAccess::TGroup row = TMainFormTestAccess::GroupOf(*Form, kTestFilter);
  ASSERT_NE(row.Preview->Picture().Bitmap(), nullptr);
  TBitmap sample;
  sample.ShareFrom(Layout->SourceImage->Picture().Bitmap());
  TBitmap expected;
  ASSERT_TRUE(RunTestFilter(sample, expected, kFullStrength));
  EXPECT_EQ(PixelsOf(*row.Preview->Picture().Bitmap()), PixelsOf(expected));
  EXPECT_NE(PixelsOf(*row.Preview->Picture().Bitmap()),
            PixelsOf(*Layout->DiffError64->Picture().Bitmap()));
}

TEST_F(MainFormFilterRowTest, ATestRowIsInTheFullViewsListAndItsViewIsItsSave) {
  Open(WritePicture("picture.bmp", 500, 300));
  auto* box = Form->findChild<TChoiceBox*>(QStringLiteral("ViewBox"));
  ASSERT_NE(box, nullptr);
  ASSERT_EQ(box->count(), 9);
  EXPECT_EQ(box->itemText(8), QString::fromUtf8("128レベル誤差拡散"));
  box->setCurrentIndex(8);
  emit box->activated(8);
  EXPECT_EQ(Form->ViewFilter(), kTestFilter);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form->FilteredViewComplete(); }, 60000));
  const std::vector<std::uint8_t> shown = PixelsOf(Form->FilteredPicture());

  // Its key opens the save dialog with the row's name offered, and the file holds the view.
  const QString path = Dir.filePath(QStringLiteral("picture-diffusion128.bmp"));
  Seams.Answer(path);
  const int dialogs = Seams.DialogsShown;
  QTest::keyClick(Form.get(), Qt::Key_8, Qt::ControlModifier);
  ASSERT_EQ(Seams.DialogsShown, dialogs + 1);
  ASSERT_FALSE(Seams.OfferedNames.empty());
  EXPECT_EQ(Seams.OfferedNames.back(), path);
  TBitmap saved;
  saved.ReadBitmapFile(path.toStdString());
  EXPECT_EQ(PixelsOf(saved), shown);

  // Its save button does the same.
  const QString second = Dir.filePath(QStringLiteral("again.bmp"));
  Seams.Answer(second);
  QTest::mouseClick(TMainFormTestAccess::GroupOf(*Form, kTestFilter).Save, Qt::LeftButton);
  TBitmap again;
  again.ReadBitmapFile(second.toStdString());
  EXPECT_EQ(PixelsOf(again), shown);
  // And it is not the 64-level filter's picture.
  Form->SetViewFilter(TFilterId::DiffError64);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form->FilteredViewComplete(); }, 60000));
  EXPECT_NE(PixelsOf(Form->FilteredPicture()), shown);
}

// Without the scope, the shipped table and the window hold the seven alone.
TEST(FilterRowScope, TheShippedTableHoldsNoTestRow) {
  EXPECT_EQ(FilterTable().size(), 7u);
  EXPECT_EQ(FindFilter("diffusion128"), nullptr);
  {
    const TExtraFilterRowScope scope(kTestRow);
    EXPECT_EQ(FilterTable().size(), 8u);
    EXPECT_EQ(FindFilter("diffusion128"), &FilterEntry(kTestFilter));
  }
  EXPECT_EQ(FilterTable().size(), 7u);
  EXPECT_EQ(FindFilter("diffusion128"), nullptr);
  // A diffusion to levels further apart than the band filter's error tables reach (8 levels,
  // 32 apart) is no row the filters can run.
  TFilterEntry coarse = kTestRow;
  coarse.Levels = 8;
  EXPECT_THROW(TExtraFilterRowScope scope(coarse), std::logic_error);
  EXPECT_EQ(FilterTable().size(), 7u);
}

}  // namespace
}  // namespace penamo
