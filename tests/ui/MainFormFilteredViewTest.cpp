// The full view through a filter: its pixels are the saved file's for every filter and setting,
// a change while it works starts it again without leaving rows of the work before, the flip
// shows the unfiltered picture in place, and the keyboard moves the sample in the previews and the
// full view.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QSpinBox>
#include <QTest>
#include <QToolTip>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "MainForm.h"
#include "MainFormAccess.h"
#include "MainFormFixture.h"
#include "WindowTestSupport.h"

namespace penamo {
namespace {

using testing::CopyPart;
using testing::MakeTestPicture;
using testing::PixelsOf;

class MainFormFilteredViewTest : public testing::TMainFormFixture {
 protected:
  void SetUp() override { SetUpActive(730); }

  // Waits, the event loop running, until the filtered full view is complete.
  void WaitForFilteredView() {
    ASSERT_TRUE(QTest::qWaitFor([&] { return Form->FilteredViewComplete(); }, 60000));
  }

  // The bytes SaveFile writes for filter at the settings in force, as the picture's pixels.
  std::vector<std::uint8_t> SavedPixels(TFilterId filter) {
    const QString path = Dir.filePath(QStringLiteral("saved.bmp"));
    Form->SaveFile(filter, path);
    TBitmap saved;
    saved.ReadBitmapFile(path.toStdString());
    return PixelsOf(saved);
  }

  TImage& Filtered() { return *Form->findChild<TImage*>(QStringLiteral("FilteredImage")); }
};

// One row of the table: a filter and the settings in force when it is chosen.
struct TViewCase {
  TFilterId Filter;
  int Strength;
  int Levels;
  bool Grey;
};

class FilteredViewEqualsSaveTest : public MainFormFilteredViewTest,
                                   public ::testing::WithParamInterface<TViewCase> {};

TEST_P(FilteredViewEqualsSaveTest, TheFullViewShowsTheSavedFilesPixels) {
  const TViewCase& param = GetParam();
  // Wide and tall enough for several bands and for the diffusions to share rows between cores.
  Open(WritePicture("picture.bmp", 1100, 700));
  Form->SetStrength(param.Strength);
  Layout->LevelsEdit->setValue(param.Levels);
  Layout->GreyCheck->setChecked(param.Grey);
  Form->SetViewFilter(param.Filter);
  EXPECT_TRUE(Layout->FrameSpeedButton1->Down()) << "choosing a filter shows the full view";
  WaitForFilteredView();
  const std::vector<std::uint8_t> shown = PixelsOf(Form->FilteredPicture());
  const std::vector<std::uint8_t> saved = SavedPixels(param.Filter);
  ASSERT_EQ(shown.size(), saved.size());
  EXPECT_TRUE(shown == saved) << "the full view is not the saved file";
  // A deep filter at 256 levels in colour gives an 8-bit picture back as it is.
  if (!FilterEntry(param.Filter).TakesLevels || param.Levels < 256 || param.Grey) {
    EXPECT_NE(shown, PixelsOf(Form->Bitmap()));
  }

  // On screen: every pixel below the sample's frame is the filtered picture's.
  QApplication::processEvents();
  const QImage shot = Layout->SampleImage->grab(QRect(0, 140, 400, 160)).toImage();
  const TBitmap& picture = Form->FilteredPicture();
  for (int y = 0; y < shot.height(); ++y) {
    const std::uint8_t* row = picture.ConstRowAddress(140 + y);
    for (int x = 0; x < shot.width(); ++x)
      ASSERT_EQ(shot.pixel(x, y) | 0xFF000000u, qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]))
          << x << ", " << 140 + y;
  }
}

INSTANTIATE_TEST_SUITE_P(EveryFilter, FilteredViewEqualsSaveTest,
                         ::testing::Values(TViewCase{TFilterId::PatternDither4, 100, 256, false},
                                           TViewCase{TFilterId::PatternDither16, 40, 256, false},
                                           TViewCase{TFilterId::DiffError64, 100, 256, false},
                                           TViewCase{TFilterId::DiffError32, 37, 256, false},
                                           TViewCase{TFilterId::DiffError16, 0, 256, false},
                                           TViewCase{TFilterId::DiffError16, 73, 256, false},
                                           TViewCase{TFilterId::Diffusion, 100, 256, false},
                                           TViewCase{TFilterId::Diffusion, 100, 6, true},
                                           TViewCase{TFilterId::Ordered, 100, 16, false},
                                           TViewCase{TFilterId::Ordered, 100, 3, true}));

TEST_F(MainFormFilteredViewTest, AChangeWhileItWorksStartsAgainAndLeavesNoRowOfTheWorkBefore) {
  Open(WritePicture("large.bmp", 4000, 3000));
  // The slowest filter first, so that the change comes while it works.
  Form->SetViewFilter(TFilterId::Diffusion);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form->FilteredRows() > 0; }, 60000));
  EXPECT_FALSE(Form->FilteredViewComplete()) << "the change was to come mid-way";
  EXPECT_TRUE(Filtered().isVisible());
  EXPECT_EQ(Filtered().height(), Form->FilteredRows());

  // Another filter: the rows done so far go out of sight at once.
  Form->SetViewFilter(TFilterId::DiffError16);
  EXPECT_EQ(Form->FilteredRows(), 0);
  EXPECT_FALSE(Filtered().isVisible());
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form->FilteredRows() > 0; }, 60000));
  // And a setting the filter takes, while that works.
  Form->SetStrength(45);
  EXPECT_EQ(Form->FilteredRows(), 0);
  WaitForFilteredView();
  EXPECT_TRUE(PixelsOf(Form->FilteredPicture()) == SavedPixels(TFilterId::DiffError16));
  EXPECT_EQ(Filtered().height(), 3000);

  // A setting the filter does not take leaves the finished picture as it is.
  Layout->LevelsEdit->setValue(7);
  EXPECT_TRUE(Form->FilteredViewComplete());

  // The deep options reach the deep filters' full view, and another picture starts it again.
  Form->SetViewFilter(TFilterId::Ordered);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form->FilteredRows() > 0; }, 60000));
  Layout->GreyCheck->setChecked(true);
  Open(WritePicture("other.bmp", 900, 650));
  WaitForFilteredView();
  EXPECT_EQ(Form->FilteredPicture().Width(), 900);
  EXPECT_TRUE(PixelsOf(Form->FilteredPicture()) == SavedPixels(TFilterId::Ordered));

  // The unfiltered picture again: nothing filtered is kept or shown.
  Form->SetViewFilter(std::nullopt);
  EXPECT_FALSE(Filtered().isVisible());
  EXPECT_TRUE(Form->FilteredPicture().Empty());
}

TEST_F(MainFormFilteredViewTest, TheToolbarListAndAGroupsTitleChooseWhatTheFullViewShows) {
  Open(WritePicture("picture.bmp", 400, 300));
  auto* box = Form->findChild<TChoiceBox*>(QStringLiteral("ViewBox"));
  ASSERT_NE(box, nullptr);
  EXPECT_FALSE(box->Hint().isEmpty());
  ASSERT_EQ(box->count(), 8);
  EXPECT_EQ(box->itemText(0), QStringLiteral("原画"));
  for (int i = 0; i < 7; ++i)
    EXPECT_EQ(box->itemText(i + 1).toStdString(),
              FilterTable()[static_cast<std::size_t>(i)].Caption);
  box->setCurrentIndex(5);
  emit box->activated(5);
  EXPECT_EQ(Form->ViewFilter(), TFilterId::DiffError16);
  EXPECT_TRUE(Layout->FrameSpeedButton1->Down());

  // Back to the samples, then a click on the title of the 64-level group.
  QTest::mouseClick(Layout->FrameSpeedButton2, Qt::LeftButton);
  QTest::mouseClick(Layout->GroupBox6, Qt::LeftButton, {}, QPoint(30, 6));
  EXPECT_EQ(Form->ViewFilter(), TFilterId::DiffError64);
  EXPECT_EQ(box->ItemIndex(), 3);
  EXPECT_TRUE(Layout->FrameSpeedButton1->Down());
  // A click on a group's preview is no choice.
  QTest::mouseClick(Layout->FrameSpeedButton2, Qt::LeftButton);
  QTest::mouseClick(Layout->DiffError16, Qt::LeftButton, {}, QPoint(30, 30));
  EXPECT_EQ(Form->ViewFilter(), TFilterId::DiffError64);
  EXPECT_TRUE(Layout->FrameSpeedButton2->Down());

  // The title says what a click on it does; the preview below it does not.
  const auto hintAt = [](QWidget* widget, QPoint point) {
    // A hidden hint fades out over a moment before it is gone.
    QToolTip::hideText();
    for (int wait = 0; wait < 100 && QToolTip::isVisible(); ++wait)
      QTest::qWait(20);
    QHelpEvent help(QEvent::ToolTip, point, widget->mapToGlobal(point));
    QApplication::sendEvent(widget, &help);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
  };
  EXPECT_EQ(hintAt(Layout->GroupBox6, QPoint(30, 6)), GroupTitleHint());
  const QPoint belowTitle = Layout->DiffError64->mapTo(Layout->GroupBox6, QPoint(10, 10));
  EXPECT_NE(hintAt(Layout->GroupBox6, belowTitle), GroupTitleHint());
  QToolTip::hideText();
}

TEST_F(MainFormFilteredViewTest, TheFlipShowsTheOriginalInPlaceKeepingScrollZoomAndFrame) {
  const QString path = WritePicture("picture.bmp", 1500, 1200);
  Open(path);
  Form->SetViewFilter(TFilterId::PatternDither16);
  WaitForFilteredView();
  Form->SetZoom(2);
  Layout->ScrollBox->HorzScrollBar().SetPosition(700);
  Layout->ScrollBox->VertScrollBar().SetPosition(500);
  QTest::mouseClick(Layout->SampleImage, Qt::LeftButton, {}, QPoint(800, 600));
  const QRect frame = Layout->SampleImage->MarkedRect();
  ASSERT_EQ(frame, QRect(400, 300, 64, 64));
  QApplication::processEvents();

  TBitmap original;
  original.ReadBitmapFile(path.toStdString());
  // The picture pixel at (px, py) as the full view shows it now.
  const auto shownAt = [&](int px, int py) {
    const QPoint at = Layout->SampleImage->mapTo(Layout->ScrollBox->Client(), QPoint(px, py) * 2);
    return Layout->ScrollBox->Client()->grab(QRect(at, QSize(1, 1))).toImage().pixel(0, 0) |
           0xFF000000u;
  };
  const auto pixelOf = [](const TBitmap& picture, int x, int y) {
    const std::uint8_t* row = picture.ConstRowAddress(y);
    return qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
  };
  const auto expectKept = [&] {
    EXPECT_EQ(Form->Zoom(), 2);
    EXPECT_EQ(Layout->ScrollBox->HorzScrollBar().Position(), 700);
    EXPECT_EQ(Layout->ScrollBox->VertScrollBar().Position(), 500);
    EXPECT_EQ(Layout->SampleImage->MarkedRect(), frame);
    EXPECT_EQ(shownAt(400, 330), TImage::MarkOuterColor()) << "the frame stays drawn";
  };
  const auto expectShows = [&](const TBitmap& picture) {
    for (const QPoint at : {QPoint(380, 260), QPoint(500, 400), QPoint(451, 377)})
      EXPECT_EQ(shownAt(at.x(), at.y()), pixelOf(picture, at.x(), at.y()))
          << at.x() << ", " << at.y();
  };
  expectShows(Form->FilteredPicture());

  // Held, the key shows the unfiltered picture; let go, the filtered picture again.
  Layout->ScrollBox->setFocus(Qt::TabFocusReason);
  QTest::keyPress(Layout->ScrollBox, TMainForm::FlipKey);
  QKeyEvent repeat(QEvent::KeyPress, TMainForm::FlipKey, Qt::NoModifier, QStringLiteral("o"),
                   true);  // as a held key repeats
  QApplication::sendEvent(Layout->ScrollBox, &repeat);
  EXPECT_FALSE(Form->FilteredPictureShown());
  expectShows(original);
  expectKept();
  QTest::keyRelease(Layout->ScrollBox, TMainForm::FlipKey);
  EXPECT_TRUE(Form->FilteredPictureShown());
  expectShows(Form->FilteredPicture());
  expectKept();

  // For good: the shortcut and the button, which shows it in its hint.
  auto* flip = Form->findChild<TFrameSpeedButton*>(QStringLiteral("FlipButton"));
  ASSERT_NE(flip, nullptr);
  EXPECT_EQ(flip->HintShortcut(), QStringLiteral("Shift+O"));
  EXPECT_TRUE(flip->Hint().contains(QStringLiteral("O キー")));
  Key(Qt::Key_O, Qt::ShiftModifier);
  EXPECT_TRUE(Form->ShowsOriginal());
  EXPECT_TRUE(flip->Down());
  expectShows(original);
  expectKept();
  QTest::mouseClick(flip, Qt::LeftButton);
  EXPECT_FALSE(Form->ShowsOriginal());
  expectShows(Form->FilteredPicture());
  expectKept();
  QTest::mouseClick(flip, Qt::LeftButton);
  EXPECT_TRUE(Form->ShowsOriginal());
  expectShows(original);
  // The zoom changed while the unfiltered picture shows: back to the filtered picture at the new
  // zoom.
  Form->SetZoom(1);
  Key(Qt::Key_O, Qt::ShiftModifier);
  EXPECT_EQ(Filtered().size(), QSize(1500, 1200));
}

TEST_F(MainFormFilteredViewTest, ArrowKeysMoveTheSampleAndThePreviewsFollowUpToThePicturesEdges) {
  const QString path = WritePicture("picture.bmp", 300, 200);
  Open(path);
  TBitmap picture;
  picture.ReadBitmapFile(path.toStdString());
  const auto expectSampleAt = [&](int x, int y, int side) {
    EXPECT_EQ(Form->SampleOrigin(), (TPoint{x, y}));
    TBitmap sample;
    CopyPart(picture, x, y, std::min(side, 300 - x), std::min(side, 200 - y), sample);
    ASSERT_NE(Layout->SourceImage->Picture().Bitmap(), nullptr);
    EXPECT_EQ(PixelsOf(*Layout->SourceImage->Picture().Bitmap()), PixelsOf(sample));
  };
  // From a button that has the focus, in the previews.
  Layout->SaveDiffError32->setFocus(Qt::TabFocusReason);
  const struct {
    int Key;
    Qt::KeyboardModifiers Modifiers;
    int X, Y;
  } steps[] = {{Qt::Key_Right, Qt::NoModifier, 8, 0},
               {Qt::Key_Down, Qt::NoModifier, 8, 8},
               {Qt::Key_Right, Qt::ShiftModifier, 136, 8},
               {Qt::Key_Right, Qt::NoModifier, 144, 8},
               // The whole sample still fits up to 300 - 128 = 172, and stops there.
               {Qt::Key_Right, Qt::ShiftModifier, 172, 8},
               {Qt::Key_Right, Qt::NoModifier, 172, 8},
               {Qt::Key_Down, Qt::ShiftModifier, 172, 72},
               {Qt::Key_Down, Qt::NoModifier, 172, 72},
               {Qt::Key_Up, Qt::NoModifier, 172, 64},
               {Qt::Key_Left, Qt::ShiftModifier, 44, 64},
               {Qt::Key_Left, Qt::ShiftModifier, 0, 64},
               {Qt::Key_Up, Qt::ShiftModifier, 0, 0},
               {Qt::Key_Up, Qt::NoModifier, 0, 0}};
  for (const auto& step : steps) {
    SCOPED_TRACE(step.Key);
    Key(step.Key, step.Modifiers);
    expectSampleAt(step.X, step.Y, 128);
  }
  // A click may put the sample nearer the edge than that; an arrow then goes no further out.
  QTest::mouseClick(Layout->FrameSpeedButton1, Qt::LeftButton);
  QTest::mouseClick(Layout->SampleImage, Qt::LeftButton, {}, QPoint(290, 190));
  Key(Qt::Key_Right);
  expectSampleAt(290, 190, 128);
  Key(Qt::Key_Left);
  expectSampleAt(282, 190, 128);
  // At 4x a whole sample is 32 pixels.
  Form->SetZoom(4);
  Key(Qt::Key_Left, Qt::ShiftModifier);
  expectSampleAt(250, 190, 32);
  Key(Qt::Key_Up, Qt::ShiftModifier);
  expectSampleAt(250, 158, 32);
}

TEST_F(MainFormFilteredViewTest, TabReachesTheFullViewWhichShowsItsFocusMovesTheFrameAndScrolls) {
  Open(WritePicture("picture.bmp", 2000, 1500));
  QTest::mouseClick(Layout->FrameSpeedButton1, Qt::LeftButton);
  TScrollBox& box = *Layout->ScrollBox;
  const QImage idle = box.grab().toImage();
  Layout->EditButton->setFocus(Qt::TabFocusReason);
  Key(Qt::Key_Tab);
  ASSERT_EQ(QApplication::focusWidget(), &box);
  QApplication::processEvents();
  const QImage focused = box.grab().toImage();
  const QRgb highlight = box.palette().color(QPalette::Highlight).rgb();
  EXPECT_EQ(focused.pixel(0, box.height() / 2) | 0xFF000000u, highlight | 0xFF000000u);
  EXPECT_EQ(focused.pixel(box.width() / 2, 1) | 0xFF000000u, highlight | 0xFF000000u);
  EXPECT_NE(idle.pixel(0, box.height() / 2) | 0xFF000000u, highlight | 0xFF000000u);

  // The arrows move the frame, and the view follows it.
  for (int i = 0; i < 100; ++i)
    Key(Qt::Key_Down, Qt::ShiftModifier);
  EXPECT_EQ(Form->SampleOrigin(), (TPoint{0, 1500 - 128}));
  EXPECT_EQ(box.VertScrollBar().Position(), box.VertScrollBar().MaxPosition());
  Key(Qt::Key_Right);
  EXPECT_EQ(Layout->SampleImage->MarkedRect(), QRect(8, 1372, 128, 128));

  // Page Up and Down, Home and End scroll; with Shift across.
  box.VertScrollBar().SetPosition(0);
  Key(Qt::Key_PageDown);
  EXPECT_EQ(box.VertScrollBar().Position(), box.Client()->height());
  Key(Qt::Key_PageDown);
  Key(Qt::Key_PageUp);
  EXPECT_EQ(box.VertScrollBar().Position(), box.Client()->height());
  Key(Qt::Key_End);
  EXPECT_EQ(box.VertScrollBar().Position(), box.VertScrollBar().MaxPosition());
  Key(Qt::Key_Home);
  EXPECT_EQ(box.VertScrollBar().Position(), 0);
  Key(Qt::Key_End, Qt::ShiftModifier);
  EXPECT_EQ(box.HorzScrollBar().Position(), box.HorzScrollBar().MaxPosition());
  Key(Qt::Key_PageUp, Qt::ShiftModifier);
  EXPECT_EQ(box.HorzScrollBar().Position(),
            box.HorzScrollBar().MaxPosition() - box.Client()->width());
  EXPECT_EQ(Form->SampleOrigin(), (TPoint{8, 1500 - 128})) << "scrolling leaves the sample";
  // A click in the full view gives it the focus.
  Layout->OpenBuuton->setFocus(Qt::TabFocusReason);
  const QPoint inSight(box.HorzScrollBar().Position() + 10, box.VertScrollBar().Position() + 10);
  QTest::mouseClick(Layout->SampleImage, Qt::LeftButton, {}, inSight);
  EXPECT_EQ(QApplication::focusWidget(), &box);
  EXPECT_EQ(Form->SampleOrigin(), (TPoint{inSight.x(), inSight.y()}));
}

}  // namespace
}  // namespace penamo

namespace penamo {
namespace {

// The address space the process holds now, in bytes (0 when it cannot be told).
std::uint64_t AddressSpaceNow() {
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

// Opens path in a new window, caps the address space `room` bytes above what the process then
// holds, chooses a filter for the full view, says what the window then shows, and ends.
[[noreturn]] void FilterUnderAddressSpaceCap(const QString& path, std::uint64_t room) {
  testing::TDialogSeams seams;
  TFormPtr<TMainForm> form = MakeForm<TMainForm>();
  form->show();
  form->OpenFile(path);
  const rlimit limit{AddressSpaceNow() + room, RLIM_INFINITY};
  ::setrlimit(RLIMIT_AS, &limit);
  form->SetViewFilter(TFilterId::DiffError16);
  const bool ended =
      QTest::qWaitFor([&] { return !seams.Boxes.empty() || form->FilteredViewComplete(); }, 20000);
  const bool told = seams.Boxes.size() == 1 &&
                    seams.Boxes[0].Text.startsWith(QString::fromUtf8("メモリが足りない"));
  const auto* samples = form->findChild<TFrameSpeedButton*>(QStringLiteral("FrameSpeedButton2"));
  std::fprintf(stderr, "%s%s, %s, %s\n", ended ? "" : "never ended, ", told ? "told" : "not told",
               form->ViewFilter() ? "filtered" : "original",
               samples != nullptr && samples->Down() ? "samples" : "full view");
  std::exit(0);
}

// Room for a thread and some working space, not for a second copy of the picture.
TEST(MainFormFilteredViewMemory, APictureTooLargeToHoldTwiceSaysSoAndKeepsToTheSamples) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers' shadow memory does not live under an address-space cap";
#endif
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  TBitmap picture;
  MakeTestPicture(picture, 4000, 3000);
  const QString path = dir.filePath("large.bmp");
  picture.WriteBitmapFile(path.toStdString());
  EXPECT_EXIT(FilterUnderAddressSpaceCap(path, 24ull << 20), ::testing::ExitedWithCode(0),
              "told, original, samples");
}

// A click on a group's title chooses the filter and nothing more: the full view that then shows
// under the pointer does not take the click's release as a click of its own, which would move the
// sample there.
TEST_F(MainFormFilteredViewTest, AClickOnAGroupsTitleLeavesTheSampleWhereItWas) {
  Open(WritePicture("picture.bmp", 1200, 900));
  Form->MoveSample(40, 24);
  const TPoint before = Form->SampleOrigin();
  QTest::mouseClick(Layout->GroupBox4, Qt::LeftButton, {}, QPoint(30, 6));
  EXPECT_EQ(Form->ViewFilter(), TFilterId::DiffError16);
  EXPECT_TRUE(Layout->SampleImage->isVisible());
  EXPECT_EQ(Form->SampleOrigin().X, before.X);
  EXPECT_EQ(Form->SampleOrigin().Y, before.Y);
}

}  // namespace
}  // namespace penamo
