#include <gtest/gtest.h>

#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <ostream>

#include "Image.h"
#include "ImageTestSupport.h"
#include "ScrollBox.h"
#include "SpeedButton.h"

namespace penamo {
namespace {

using namespace penamo::testing;

QRgb Pattern(int x, int y) {
  return qRgb(x % 256, y % 256, (x / 256 * 64 + y / 256 * 16) % 256);
}

struct MouseUp {
  TMouseButton Button;
  TShiftState Shift;
  int X;
  int Y;
};

// The box's client area with no bar showing.
constexpr int W = 200;
constexpr int H = 150;

// A box whose client area is W x H with no bar showing, placed away from the window's
// left edge so that the pointer can be dragged out of it.
class ScrollBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host = MakeHost(320, 240);
    box = new TScrollBox(host.get());
    box->setGeometry(40, 10, 204, 154);
    box->SetColor(clBackground);
    image = new TImage(box->Client());
    image->SetAutoSize(true);
    image->OnMouseUp = [this](TImage&, TMouseButton button, TShiftState shift, int x, int y) {
      ups.push_back({button, shift, x, y});
    };
    ShowAndWait(host.get());
    bar =
        box->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &box->VertScrollBar().Bar());
  }

  void Load(int width, int height) {
    image->Picture().Assign(MakeBitmap(width, height, Pattern).get());
  }
  TControlScrollBar& Horz() { return box->HorzScrollBar(); }
  TControlScrollBar& Vert() { return box->VertScrollBar(); }

  std::unique_ptr<QWidget> host;
  TScrollBox* box = nullptr;
  TImage* image = nullptr;
  std::vector<MouseUp> ups;
  int bar = 0;
};

TEST_F(ScrollBoxTest, NewBoxIs185By41WithASunkenBorder) {
  TScrollBox fresh;
  EXPECT_EQ(fresh.size(), QSize(185, 41));
  EXPECT_EQ(fresh.BorderStyle(), TBorderStyle::bsSingle);
  EXPECT_TRUE(fresh.AutoScroll());
  EXPECT_EQ(fresh.HorzScrollBar().Increment(), 8);
  EXPECT_FALSE(fresh.HorzScrollBar().Tracking());
  ASSERT_EQ(box->Client()->geometry(), QRect(2, 2, W, H)) << "the box's client area";
}

TEST_F(ScrollBoxTest, SmallerPictureSitsTopLeftOverTheBackgroundWithoutBars) {
  Load(100, 60);
  EXPECT_FALSE(Horz().IsScrollBarVisible());
  EXPECT_FALSE(Vert().IsScrollBarVisible());
  EXPECT_EQ(Horz().Range(), 100);
  EXPECT_EQ(Vert().Range(), 60);
  EXPECT_EQ(PixelOf(box->Client(), QPoint(99, 59)), Pattern(99, 59));
  EXPECT_EQ(PixelOf(box->Client(), QPoint(100, 30)), Rgb(clBackground));
  EXPECT_EQ(PixelOf(box->Client(), QPoint(199, 149)), Rgb(clBackground));
}

// A picture size, each side either in pixels or, where marked, counted from the client length
// left beside (or above) a bar, plus the bars that are to show.
struct BarCase {
  int Width;
  bool WidthBesideBar;
  int Height;
  bool HeightAboveBar;
  bool Horizontal;
  bool Vertical;
};

void PrintTo(const BarCase& c, std::ostream* os) {
  *os << (c.WidthBesideBar ? "W - bar + " : "") << c.Width << " x "
      << (c.HeightAboveBar ? "H - bar + " : "") << c.Height;
}

class ScrollBoxBarsTest : public ScrollBoxTest, public ::testing::WithParamInterface<BarCase> {};

TEST_P(ScrollBoxBarsTest, BarsShowByTheRangeRules) {
  const BarCase c = GetParam();
  const int width = c.WidthBesideBar ? W - bar + c.Width : c.Width;
  const int height = c.HeightAboveBar ? H - bar + c.Height : c.Height;
  Load(width, height);
  EXPECT_EQ(Horz().IsScrollBarVisible(), c.Horizontal);
  EXPECT_EQ(Vert().IsScrollBarVisible(), c.Vertical);
  const int clientWidth = W - (c.Vertical ? bar : 0);
  const int clientHeight = H - (c.Horizontal ? bar : 0);
  EXPECT_EQ(Horz().MaxPosition(), std::max(0, width - clientWidth));
  EXPECT_EQ(Vert().MaxPosition(), std::max(0, height - clientHeight));
  EXPECT_EQ(box->Client()->size(), QSize(clientWidth, clientHeight));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ScrollBoxBarsTest,
    ::testing::Values(
        BarCase{100, false, 60, false, false, false}, BarCase{W, false, H, false, false, false},
        // as wide as the client area and taller: the vertical bar narrows it
        BarCase{W, false, H + 1, false, true, true},
        // wider only, as long as the height above the bar still holds it
        BarCase{W + 1, false, 100, false, true, false}, BarCase{W + 1, false, 0, true, true, false},
        BarCase{W + 1, false, 1, true, true, true},
        // taller only, as long as the width beside the bar still holds it
        BarCase{100, false, H + 1, false, false, true}, BarCase{0, true, H + 1, false, false, true},
        BarCase{1, true, H + 1, false, true, true}, BarCase{640, false, 480, false, true, true}));

TEST_F(ScrollBoxTest, ScrolledFarRightThenANarrowerPictureDropsToTheNewMaximum) {
  Load(500, 100);
  Horz().SetPosition(100000);
  EXPECT_EQ(Horz().Position(), 300);
  EXPECT_EQ(image->x(), -300);
  Load(250, 100);
  EXPECT_EQ(Horz().Position(), 50);
  EXPECT_EQ(image->x(), -50) << "the picture's left edge stays at content position 0";
  Load(150, 100);
  EXPECT_EQ(Horz().Position(), 0);
  EXPECT_EQ(image->x(), 0);
  EXPECT_FALSE(Horz().IsScrollBarVisible());
}

TEST_F(ScrollBoxTest, ScrolledPictureShowsTheRightPixelsEverywhere) {
  Load(600, 500);
  Horz().SetPosition(37);
  Vert().SetPosition(21);
  Horz().SetPosition(45);
  const QImage shot = host->grab().toImage();
  const QPoint origin = box->Client()->mapTo(host.get(), QPoint(0, 0));
  for (int y = 0; y < H - bar; y += 3) {
    for (int x = 0; x < W - bar; x += 3) {
      ASSERT_EQ(shot.pixel(origin + QPoint(x, y)) | 0xFF000000u, Pattern(x + 45, y + 21))
          << x << "," << y;
    }
  }
}

TEST_F(ScrollBoxTest, BarActionsStepByIncrementAndPageByTheClientLength) {
  Load(600, 500);
  QScrollBar& scroll = Horz().Bar();
  const int clientWidth = W - bar;
  scroll.triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(Horz().Position(), 8);
  EXPECT_EQ(image->x(), -8);
  scroll.triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(Horz().Position(), 8 + clientWidth);
  scroll.triggerAction(QAbstractSlider::SliderPageStepSub);
  EXPECT_EQ(Horz().Position(), 8);
  scroll.triggerAction(QAbstractSlider::SliderSingleStepSub);
  scroll.triggerAction(QAbstractSlider::SliderSingleStepSub);
  EXPECT_EQ(Horz().Position(), 0);
  scroll.triggerAction(QAbstractSlider::SliderToMaximum);
  EXPECT_EQ(Horz().Position(), 600 - clientWidth);
  scroll.triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(Horz().Position(), 600 - clientWidth);
  scroll.triggerAction(QAbstractSlider::SliderToMinimum);
  EXPECT_EQ(Horz().Position(), 0);
  EXPECT_EQ(scroll.value(), 0);
}

TEST_F(ScrollBoxTest, DraggingTheThumbScrollsOnlyWhenItIsReleased) {
  Load(600, 500);
  QScrollBar& scroll = Vert().Bar();
  scroll.setSliderDown(true);
  scroll.setSliderPosition(50);
  EXPECT_EQ(Vert().Position(), 0);
  EXPECT_EQ(image->y(), 0);
  scroll.setSliderDown(false);
  EXPECT_EQ(Vert().Position(), 50);
  EXPECT_EQ(image->y(), -50);
}

TEST_F(ScrollBoxTest, ThumbShowsTheVisibleShare) {
  Load(600, 100);
  EXPECT_EQ(Horz().Bar().maximum(), 400);
  EXPECT_EQ(Horz().Bar().pageStep(), W + 1);
}

TEST_F(ScrollBoxTest, RangesFollowChildrenShownHiddenMovedAndResized) {
  Load(100, 60);
  QWidget panel(box->Client());
  panel.setGeometry(50, 0, 300, 80);
  EXPECT_EQ(Horz().Range(), 100) << "a hidden child never counts";
  panel.show();
  EXPECT_EQ(Horz().Range(), 350);
  EXPECT_TRUE(Horz().IsScrollBarVisible());
  panel.move(60, 10);
  EXPECT_EQ(Horz().Range(), 360);
  EXPECT_EQ(Vert().Range(), 90);
  panel.resize(20, 20);
  EXPECT_EQ(Horz().Range(), 100);
  EXPECT_FALSE(Horz().IsScrollBarVisible());
  panel.resize(400, 20);
  Horz().SetPosition(100);
  image->hide();
  EXPECT_EQ(Horz().Range(), 460) << "content position, not client position";
  panel.hide();
  EXPECT_EQ(Horz().Range(), 0);
  EXPECT_EQ(Horz().Position(), 0);
  EXPECT_EQ(panel.x(), 60) << "hidden children move back with the content";
  EXPECT_EQ(image->x(), 0);
}

TEST_F(ScrollBoxTest, ResizingTheBoxSettlesTheBarsAgain) {
  Load(300, 100);
  EXPECT_TRUE(Horz().IsScrollBarVisible());
  Horz().SetPosition(100);
  box->resize(354, 154);
  EXPECT_FALSE(Horz().IsScrollBarVisible());
  EXPECT_EQ(Horz().Position(), 0);
  EXPECT_EQ(image->x(), 0);
}

TEST_F(ScrollBoxTest, ChildAtANegativePositionIsCutOffButCounted) {
  QWidget wide(box->Client());
  wide.setGeometry(-50, 0, 400, 20);
  wide.show();
  EXPECT_EQ(Horz().Range(), 350);
  Horz().SetPosition(-10);
  EXPECT_EQ(Horz().Position(), 0);
}

TEST_F(ScrollBoxTest, InvisibleBarNeverShowsAndCannotScroll) {
  Horz().SetVisible(false);
  Load(600, 100);
  EXPECT_FALSE(Horz().IsScrollBarVisible());
  EXPECT_EQ(Horz().MaxPosition(), 0);
  Horz().SetPosition(50);
  EXPECT_EQ(Horz().Position(), 0);
}

TEST_F(ScrollBoxTest, MarginIsAddedToTheRange) {
  Load(100, 60);
  Horz().SetMargin(20);
  EXPECT_EQ(Horz().Range(), 120);
}

TEST_F(ScrollBoxTest, EmptyPictureAfterALargeOneKeepsSizeRangeAndShowsTheBackground) {
  Load(640, 480);
  TBitmap empty;
  image->Picture().Assign(&empty);
  EXPECT_EQ(image->size(), QSize(640, 480));
  EXPECT_EQ(Horz().Range(), 640);
  EXPECT_EQ(Vert().Range(), 480);
  EXPECT_EQ(PixelOf(box->Client(), QPoint(10, 10)), Rgb(clBackground));
}

// ---- pointer ----

struct ReleaseCase {
  QPoint Scroll;
  Qt::MouseButton Button;
  TMouseButton Expected;
};

class ScrollBoxReleaseTest : public ScrollBoxTest,
                             public ::testing::WithParamInterface<ReleaseCase> {};

TEST_P(ScrollBoxReleaseTest, ReleaseReportsThePicturePixelUnderThePointer) {
  Load(600, 500);
  Horz().SetPosition(GetParam().Scroll.x());
  Vert().SetPosition(GetParam().Scroll.y());
  Click(image, QPoint(37, 12), GetParam().Button);
  ASSERT_EQ(ups.size(), 1u);
  EXPECT_EQ(ups[0].Button, GetParam().Expected);
  EXPECT_EQ(ups[0].X, 37);
  EXPECT_EQ(ups[0].Y, 12);
}

INSTANTIATE_TEST_SUITE_P(
    AnyScrollPosition, ScrollBoxReleaseTest,
    ::testing::Values(ReleaseCase{{0, 0}, Qt::LeftButton, TMouseButton::mbLeft},
                      ReleaseCase{{16, 8}, Qt::LeftButton, TMouseButton::mbLeft},
                      ReleaseCase{{37, 12}, Qt::LeftButton, TMouseButton::mbLeft},
                      ReleaseCase{{20, 3}, Qt::RightButton, TMouseButton::mbRight},
                      ReleaseCase{{0, 0}, Qt::MiddleButton, TMouseButton::mbMiddle}));

TEST_F(ScrollBoxTest, LeftDragToTheLeftOfTheBoxReportsANegativeX) {
  Load(600, 500);
  Horz().SetPosition(30);
  Press(image, QPoint(40, 12));
  const QPoint outside = image->mapFrom(host.get(), QPoint(10, 60));
  MoveTo(image, outside);
  Release(image, outside);
  ASSERT_EQ(ups.size(), 1u);
  EXPECT_LT(ups[0].X, 0);
  EXPECT_EQ(ups[0].X, outside.x());
  EXPECT_EQ(ups[0].Y, outside.y());
}

TEST_F(ScrollBoxTest, ShiftStateTellsKeysAndButtonsStillHeld) {
  Load(100, 60);
  QTest::mousePress(WindowOf(image), Qt::LeftButton, {}, InWindow(image, QPoint(5, 5)));
  QTest::mousePress(WindowOf(image), Qt::RightButton, {}, InWindow(image, QPoint(5, 5)));
  QTest::mouseRelease(WindowOf(image), Qt::LeftButton, Qt::ShiftModifier,
                      InWindow(image, QPoint(5, 5)));
  ASSERT_EQ(ups.size(), 1u);
  EXPECT_TRUE(ups[0].Shift.Contains(TShiftFlag::ssShift));
  EXPECT_TRUE(ups[0].Shift.Contains(TShiftFlag::ssRight));
  EXPECT_FALSE(ups[0].Shift.Contains(TShiftFlag::ssLeft));
  EXPECT_FALSE(ups[0].Shift.Contains(TShiftFlag::ssCtrl));
  QTest::mouseRelease(WindowOf(image), Qt::RightButton, {}, InWindow(image, QPoint(5, 5)));
}

TEST_F(ScrollBoxTest, ReleaseOfAPressThatCapturedNothingGoesToTheImageUnderThePointer) {
  Load(100, 60);
  // Pressed over the picture, released over the background: no image is under the pointer.
  Press(image, QPoint(50, 30), Qt::RightButton);
  MoveTo(image, QPoint(150, 100));
  Release(image, QPoint(150, 100), Qt::RightButton);
  EXPECT_TRUE(ups.empty());
  // Pressed over the background, released over the picture, whichever button.
  for (Qt::MouseButton button : {Qt::MiddleButton, Qt::LeftButton}) {
    Press(image, QPoint(150, 100), button);
    MoveTo(image, QPoint(20, 10));
    Release(image, QPoint(20, 10), button);
  }
  ASSERT_EQ(ups.size(), 2u);
  EXPECT_EQ(ups[0].Button, TMouseButton::mbMiddle);
  EXPECT_EQ(ups[1].Button, TMouseButton::mbLeft);
  EXPECT_EQ(ups[1].X, 20);
  EXPECT_EQ(ups[1].Y, 10);
}

TEST_F(ScrollBoxTest, ARightOrMiddleReleaseGoesToTheImageUnderThePointerWhoeverTookThePress) {
  Load(100, 60);
  auto* button = new TSpeedButton(host.get());  // a tool button outside the box
  button->setGeometry(260, 180, 23, 22);
  auto* other = new QPushButton(QStringLiteral("x"), host.get());
  other->setGeometry(260, 210, 40, 20);
  button->show();
  other->show();
  int clicks = 0;
  button->OnClick = [&](TSpeedButton&) { ++clicks; };
  const std::vector<std::pair<QWidget*, Qt::MouseButton>> presses = {
      {button, Qt::RightButton},
      {button, Qt::MiddleButton},
      {other, Qt::RightButton},
      {other, Qt::MiddleButton},
      {&Horz().Bar(), Qt::MiddleButton}};
  int x = 30;
  for (const auto& [pressed, mouseButton] : presses) {
    Press(pressed, QPoint(5, 5), mouseButton);
    MoveTo(image, QPoint(x, 12));
    Release(image, QPoint(x, 12), mouseButton);
    ++x;
  }
  ASSERT_EQ(ups.size(), presses.size());
  for (std::size_t i = 0; i < ups.size(); ++i) {
    EXPECT_EQ(ups[i].Button, presses[i].second == Qt::RightButton ? TMouseButton::mbRight
                                                                  : TMouseButton::mbMiddle);
    EXPECT_EQ(ups[i].X, 30 + static_cast<int>(i));
    EXPECT_EQ(ups[i].Y, 12);
  }
  EXPECT_EQ(clicks, 0);

  // Pressed and released over the image: one release, not two.
  Click(image, QPoint(7, 8), Qt::RightButton);
  ASSERT_EQ(ups.size(), presses.size() + 1);
  EXPECT_EQ(ups.back().X, 7);
}

TEST_F(ScrollBoxTest, AnImageInAWindowThatAModalWindowBlocksTakesNoRelease) {
  Load(100, 60);
  QWidget modal;
  modal.setWindowModality(Qt::ApplicationModal);
  modal.setGeometry(host->geometry().right() + 40, host->geometry().top(), 100, 80);
  ShowAndWait(&modal);
  const QPoint overImage = modal.mapFromGlobal(image->mapToGlobal(QPoint(20, 10)));
  ASSERT_FALSE(modal.rect().contains(overImage));
  QTest::mousePress(modal.windowHandle(), Qt::RightButton, {}, QPoint(5, 5));
  QCursor::setPos(image->mapToGlobal(QPoint(20, 10)));
  QTest::mouseRelease(modal.windowHandle(), Qt::RightButton, {}, overImage);
  EXPECT_TRUE(ups.empty());
}

TEST_F(ScrollBoxTest, HiddenImageReceivesNothing) {
  Load(100, 60);
  image->hide();
  Click(box->Client(), QPoint(20, 10));
  Click(box->Client(), QPoint(20, 10), Qt::RightButton);
  EXPECT_TRUE(ups.empty());
}

}  // namespace
}  // namespace penamo
