#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include "FrameSpeedButton.h"
#include "ImageTestSupport.h"

namespace penamo {
namespace {

using namespace penamo::testing;

const QRgb Blue = qRgb(0, 0, 255);
const QRgb Purple = qRgb(128, 0, 128);

// A 16 x 16 glyph: purple (transparent) with one blue pixel at its top-left corner, so the
// glyph's place shows as the blue pixel.
std::unique_ptr<TBitmap> MarkerGlyph() {
  return MakeBitmap(16, 16, [](int x, int y) { return x == 0 && y == 0 ? Blue : Purple; });
}

class SpeedButtonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host = MakeHost(120, 60);
    button = new TFrameSpeedButton(host.get());
    button->move(30, 20);
    button->SetFlat(true);
    button->OnClick = [this](TSpeedButton& sender) {
      ++clicks;
      downAtClick = sender.Down();
    };
    ShowAndWait(host.get());
    // Start with the pointer away from every button.
    MoveTo(host.get(), QPoint(2, 2));
  }

  std::unique_ptr<QWidget> host;
  TFrameSpeedButton* button = nullptr;
  int clicks = 0;
  bool downAtClick = false;
};

TEST_F(SpeedButtonTest, NewButtonIs23By22AndNeverTakesTheFocus) {
  EXPECT_EQ(button->size(), QSize(23, 22));
  EXPECT_EQ(button->focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(button->Face(), TButtonFace::bfUp);
}

struct ReleasePoint {
  QPoint Point;
  bool Clicks;
};

class SpeedButtonReleaseTest : public SpeedButtonTest,
                               public ::testing::WithParamInterface<ReleasePoint> {};

TEST_P(SpeedButtonReleaseTest, ClickFiresOnlyWhenReleasedInside) {
  Press(button, QPoint(10, 10));
  EXPECT_EQ(button->Face(), TButtonFace::bfPressed);
  MoveTo(button, GetParam().Point);
  Release(button, GetParam().Point);
  EXPECT_EQ(clicks, GetParam().Clicks ? 1 : 0);
  EXPECT_EQ(button->Face(), TButtonFace::bfUp);
  EXPECT_FALSE(button->Pressing());
}

// The last column and row count as inside; x = Width and y = Height are outside.
INSTANTIATE_TEST_SUITE_P(
    Edges, SpeedButtonReleaseTest,
    ::testing::Values(ReleasePoint{{10, 10}, true}, ReleasePoint{{22, 10}, true},
                      ReleasePoint{{10, 21}, true}, ReleasePoint{{0, 0}, true},
                      ReleasePoint{{23, 10}, false}, ReleasePoint{{10, 22}, false},
                      ReleasePoint{{-1, 10}, false}, ReleasePoint{{10, -1}, false}));

TEST_F(SpeedButtonTest, DraggingOffKeepsTheHoveredLookAndReleasingThereReturnsToTheFrame) {
  MoveTo(button, QPoint(10, 10));
  EXPECT_TRUE(button->MouseInside());
  Press(button, QPoint(10, 10));
  MoveTo(button, QPoint(40, 10));
  // Still captured: the face follows the pointer and the hover stays.
  EXPECT_EQ(button->Face(), TButtonFace::bfUp);
  EXPECT_TRUE(button->MouseInside());
  EXPECT_EQ(PixelOf(button, QPoint(0, 0)), Rgb(clBtnHighlight));
  EXPECT_EQ(PixelOf(button, QPoint(22, 21)), Rgb(clBtnShadow));
  MoveTo(button, QPoint(10, 10));
  EXPECT_EQ(button->Face(), TButtonFace::bfPressed);
  MoveTo(button, QPoint(40, 10));
  Release(button, QPoint(40, 10));
  EXPECT_EQ(clicks, 0);
  EXPECT_FALSE(button->MouseInside());
  EXPECT_EQ(PixelOf(button, QPoint(0, 0)), Rgb(clBtnShadow));
  EXPECT_EQ(PixelOf(button, QPoint(11, 0)), Rgb(clBtnShadow));
}

TEST_F(SpeedButtonTest, RightAndMiddleClicksChangeNothing) {
  Click(button, QPoint(10, 10), Qt::RightButton);
  Click(button, QPoint(10, 10), Qt::MiddleButton);
  EXPECT_EQ(clicks, 0);
  EXPECT_EQ(button->Face(), TButtonFace::bfUp);
  EXPECT_FALSE(button->Pressing());
}

TEST_F(SpeedButtonTest, DoubleClickOnAnIndependentButtonClicksTwice) {
  int doubleClicks = 0;
  button->OnDblClick = [&](TSpeedButton&) { ++doubleClicks; };
  DoubleClick(button, QPoint(10, 10));
  EXPECT_EQ(clicks, 2);
  // Only a button that is down reports the double click itself.
  EXPECT_EQ(doubleClicks, 0);
}

TEST_F(SpeedButtonTest, DownOnAnIndependentButtonIsIgnored) {
  button->SetDown(true);
  EXPECT_FALSE(button->Down());
  EXPECT_EQ(button->Face(), TButtonFace::bfUp);
}

TEST_F(SpeedButtonTest, ClickHandlerFindsTheButtonIdleAndNotHovered) {
  bool hoveredInHandler = true;
  TButtonFace faceInHandler = TButtonFace::bfPressed;
  button->OnClick = [&](TSpeedButton& sender) {
    hoveredInHandler = sender.MouseInside();
    faceInHandler = sender.Face();
  };
  MoveTo(button, QPoint(10, 10));
  Click(button, QPoint(10, 10));
  EXPECT_FALSE(hoveredInHandler);
  EXPECT_EQ(faceInHandler, TButtonFace::bfUp);
  // Worked out again once the handler has returned: the pointer is still over it.
  EXPECT_TRUE(button->MouseInside());
}

TEST_F(SpeedButtonTest, HoverFollowsThePointer) {
  MoveTo(button, QPoint(5, 5));
  EXPECT_TRUE(button->MouseInside());
  MoveTo(host.get(), QPoint(2, 2));
  EXPECT_FALSE(button->MouseInside());
  button->SetFlat(false);
  MoveTo(button, QPoint(5, 5));
  EXPECT_FALSE(button->MouseInside()) << "only flat buttons track the hover";
}

// ---- groups ----

class SpeedButtonGroupTest : public SpeedButtonTest {
 protected:
  void SetUp() override {
    SpeedButtonTest::SetUp();
    other = new TFrameSpeedButton(host.get());
    other->move(60, 20);
    other->SetFlat(true);
    other->SetGroupIndex(1);
    other->SetDown(true);
    button->SetGroupIndex(1);
    other->show();
  }
  TFrameSpeedButton* other = nullptr;
};

TEST_F(SpeedButtonGroupTest, ClickingTheUpMemberPutsItDownAndRaisesTheOther) {
  ASSERT_TRUE(other->Down());
  Click(button, QPoint(10, 10));
  EXPECT_TRUE(button->Down());
  EXPECT_FALSE(other->Down());
  EXPECT_EQ(other->Face(), TButtonFace::bfUp);
  EXPECT_EQ(clicks, 1);
  EXPECT_TRUE(downAtClick);
}

TEST_F(SpeedButtonGroupTest, ClickingTheDownMemberLeavesItDownAndClicksAgain) {
  Click(button, QPoint(10, 10));
  Click(button, QPoint(10, 10));
  EXPECT_TRUE(button->Down());
  EXPECT_FALSE(other->Down());
  EXPECT_EQ(clicks, 2);
  EXPECT_TRUE(downAtClick);
}

TEST_F(SpeedButtonGroupTest, ReleaseOutsideLeavesTheGroupAsItWas) {
  Press(button, QPoint(10, 10));
  MoveTo(button, QPoint(23, 10));
  Release(button, QPoint(23, 10));
  EXPECT_FALSE(button->Down());
  EXPECT_TRUE(other->Down());
  EXPECT_EQ(clicks, 0);
}

TEST_F(SpeedButtonGroupTest, TheDownMemberComesUpDirectlyOnlyWithAllowAllUp) {
  other->SetDown(false);
  EXPECT_TRUE(other->Down());
  // The setting is shared by the whole group.
  other->SetAllowAllUp(true);
  EXPECT_TRUE(button->AllowAllUp());
  other->SetDown(false);
  EXPECT_FALSE(other->Down());
  EXPECT_EQ(other->Face(), TButtonFace::bfUp);
}

TEST_F(SpeedButtonGroupTest, DoubleClickOnTheDownMemberReportsTheDoubleClick) {
  int doubleClicks = 0;
  other->OnDblClick = [&](TSpeedButton&) { ++doubleClicks; };
  DoubleClick(other, QPoint(10, 10));
  EXPECT_EQ(doubleClicks, 1);
  EXPECT_TRUE(other->Down());
}

TEST_F(SpeedButtonGroupTest, ButtonsOfAnotherParentOrGroupAreNotAffected) {
  QWidget elsewhere(host.get());
  TSpeedButton stranger(&elsewhere);
  stranger.SetGroupIndex(1);
  stranger.SetDown(true);
  TSpeedButton otherGroup(host.get());
  otherGroup.SetGroupIndex(2);
  otherGroup.SetDown(true);
  Click(button, QPoint(10, 10));
  EXPECT_TRUE(stranger.Down());
  EXPECT_TRUE(otherGroup.Down());
  EXPECT_FALSE(other->Down());
}

// ---- looks ----

class SpeedButtonLooksTest : public SpeedButtonTest {
 protected:
  void SetUp() override {
    SpeedButtonTest::SetUp();
    button->SetGlyph(MarkerGlyph().get());
  }
  QRgb At(int x, int y) { return PixelOf(button, QPoint(x, y)); }
  // Every pixel of the outermost ring, split into the top-left and bottom-right halves as a
  // 3-D edge paints them.
  void ExpectRing(QRgb topLeft, QRgb bottomRight) {
    for (int x = 0; x < 22; ++x)
      EXPECT_EQ(At(x, 0), topLeft) << "top " << x;
    for (int y = 0; y < 21; ++y)
      EXPECT_EQ(At(0, y), topLeft) << "left " << y;
    for (int x = 0; x < 23; ++x)
      EXPECT_EQ(At(x, 21), bottomRight) << "bottom " << x;
    for (int y = 0; y < 22; ++y)
      EXPECT_EQ(At(22, y), bottomRight) << "right " << y;
  }
};

TEST_F(SpeedButtonLooksTest, IdleFlatButtonShowsTheShadowFrameAndTheGlyphAt4And3) {
  ExpectRing(Rgb(clBtnShadow), Rgb(clBtnShadow));
  EXPECT_EQ(At(4, 3), Blue);
  EXPECT_EQ(At(5, 4), HostColour) << "the glyph's transparent pixels show the parent";
  EXPECT_EQ(At(1, 1), HostColour);
}

TEST_F(SpeedButtonLooksTest, PlainSpeedButtonDrawsNothingButItsGlyphWhileIdle) {
  TSpeedButton plain(host.get());
  plain.move(60, 20);
  plain.SetFlat(true);
  plain.SetGlyph(MarkerGlyph().get());
  plain.show();
  EXPECT_EQ(PixelOf(&plain, QPoint(0, 0)), HostColour);
  EXPECT_EQ(PixelOf(&plain, QPoint(22, 21)), HostColour);
  EXPECT_EQ(PixelOf(&plain, QPoint(4, 3)), Blue);
}

TEST_F(SpeedButtonLooksTest, HoveredButtonShowsTheRaisedEdge) {
  MoveTo(button, QPoint(10, 10));
  ExpectRing(Rgb(clBtnHighlight), Rgb(clBtnShadow));
  EXPECT_EQ(At(4, 3), Blue);
  EXPECT_EQ(At(1, 1), HostColour);
}

TEST_F(SpeedButtonLooksTest, PressedButtonShowsTheSunkenEdgeAndMovesTheGlyph) {
  MoveTo(button, QPoint(10, 10));
  Press(button, QPoint(10, 10));
  ExpectRing(Rgb(clBtnShadow), Rgb(clBtnHighlight));
  EXPECT_EQ(At(5, 4), Blue);
  EXPECT_EQ(At(4, 3), HostColour);
  Release(button, QPoint(10, 10));
}

TEST_F(SpeedButtonLooksTest, DownButtonShowsTheCheckerboardUnlessHovered) {
  button->SetGroupIndex(1);
  button->SetDown(true);
  ExpectRing(Rgb(clBtnShadow), Rgb(clBtnHighlight));
  EXPECT_EQ(At(5, 4), Blue);
  // Inside the ring, neighbouring pixels alternate between the two colours.
  const QRgb first = At(1, 1);
  const QRgb second = At(2, 1);
  EXPECT_NE(first, second);
  EXPECT_TRUE((first == Rgb(clBtnHighlight) && second == Rgb(clBtnFace)) ||
              (first == Rgb(clBtnFace) && second == Rgb(clBtnHighlight)));
  EXPECT_EQ(At(1, 2), second);
  EXPECT_EQ(At(2, 2), first);
  EXPECT_EQ(At(21, 20), (21 + 20) % 2 == (1 + 1) % 2 ? first : second);

  MoveTo(button, QPoint(10, 10));
  ExpectRing(Rgb(clBtnShadow), Rgb(clBtnHighlight));
  EXPECT_EQ(At(1, 1), HostColour);
  EXPECT_EQ(At(5, 4), Blue);
}

TEST_F(SpeedButtonLooksTest, OpaqueButtonFillsItsFaceWithItsColour) {
  button->SetTransparent(false);
  button->SetColor(RGBColor(200, 0, 0));
  // The fill of the whole rectangle covers the idle frame.
  EXPECT_EQ(At(0, 0), qRgb(200, 0, 0));
  EXPECT_EQ(At(5, 4), Rgb(clBtnFace)) << "masked glyph pixels take the face colour";
  EXPECT_EQ(At(4, 3), Blue);
}

TEST_F(SpeedButtonLooksTest, ButtonWithoutGlyphPaintsOnlyItsFrame) {
  button->SetGlyph(nullptr);
  ExpectRing(Rgb(clBtnShadow), Rgb(clBtnShadow));
  EXPECT_EQ(At(4, 3), HostColour);
}

// ---- glyph strips ----

TEST(ButtonGlyphTest, NumGlyphsFollowsTheStripsWidthInHeights) {
  TButtonGlyph glyph;
  glyph.SetGlyph(SolidBitmap(32, 16, Purple).get());
  EXPECT_EQ(glyph.NumGlyphs(), 2);
  glyph.SetGlyph(SolidBitmap(48, 16, Purple).get());
  EXPECT_EQ(glyph.NumGlyphs(), 3);
  glyph.SetGlyph(SolidBitmap(80, 16, Purple).get());
  EXPECT_EQ(glyph.NumGlyphs(), 1) << "five cells are more than a button has faces";
  glyph.SetGlyph(SolidBitmap(40, 16, Purple).get());
  EXPECT_EQ(glyph.NumGlyphs(), 1) << "not a multiple: unchanged";
  glyph.SetNumGlyphs(7);
  EXPECT_EQ(glyph.NumGlyphs(), 4);
  glyph.SetNumGlyphs(0);
  EXPECT_EQ(glyph.NumGlyphs(), 4);
}

TEST(ButtonGlyphTest, StripWithoutWidthKeepsACellCountAndDrawsNothing) {
  TButtonGlyph glyph;
  TBitmap strip;
  strip.SetImageFormat(TPixelFormat::pf24bit);
  strip.SetHeight(16);
  glyph.SetGlyph(&strip);
  EXPECT_EQ(glyph.NumGlyphs(), 1);
  EXPECT_EQ(glyph.FaceImage(TButtonFace::bfUp), -1);
}

TEST(ButtonGlyphTest, TransparentColourIsTheBottomLeftPixel) {
  TButtonGlyph glyph;
  EXPECT_EQ(glyph.TransparentColor(), clOlive);
  glyph.SetGlyph(MakeBitmap(16, 16, [](int x, int y) {
                   return x == 0 && y == 15 ? qRgb(1, 2, 3) : Purple;
                 }).get());
  EXPECT_EQ(glyph.TransparentColor(), RGBColor(1, 2, 3));
}

TEST(ButtonGlyphTest, StripIsTheButtonsOwnCopy) {
  auto strip = MarkerGlyph();
  TButtonGlyph glyph;
  glyph.SetGlyph(strip.get());
  strip->RowAddress(0)[0] = 7;
  EXPECT_EQ(glyph.Glyph().ConstRowAddress(0)[0], 255);
}

TEST(ButtonGlyphTest, UpDownAndPressedFacesShowTheLeftCellMasked) {
  TButtonGlyph glyph;
  glyph.SetGlyph(MakeBitmap(32, 16, [](int x, int y) {
                   if (x == 3 && y == 4) return Blue;
                   if (x == 19 && y == 4) return qRgb(255, 0, 0);
                   return Purple;
                 }).get());
  for (TButtonFace face : {TButtonFace::bfUp, TButtonFace::bfPressed, TButtonFace::bfLatched}) {
    const QImage* image = glyph.FaceImageData(face);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->size(), QSize(16, 16));
    EXPECT_EQ(image->pixel(3, 4), Blue | 0xFF000000u);
    EXPECT_EQ(qAlpha(image->pixel(0, 0)), 0);
  }
  // With fewer than three cells the pressed face shares the up image.
  EXPECT_EQ(glyph.FaceImage(TButtonFace::bfPressed), glyph.FaceImage(TButtonFace::bfUp));
}

TEST(ButtonGlyphTest, DisabledImageOfATwoCellStripRecoloursTheSecondCell) {
  const QRgb white = qRgb(255, 255, 255);
  const QRgb gray = qRgb(128, 128, 128);
  const QRgb red = qRgb(255, 0, 0);
  TButtonGlyph glyph;
  glyph.SetGlyph(MakeBitmap(32, 16, [&](int x, int y) {
                   if (x < 16) return Blue;
                   if (y == 2 && x == 17) return white;
                   if (y == 2 && x == 18) return gray;
                   if (y == 2 && x == 19) return red;
                   return Purple;
                 }).get());
  const QImage* image = glyph.FaceImageData(TButtonFace::bfDisabled);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->pixel(1, 2), Rgb(clBtnHighlight));
  EXPECT_EQ(image->pixel(2, 2), Rgb(clBtnShadow));
  EXPECT_EQ(image->pixel(3, 2), red | 0xFF000000u);
  // Purple became the face colour, which is then the image's own transparent colour.
  EXPECT_EQ(qAlpha(image->pixel(0, 0)), 0);
  EXPECT_EQ(qAlpha(image->pixel(0, 15)), 0);
}

TEST(ButtonGlyphTest, DisabledImageOfASingleCellIsEmbossedFromItsBlackPixels) {
  TButtonGlyph glyph;
  glyph.SetGlyph(MakeBitmap(16, 16, [](int x, int y) {
                   if (x == 2 && y == 2) return qRgb(0, 0, 0);
                   if (x == 8 && y == 8) return Blue;
                   return Purple;
                 }).get());
  const QImage* image = glyph.FaceImageData(TButtonFace::bfDisabled);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->pixel(2, 2), Rgb(clBtnShadow));
  EXPECT_EQ(image->pixel(3, 3), Rgb(clBtnHighlight));
  EXPECT_EQ(qAlpha(image->pixel(8, 8)), 0) << "only black pixels survive";
  EXPECT_EQ(qAlpha(image->pixel(0, 0)), 0);
}

TEST_F(SpeedButtonTest, DisabledButtonDrawsTheDisabledCellAndNoHover) {
  button->SetGlyph(MakeBitmap(32, 16, [](int x, int y) {
                     if (x == 0 && y == 0) return Blue;
                     if (x == 16 && y == 0) return qRgb(255, 255, 255);
                     return Purple;
                   }).get());
  button->SetEnabled(false);
  EXPECT_EQ(button->Face(), TButtonFace::bfDisabled);
  EXPECT_EQ(PixelOf(button, QPoint(4, 3)), Rgb(clBtnHighlight));
  EXPECT_EQ(PixelOf(button, QPoint(0, 0)), Rgb(clBtnShadow));
  button->SetEnabled(true);
  EXPECT_EQ(button->Face(), TButtonFace::bfUp);
  EXPECT_EQ(PixelOf(button, QPoint(4, 3)), Blue);
}

TEST_F(SpeedButtonTest, DisablingTheWindowDoesNotGreyItsButtons) {
  button->SetGlyph(MarkerGlyph().get());
  host->setEnabled(false);
  EXPECT_TRUE(button->Enabled());
  EXPECT_EQ(PixelOf(button, QPoint(4, 3)), Blue);
  EXPECT_NE(button->Face(), TButtonFace::bfDisabled);
  host->setEnabled(true);
}

// ---- caches ----

TEST(GlyphCacheTest, ButtonsWithCellsOfOneSizeShareOneListUntilTheLastLetsGo) {
  auto strip = MarkerGlyph();
  {
    TButtonGlyph first;
    TButtonGlyph second;
    first.SetGlyph(strip.get());
    second.SetGlyph(strip.get());
    const int before = TGlyphCache::Instance()->ListCount();
    first.FaceImage(TButtonFace::bfUp);
    second.FaceImage(TButtonFace::bfUp);
    second.FaceImage(TButtonFace::bfDisabled);
    EXPECT_EQ(TGlyphCache::Instance()->ListCount(), before + 1);
    TGlyphList& list = TGlyphCache::Instance()->GetList(16, 16);
    EXPECT_EQ(list.Count(), 3);
    first.Invalidate();
    EXPECT_EQ(list.Count(), 2);
    // A freed slot is taken again before the list grows.
    EXPECT_EQ(first.FaceImage(TButtonFace::bfUp), 0);
    first.Invalidate();
    second.Invalidate();
    EXPECT_EQ(TGlyphCache::Instance()->ListCount(), before);
  }
  EXPECT_EQ(TGlyphCache::Instance(), nullptr);
}

TEST(PatternManagerTest, OneTilePerColourPairCheckeredFromTheFirstColour) {
  const QImage tile = TPatternManager::Pattern(RGBColor(1, 1, 1), RGBColor(2, 2, 2));
  const int count = TPatternManager::Count();
  TPatternManager::Pattern(RGBColor(1, 1, 1), RGBColor(2, 2, 2));
  EXPECT_EQ(TPatternManager::Count(), count);
  ASSERT_EQ(tile.size(), QSize(8, 8));
  EXPECT_EQ(tile.pixel(0, 0), qRgb(1, 1, 1));
  EXPECT_EQ(tile.pixel(7, 7), qRgb(1, 1, 1));
  EXPECT_EQ(tile.pixel(1, 0), qRgb(2, 2, 2));
  EXPECT_EQ(tile.pixel(0, 7), qRgb(2, 2, 2));
}

}  // namespace
}  // namespace penamo
