#include "GlyphPlacement.h"

#include <gtest/gtest.h>

namespace penamo {
namespace {

// A 23 x 22 button's client area inside its one-pixel edge, a 16 x 16 glyph.
const QRect kClient(1, 1, 21, 20);
const QSize kGlyph(16, 16);
const QSize kNoText(0, 0);

TEST(GlyphPlacement, AGlyphAloneIsCentredWithTheOddPixelAfterTheMargin) {
  // 21 - 16 leaves 5 pixels across: 3 before the glyph from the left, 3 after it from the right.
  const auto at = [](TButtonLayout layout) {
    return PlaceGlyph(kClient, {}, kGlyph, kNoText, layout, -1, 4).Glyph;
  };
  EXPECT_EQ(at(TButtonLayout::blGlyphLeft), QPoint(1 + 3, 1 + 2));
  EXPECT_EQ(at(TButtonLayout::blGlyphRight), QPoint(1 + 2, 1 + 2));
  EXPECT_EQ(at(TButtonLayout::blGlyphTop), QPoint(1 + 3, 1 + 2));
  EXPECT_EQ(at(TButtonLayout::blGlyphBottom), QPoint(1 + 3, 1 + 2));
}

TEST(GlyphPlacement, ThePressedShiftMovesGlyphAndCaptionAlike) {
  const QSize text(30, 12);
  const TGlyphPlacement up =
      PlaceGlyph(QRect(0, 0, 80, 22), {}, kGlyph, text, TButtonLayout::blGlyphLeft, -1, 4);
  const TGlyphPlacement down = PlaceGlyph(QRect(0, 0, 80, 22), QPoint(1, 1), kGlyph, text,
                                          TButtonLayout::blGlyphLeft, -1, 4);
  EXPECT_EQ(down.Glyph, up.Glyph + QPoint(1, 1));
  EXPECT_EQ(down.Text, up.Text + QPoint(1, 1));
}

TEST(GlyphPlacement, AMarginCountsFromTheEdgeTheLayoutNamesAndSpacingSeparatesTheCaption) {
  const QRect client(0, 0, 80, 40);
  const QSize text(30, 12);
  const TGlyphPlacement left =
      PlaceGlyph(client, {}, kGlyph, text, TButtonLayout::blGlyphLeft, 5, 4);
  EXPECT_EQ(left.Glyph, QPoint(5, 12));
  EXPECT_EQ(left.Text, QPoint(5 + 16 + 4, 14));
  const TGlyphPlacement right =
      PlaceGlyph(client, {}, kGlyph, text, TButtonLayout::blGlyphRight, 5, 4);
  EXPECT_EQ(right.Glyph, QPoint(80 - 5 - 16, 12));
  EXPECT_EQ(right.Text, QPoint(80 - 5 - 16 - 4 - 30, 14));
  const TGlyphPlacement bottom =
      PlaceGlyph(client, {}, kGlyph, text, TButtonLayout::blGlyphBottom, 2, 3);
  EXPECT_EQ(bottom.Glyph, QPoint(32, 40 - 2 - 16));
  EXPECT_EQ(bottom.Text, QPoint(25, 40 - 2 - 16 - 3 - 12));
}

TEST(GlyphPlacement, WithoutACaptionThereIsNoSpacing) {
  const QRect client(0, 0, 40, 22);
  const TGlyphPlacement place =
      PlaceGlyph(client, {}, kGlyph, kNoText, TButtonLayout::blGlyphTop, -1, 10);
  EXPECT_EQ(place.Glyph, QPoint(12, 3)) << "centred as if the spacing were 0";
}

}  // namespace
}  // namespace penamo
